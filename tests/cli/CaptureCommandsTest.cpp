// fennik-cli info, streams and csv run as a user would, on committed captures
// (tests/data/captures, see its README for how each was made).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/TestSupport.h"

namespace {

using fennik::test::Cli;
using fennik::test::CommandRun;

std::string Data(const std::string& name) { return fennik::test::TestData(name); }

size_t CountLines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(CaptureCommands, InfoDescribesTheCapture) {
  CommandRun r = Cli("info " + Data("sample.pcap"));
  EXPECT_EQ(r.status, 0);
  fennik::test::ExpectContains(r.out, {"Format: pcap\n", "Packets: 310\n", "RTP packets: 300\n", "Streams: 2\n",
      "Walk: complete\n"});

  CommandRun cut = Cli("info " + Data("captures/g711u-sip-udp-truncated.pcap"));
  EXPECT_EQ(cut.status, 0);
  fennik::test::ExpectContains(cut.out, {"RTP packets: 149\n", "truncated record"});
}

TEST(CaptureCommands, StreamsAsJson) {
  CommandRun r = Cli("streams " + Data("captures/l16-sip-tcp.pcapng") + " --json");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.front(), '[');
  EXPECT_NE(r.out.find("\"id\": 1, \"src\": \"127.0.1.10:22000\", \"dst\": \"127.0.1.20:32000\", "
                       "\"payload_type\": 96, \"encoding\": \"L16\", \"codec_type\": 94"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"packets\": 100, \"sequence_errors\": 0, \"duplicates\": 0, "
                       "\"other_payload_packets\": 0, \"frames\": "),
            std::string::npos);
}

TEST(CaptureCommands, CsvDefaultsToEveryRowAndFileEqualsStdout) {
  CommandRun all = Cli("csv " + Data("sample.pcap"));
  ASSERT_EQ(all.status, 0);
  EXPECT_EQ(CountLines(all.out), 301u);  // header + 300 RTP packets
  EXPECT_EQ(Cli("csv " + Data("sample.pcap") + " --start 0 --end 299").out, all.out);

  const fennik::test::TempPath file("report.csv");
  ASSERT_EQ(Cli("csv " + Data("sample.pcap") + " --stream 2 -o " + file.Path()).status, 0);
  CommandRun stream = Cli("csv " + Data("sample.pcap") + " --stream 2");
  EXPECT_EQ(fennik::test::ReadFileText(file.Path()), stream.out);
  EXPECT_EQ(CountLines(stream.out), 151u);

  CommandRun ja = Cli("csv " + Data("sample.pcap") + " --lang ja --end 1");
  EXPECT_NE(ja.out.find("Payload,\x83\x47\x83\x89\x81\x5B\x93\xE0\x97\x65\n"), std::string::npos);
}

TEST(CaptureCommands, SdpFileGivesStreamsWithoutSdpTheirCodec) {
  const std::string capture = Data("captures/g711a-g722-nosdp-nsec.pcap");
  CommandRun before = Cli("streams " + capture + " --json");
  ASSERT_EQ(before.status, 0);
  fennik::test::ExpectContains(before.out, {"\"payload_type\": 98, \"encoding\": \"\", \"codec_type\": 0"});
  const fennik::test::TempPath sdp("user.sdp");
  fennik::test::WriteFile(sdp.Path(), "v=0\r\nm=audio 9 RTP/AVP 98\r\na=rtpmap:98 PCMU/8000\r\n");
  CommandRun after = Cli("streams " + capture + " --json --sdp " + sdp.Path());
  ASSERT_EQ(after.status, 0);
  fennik::test::ExpectContains(after.out, {"\"payload_type\": 98, \"encoding\": \"PCMU\", \"codec_type\": 106"});
}

// Which codec each medium's payload types give is compared with tshark in
// tests/capture/CorpusTest.cpp; here the stream table's media kind and SDP clock rate.
TEST(CaptureCommands, StreamsTakeTheKindAndClockRateOfTheirSdpFormat) {
  // SIPp's three audio media lines in one offer (tests/data/captures/README.md).
  CommandRun multi = Cli("streams " + Data("captures/multi-audio-sipp-udp.pcap") + " --json");
  ASSERT_EQ(multi.status, 0) << multi.err;
  fennik::test::ExpectContains(multi.out, {"\"payload_type\": 98, \"encoding\": \"L16\", \"codec_type\": 94, "
                                           "\"media_kind\": 1, \"clock_rate\": 16000"});
}

TEST(CaptureCommands, RtpmapShorthandGivesStreamsWithoutSdpTheirCodec) {
  // PT 98 is ffmpeg's pcm_mulaw sent without SDP; the file's other streams are static.
  const std::string capture = Data("captures/g711a-g722-nosdp-nsec.pcap");
  CommandRun one = Cli("streams " + capture + " --json --rtpmap 98=pcmu/8000");
  ASSERT_EQ(one.status, 0) << one.err;
  fennik::test::ExpectContains(one.out, {"\"payload_type\": 98, \"encoding\": \"PCMU\", \"codec_type\": 106"});
  // Repeatable, and a later mapping of a payload type wins over the SDP file's.
  const fennik::test::TempPath sdp("rtpmap.sdp");
  fennik::test::WriteFile(sdp.Path(), "v=0\r\nm=audio 9 RTP/AVP 98\r\na=rtpmap:98 G722/8000");
  CommandRun both = Cli("streams " + capture + " --json --sdp " + sdp.Path() + " --rtpmap 96=H264/90000 --rtpmap 98=PCMA/8000");
  ASSERT_EQ(both.status, 0) << both.err;
  fennik::test::ExpectContains(both.out, {"\"payload_type\": 98, \"encoding\": \"PCMA\", \"codec_type\": 105"});
  CommandRun frames = Cli("frames " + capture + " --stream 1 --rtpmap 98=PCMU/8000");
  EXPECT_EQ(frames.status, 0) << frames.err;
  EXPECT_GE(std::count(frames.out.begin(), frames.out.end(), '\n'), 100);

  // An encoding name no row knows is accepted with a warning; a malformed value is a usage error.
  CommandRun unknown = Cli("streams " + capture + " --rtpmap 98=G7221/16000");
  EXPECT_EQ(unknown.status, 0);
  EXPECT_NE(unknown.err.find("the encoding name G7221 is not known"), std::string::npos) << unknown.err;
  // (Which values are malformed is tested with the parser in tests/sdp/MediaDescriptionTest.cpp.)
  for (const char* bad : {"98=PCMU", "128=PCMU/8000"}) {
    CommandRun r = Cli("streams " + capture + " --rtpmap " + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--rtpmap needs PT=NAME/RATE[/CHANNELS]"), std::string::npos) << bad << r.err;
  }
}

TEST(CaptureCommands, ErrorsSayWhatIsWrong) {
  const std::string sample = Data("sample.pcap");
  fennik::test::ExpectRefusals({{"info /nonexistent/file.pcap", 1, "Can't open file"},
                                {"info " + Data("captures/README.md"), 1, "Not support file format"},
                                {"csv " + sample + " --stream 9", 1, "unknown stream id 9"},
                                {"csv " + sample + " --start 10 --end 5", 1, "Start position or end position is wrong"},
                                {"csv " + sample + " --start x", 2},
                                {"streams", 2},
                                {"frobnicate " + sample, 2},
                                {"csv " + sample + " -o /dev/full", 1}});
}

}  // namespace
