// fennik-cli on a call as real equipment sends it (tests/data/captures/call-events-cn-dup-
// ext*.pcap, made by scripts/make-call-captures): decode on the RTP timeline and with
// --concatenate, the header extension and padding in show --packet, the CSV payload column
// of a short frame behind Ethernet padding, and the hint for a recognised codec that is not
// decoded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/capture/CaptureBuilder.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using fennik::test::Cli;
using fennik::test::CommandRun;

const std::string kCaptures = std::string(FENNIK_TEST_DATA) + "/captures/";
const std::string kCall = kCaptures + "call-events-cn-dup-ext.pcap";
const std::string kCallVlan = kCaptures + "call-events-cn-dup-ext-vlan.pcap";

std::vector<int16_t> Samples(const std::string& path, size_t skip) {
  return test::Pcm16(test::ReadFileBytes(path), skip);
}

// The id of the stream from `source` ("a.b.c.d:port") in the stream table.
std::string StreamId(const std::string& file, const std::string& source) {
  const CommandRun r = Cli("streams " + file);
  const size_t at = r.out.find("  " + source + " ");
  if (at == std::string::npos) return "0";
  const size_t line = r.out.rfind('\n', at) + 1;
  return std::to_string(std::stoi(r.out.substr(line, at - line)));
}

// The VLAN-tagged copy of the call decodes to the same reference in
// tests/codec/audio/RealCallTest.cpp; here the tool's WAV on the timeline and concatenated.
TEST(CallCommands, DecodeKeepsTheRtpTimelineUnlessConcatenated) {
  const std::vector<int16_t> reference =
      Samples(kCaptures + "decoded/call-events-cn-dup-ext.pcap.40000.ffmpeg.s16le", 0);
  ASSERT_EQ(reference.size(), 32000u);
  const test::TempPath out("decoded.wav");
  const std::string id = StreamId(kCall, "127.0.7.10:40000");
  CommandRun r = Cli("decode " + kCall + " --stream " + id + " -o " + out.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  // The timestamp span (4 s) with silence where suppression and loss left no packet,
  // every sample ffmpeg's decode of the sent codes on their timestamps.
  EXPECT_EQ(Samples(out.Path(), 44), reference);

  r = Cli("decode " + kCall + " --stream " + id + " --concatenate -o " + out.Path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<int16_t> joined = Samples(out.Path(), 44);
  ASSERT_EQ(joined.size(), 149u * 160);
  // The frames back to back: slots 0-49, 100-139, 141-199 of the timeline.
  std::vector<int16_t> expected;
  for (int slot = 0; slot < 200; ++slot) {
    if ((slot >= 50 && slot < 100) || slot == 140) continue;
    expected.insert(expected.end(), reference.begin() + slot * 160, reference.begin() + slot * 160 + 160);
  }
  EXPECT_EQ(joined, expected);
}

// Playback follows the same timeline: the recorded play (stereo, mono widened) holds the
// reference after the renderer's leading silence, gaps included.
TEST(CallCommands, PlaybackFollowsTheRtpTimeline) {
  const std::vector<int16_t> reference =
      Samples(kCaptures + "decoded/call-events-cn-dup-ext.pcap.40000.ffmpeg.s16le", 0);
  const size_t first = static_cast<size_t>(
      std::find_if(reference.begin(), reference.end(), [](int16_t v) { return v != 0; }) - reference.begin());
  const test::TempPath out("played.wav");
  // The WAV device is paced like a sound card: a run on a machine too busy to keep the FIFO
  // filled records the underrun's silence (the debug line "audio data = ...") and says
  // nothing about the timeline, so such a run is repeated.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const CommandRun r = Cli("play " + kCall + " --stream " + StreamId(kCall, "127.0.7.10:40000") +
                             " --device wav:" + out.Path() + " --debug");
    ASSERT_EQ(r.status, 0) << r.err;
    if (r.err.find("audio data = ") != std::string::npos) continue;
    const std::vector<int16_t> played = Samples(out.Path(), 44);
    std::vector<int16_t> left;
    for (size_t i = 0; i < played.size(); i += 2) left.push_back(played[i]);
    size_t start = 0;
    while (start < left.size() && left[start] == 0) ++start;
    ASSERT_GE(start, first);
    start -= first;
    ASSERT_LE(start + reference.size(), left.size());
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), left.begin() + static_cast<long>(start)));
    return;
  }
  GTEST_SKIP() << "every play underran: the machine could not keep up with real time";
}

TEST(CallCommands, ShowPacketNamesExtensionElementsAndPadding) {
  // Slot 160 of the u-law stream: one-byte header extension and 4 octets of padding.
  const CommandRun csv = Cli("csv " + kCall + " --stream " + StreamId(kCall, "127.0.7.10:40000"));
  ASSERT_EQ(csv.status, 0);
  std::string packet;
  for (size_t at = 0; (at = csv.out.find('\n', at)) != std::string::npos; ++at) {
    // Columns: No., ADDRESS, Packet No., ...; payload 176 = extension 4 + 8, media 160, padding 4.
    const size_t next = csv.out.find('\n', at + 1);
    const std::string row = csv.out.substr(at + 1, next - at - 1);
    if (row.find(",     176,") != std::string::npos) {
      packet = row.substr(row.find(',', row.find(',') + 1) + 1);
      packet = packet.substr(0, packet.find(','));
      break;
    }
  }
  ASSERT_FALSE(packet.empty());
  const CommandRun show = Cli("show " + kCall + " --packet " + packet);
  ASSERT_EQ(show.status, 0) << show.err;
  test::ExpectContains(show.out, {"RTP Header Extension", "0xBEDE                  one-byte header elements",
      "length                                       16  0x0002              2 words",
      "element ID                                   4  0011b               3",
      "element length                               4  0010b               3 bytes",
      "padding length                                8  0x04                4 bytes",
      "media length                                                         160 bytes"});
  // The G.722 stream's two-byte elements: ID 20 carries five octets 00 01 02 03 04.
  const CommandRun g722 = Cli("csv " + kCall + " --stream " + StreamId(kCall, "127.0.7.20:50002") + " --end 0");
  ASSERT_EQ(g722.status, 0);
  const std::string row = g722.out.substr(g722.out.find('\n') + 1);
  std::string number = row.substr(row.find(',', row.find(',') + 1) + 1);
  number = number.substr(0, number.find(','));
  const CommandRun first = Cli("show " + kCall + " --packet " + number);
  ASSERT_EQ(first.status, 0);
  test::ExpectContains(first.out, {"two-byte header elements", "00 01 02 03 04"});
}

// The comfort-noise packet carries one octet; in the tagged capture its frame is padded to
// 64 bytes, and the padding is not payload.
TEST(CallCommands, CsvPayloadIsBoundedByTheUdpLength) {
  for (const std::string& file : {kCall, kCallVlan}) {
    SCOPED_TRACE(file);
    const CommandRun csv = Cli("csv " + file);
    ASSERT_EQ(csv.status, 0);
    const size_t at = csv.out.find(",CN,");
    ASSERT_NE(at, std::string::npos);
    const std::string row = csv.out.substr(at, csv.out.find('\n', at) - at);
    EXPECT_NE(row.find(", 40000,       1,"), std::string::npos) << row;
    // Duplicates are noted in the list.
    EXPECT_NE(csv.out.find("Duplicate packet (not decoded)."), std::string::npos);
  }
  const CommandRun json = Cli("streams " + kCallVlan + " --json");
  EXPECT_NE(json.out.find("\"packets\": 178, \"sequence_errors\": 1, \"duplicates\": 20, "
                          "\"other_payload_packets\": 9, \"frames\": 149"),
            std::string::npos)
      << json.out;
}

TEST(CallCommands, Ipv6AddressesInTheTablesAndTheHeaderFields) {
  const std::string file = kCaptures + "call-ipv6.pcap";
  const CommandRun json = Cli("streams " + file + " --json");
  EXPECT_NE(json.out.find("\"src\": \"[::1]:40004\", \"dst\": \"[::1]:50004\", \"payload_type\": 96, "
                          "\"encoding\": \"PCMU\""),
            std::string::npos)
      << json.out;
  // Packet 3 is the second RTP packet: one with a destination options header.
  const CommandRun show = Cli("show " + file + " --packet 3");
  ASSERT_EQ(show.status, 0) << show.err;
  test::ExpectContains(show.out, {"IPv6 (Internet Protocol version 6)",
      "Next Header                                   8  0x3C                60",
      "Source Address                              128                      ::1", "Extension Headers"});
  const CommandRun csv = Cli("csv " + file + " --end 0");
  EXPECT_NE(csv.out.find(",PCMU,::1, 40004,"), std::string::npos) << csv.out;
}

TEST(CallCommands, RecognisedCodecWithoutDecoderIsNotAskedForSdp) {
  using namespace fennik::test;
  // G.723.1 at static payload type 4: 24-octet frames.
  TempFile file(ClassicPcap(AudioStream(Ip(10, 0, 0, 1), 4000, Ip(10, 0, 0, 2), 5000, 3,
                                        1'700'000'000'000'000, 4)));
  const CommandRun r = Cli("decode " + file.Path() + " --stream 1 -o /dev/null");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("G723 is recognised but not decoded"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("--sdp"), std::string::npos);
}

}  // namespace
}  // namespace fennik
