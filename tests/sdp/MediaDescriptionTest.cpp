// SDP parsing into media descriptions and the per-capture description list. The files in
// tests/data/sdp/ were written by ffmpeg's RTP muxer (scripts/make-test-sdp); the other
// inputs are hand-written SDP lines shown inline.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/DebugPrint.h"
#include "base/IpAddress.h"
#include "sdp/MediaDescription.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

constexpr uint32_t Ip(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  return (a << 24) | (b << 16) | (c << 8) | d;
}

std::string ReadFixture(const std::string& name) {
  EXPECT_TRUE(test::FileExists(test::TestData("sdp/" + name))) << name;
  return test::ReadFileText(test::TestData("sdp/" + name));
}

std::vector<MediaDescription> ParseAll(std::string_view text) {
  return ParseMediaDescriptions(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The text's last medium (the whole text when it has no "m=" line).
MediaDescription ParseOne(std::string_view text) { return ParseAll(text).back(); }

struct ExpectedFormat {
  uint32_t payloadType, codecType;
  const char* name;
  uint32_t kind, clockRate, channels, bitsPerSample, codecParameter;
};

void ExpectFormat(const MediaFormat& f, const ExpectedFormat& e) {
  SCOPED_TRACE(e.name);
  EXPECT_EQ(f.payloadType, e.payloadType);
  EXPECT_EQ(f.codecType, e.codecType);
  EXPECT_STREQ(f.encodingName, e.name);
  EXPECT_EQ(f.kind, e.kind);
  EXPECT_EQ(f.clockRate, e.clockRate);
  EXPECT_EQ(f.channels, e.channels);
  EXPECT_EQ(f.bitsPerSample, e.bitsPerSample);
  EXPECT_EQ(f.codecParameter, e.codecParameter);
}

// The formats of one rtpmap line after an "m=audio" line.
MediaFormat AudioFormat(std::string_view rtpmap) {
  std::string text = "v=0\r\nm=audio 5004 RTP/AVP 96\r\n" + std::string(rtpmap) + "\r\n";
  MediaDescription d = ParseOne(text);
  EXPECT_EQ(d.formatCount, 1u) << rtpmap;
  return d.formats[0];
}

TEST(SdpFixtures, FfmpegDescriptionsMapToCodecs) {
  struct Case {
    const char* file;
    uint32_t address, port, mediaKind;
    std::vector<ExpectedFormat> formats;
  };
  const Case cases[] = {
      {"opus.sdp", Ip(127, 0, 0, 1), 5004, 1, {{97, 113, "opus", 1, 48000, 2, 0, 0}}},
      {"speex.sdp", Ip(127, 0, 0, 1), 5004, 1, {{97, 114, "speex", 1, 8000, 0, 0, 0}}},
      {"g726-32.sdp", Ip(127, 0, 0, 1), 5004, 1, {{97, 108, "G726", 1, 8000, 1, 4, 32000}}},
      {"aal2-g726-32.sdp", Ip(127, 0, 0, 1), 5004, 1, {{97, 109, "AAL2-G726", 1, 8000, 1, 4, 32000}}},
      // "L16/8000/1": the rtpmap's clock rate replaces the table's 44100.
      {"l16.sdp", Ip(127, 0, 0, 1), 5004, 1, {{97, 94, "L16", 1, 8000, 1, 16, 0}}},
      // RFC 4629 keeps its own name (the payload headers differ from RFC 2190's "H263").
      {"h263-2000.sdp", Ip(127, 0, 0, 1), 5008, 2, {{96, 6, "H263-2000", 0, 90000, 0, 0, 90000}}},
      {"mp4v-es.sdp", Ip(127, 0, 0, 1), 5010, 2, {{96, 5, "MP4V", 0, 90000, 0, 0, 90000}}},
      // The multicast connection "224.2.1.1/127": the TTL suffix is not part of the address.
      {"multicast-l16.sdp", Ip(224, 2, 1, 1), 5004, 1, {{97, 94, "L16", 1, 8000, 1, 16, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    MediaDescriptionList list;
    list.Parse(ReadFixture(c.file));
    ASSERT_EQ(list.Size(), 1u);
    const MediaDescription& d = list.At(0);
    EXPECT_EQ(d.connectionAddress, c.address);
    EXPECT_EQ(d.mediaPort, c.port);
    EXPECT_EQ(d.mediaKind, c.mediaKind);
    ASSERT_EQ(d.formatCount, c.formats.size());
    for (size_t i = 0; i < c.formats.size(); ++i) ExpectFormat(d.formats[i], c.formats[i]);
  }
}

TEST(SdpFixtures, AudioAndVideoOfferGivesOneDescriptionPerMedium) {
  // ffmpeg's SDP for a video and an audio output: each "m=" line has its own "c=" line.
  MediaDescriptionList list;
  list.Parse(ReadFixture("h264-opus.sdp"));
  ASSERT_EQ(list.Size(), 2u);
  const MediaDescription& video = list.At(1);  // first in the text, so older
  const MediaDescription& audio = list.At(0);
  EXPECT_EQ(video.connectionAddress, Ip(127, 0, 0, 1));
  EXPECT_EQ(video.mediaPort, 5006u);
  EXPECT_EQ(video.mediaKind, 2u);
  ASSERT_EQ(video.formatCount, 1u);
  ExpectFormat(video.formats[0], {96, 11, "H264", 0, 90000, 0, 0, 90000});
  EXPECT_EQ(audio.mediaPort, 5004u);
  EXPECT_EQ(audio.mediaKind, 1u);
  ASSERT_EQ(audio.formatCount, 1u);
  ExpectFormat(audio.formats[0], {97, 113, "opus", 1, 48000, 2, 0, 0});
  // Each stream finds its own medium by its port.
  const uint32_t lo = Ip(127, 0, 0, 1);
  EXPECT_EQ(list.FindForStream(lo, lo, 40000, 5006), &video);
  EXPECT_EQ(list.FindForStream(lo, lo, 40002, 5004), &audio);
}

TEST(SdpMedia, SessionAndMediaConnectionsAndFormatsStayWithTheirMedium) {
  // A SIP offer as softphones write it: session-level "c=", audio with five voice codecs,
  // video with its own "c=", and an application medium without rtpmap.
  const std::vector<MediaDescription> media = ParseAll(
      "v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=-\r\nc=IN IP4 10.0.0.1\r\nt=0 0\r\n"
      "m=audio 4000 RTP/AVP 96 97 98 99 100\r\na=rtpmap:96 opus/48000/2\r\n"
      "a=rtpmap:97 speex/16000\r\na=rtpmap:98 G726-32/8000\r\na=rtpmap:99 iLBC/8000\r\n"
      "a=fmtp:99 mode=30\r\na=rtpmap:100 PCMA/8000\r\n"
      "m=video 4002 RTP/AVP 96\r\nc=IN IP4 10.0.0.9\r\na=rtpmap:96 H264/90000\r\n"
      "a=fmtp:96 packetization-mode=1\r\n"
      "m=application 4004 UDP/BFCP *\r\n");
  ASSERT_EQ(media.size(), 3u);
  EXPECT_EQ(media[0].connectionAddress, Ip(10, 0, 0, 1));
  EXPECT_EQ(media[0].mediaPort, 4000u);
  ASSERT_EQ(media[0].formatCount, 5u);
  EXPECT_EQ(media[0].FindFormat(96)->codecType, 113u);
  EXPECT_EQ(media[0].FindFormat(99)->codecParameter, 30u);
  EXPECT_EQ(media[1].connectionAddress, Ip(10, 0, 0, 9));
  EXPECT_EQ(media[1].mediaKind, 2u);
  ASSERT_EQ(media[1].formatCount, 1u);
  EXPECT_EQ(media[1].FindFormat(96)->codecType, 11u);  // PT 96 means H.264 here, Opus above
  EXPECT_EQ(media[1].FindFormat(96)->Fmtp("packetization-mode"), "1");
  EXPECT_EQ(media[2].mediaKind, 0u);
  EXPECT_EQ(media[2].formatCount, 0u);

  // Formats written at the session level belong to every medium; a medium's own wins.
  const std::vector<MediaDescription> session = ParseAll(
      "a=rtpmap:97 iLBC/8000\na=fmtp:97 mode=30\na=rtpmap:96 PCMA/8000\nm=audio 1 RTP/AVP 96 97\n"
      "a=rtpmap:96 PCMU/8000\nm=audio 2 RTP/AVP 97\n");
  ASSERT_EQ(session.size(), 2u);
  EXPECT_EQ(session[0].FindFormat(96)->codecType, 106u);
  EXPECT_EQ(session[0].FindFormat(97)->codecParameter, 30u);
  EXPECT_EQ(session[1].FindFormat(96)->codecType, 105u);
  EXPECT_EQ(session[1].formatCount, 2u);

  MediaDescriptionList list;
  list.Parse(std::string("v=0\r\nc=IN IP4 10.0.0.1\r\nm=audio 4000 RTP/AVP 96\r\na=rtpmap:96 opus/48000/2\r\n"
                         "m=video 4002 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\nm=application 4004 x *\r\n"));
  EXPECT_EQ(list.Size(), 2u);  // the medium without formats is not kept
  const uint32_t peer = Ip(10, 0, 0, 2);
  EXPECT_EQ(list.FindForStream(peer, Ip(10, 0, 0, 1), 5000, 4000)->FindFormat(96)->codecType, 113u);
  EXPECT_EQ(list.FindForStream(Ip(10, 0, 0, 1), peer, 4002, 5002)->FindFormat(96)->codecType, 11u);
  EXPECT_EQ(list.FindForStream(peer, Ip(10, 0, 0, 1), 5004, 4004), nullptr);
}

TEST(SdpFixtures, StaticPayloadTypeWithoutRtpmapAddsNoDescription) {
  MediaDescriptionList list;
  list.Parse(ReadFixture("pcmu.sdp"));  // "m=audio 5004 RTP/AVP 0" and no rtpmap
  EXPECT_EQ(list.Size(), 0u);
}

TEST(SdpEncoding, WholeNamesMatchCaseInsensitively) {
  // G.722.1 is not G.722: it gets no codec (and the audio defaults with its own clock rate).
  ExpectFormat(AudioFormat("a=rtpmap:96 G7221/16000"), {96, 0, "G7221", 1, 16000, 1, 16, 0});
  ExpectFormat(AudioFormat("a=rtpmap:96 G729D/8000"), {96, 0, "G729D", 1, 8000, 1, 16, 0});
  ExpectFormat(AudioFormat("a=rtpmap:96 GSM-EFR/8000"), {96, 0, "GSM-EFR", 1, 8000, 1, 16, 0});
  ExpectFormat(AudioFormat("a=rtpmap:96 G729a/8000"), {96, 110, "G729", 1, 8000, 1, 0, 0});
  // Each G726 rate has its own row; AAL2 packing is its own codec.
  ExpectFormat(AudioFormat("a=rtpmap:96 G726-16/8000"), {96, 108, "G726", 1, 8000, 1, 2, 16000});
  ExpectFormat(AudioFormat("a=rtpmap:96 G726-40/8000"), {96, 108, "G726", 1, 8000, 1, 5, 40000});
  ExpectFormat(AudioFormat("a=rtpmap:96 G726/8000"), {96, 108, "G726", 1, 8000, 1, 5, 40000});
  ExpectFormat(AudioFormat("a=rtpmap:96 AAL2-G726-24/8000"), {96, 109, "AAL2-G726", 1, 8000, 1, 3, 24000});
  ExpectFormat(AudioFormat("a=rtpmap:96 AAL2-G726/8000"), {96, 109, "G726", 1, 8000, 1, 5, 40000});
  ExpectFormat(AudioFormat("a=rtpmap:96 iLBC/8000"), {96, 116, "iLBC", 1, 8000, 1, 0, 20});
  ExpectFormat(AudioFormat("a=rtpmap:96 G726-32x/8000"), {96, 0, "G726-32x", 1, 8000, 1, 16, 0});
  // RFC 4855 3: encoding names are case-insensitive; the table's spelling is written.
  ExpectFormat(AudioFormat("a=rtpmap:96 pcmu/8000"), {96, 106, "PCMU", 1, 8000, 1, 8, 0});
  ExpectFormat(AudioFormat("a=rtpmap:96 OPUS/48000/2"), {96, 113, "opus", 1, 48000, 2, 0, 0});
  ExpectFormat(AudioFormat("a=rtpmap:96 ilbc/8000"), {96, 116, "iLBC", 1, 8000, 1, 0, 20});
  MediaDescription video = ParseOne("m=video 6000 RTP/AVP 96 97 98\na=rtpmap:96 h264/90000\n"
                                    "a=rtpmap:97 H264/90000\na=rtpmap:98 h263-1998/90000\n");
  ASSERT_EQ(video.formatCount, 3u);
  ExpectFormat(video.formats[0], {96, 11, "H264", 0, 90000, 0, 0, 90000});
  ExpectFormat(video.formats[1], {97, 11, "H264", 0, 90000, 0, 0, 90000});
  ExpectFormat(video.formats[2], {98, 6, "H263-1998", 0, 90000, 0, 0, 90000});
  EXPECT_EQ(ParseOne("m=video 6000 RTP/AVP 96\na=rtpmap:96 H2640/90000\n").formats[0].codecType, 0u);
}

TEST(SdpEncoding, ClockRateAndChannelFields) {
  // Channels are read only for audio formats; a video format's third field is ignored.
  ExpectFormat(AudioFormat("a=rtpmap:96 opus/48000/2"), {96, 113, "opus", 1, 48000, 2, 0, 0});
  ExpectFormat(AudioFormat("a=rtpmap:96 opus/48000"), {96, 113, "opus", 1, 48000, 0, 0, 0});
  MediaFormat h264 = AudioFormat("a=rtpmap:96 H264/90000/2");
  EXPECT_EQ(h264.channels, 0u);
  // Fields without leading digits keep the table's value, and so does a clock rate of 0,
  // which later timing arithmetic would divide by.
  EXPECT_EQ(AudioFormat("a=rtpmap:96 PCMA/x/y").clockRate, 8000u);
  EXPECT_EQ(AudioFormat("a=rtpmap:96 PCMA/0").clockRate, 8000u);
  EXPECT_EQ(AudioFormat("a=rtpmap:96 L16").clockRate, 44100u);
  // An absurd number saturates rather than wrapping onto a plausible payload type.
  EXPECT_EQ(AudioFormat("a=rtpmap:4294967392 PCMA/8000").payloadType, UINT32_MAX);
  // Long unknown names are cut to 15 characters.
  EXPECT_STREQ(AudioFormat("a=rtpmap:96 VERY-LONG-CODEC-NAME/8000").encodingName, "VERY-LONG-CODEC");
}

TEST(SdpRtpmap, FormatSlots) {
  // Without "m=audio" an unknown encoding takes the non-audio defaults.
  MediaDescription none = ParseOne("a=rtpmap:96 foo/8000\r\n");
  ASSERT_EQ(none.formatCount, 1u);
  ExpectFormat(none.formats[0], {96, 0, "foo", 0, 8000, 0, 0, 90000});

  // A line with no encoding token does not take a slot: the next rtpmap fills it.
  MediaDescription partial = ParseOne("m=audio 1 RTP/AVP\na=rtpmap:96\na=rtpmap:97 PCMU/8000\n");
  ASSERT_EQ(partial.formatCount, 1u);
  EXPECT_EQ(partial.formats[0].payloadType, 97u);

  // Ten formats at most, the first ten kept in line order.
  std::string many = "m=audio 1 RTP/AVP\n";
  for (int pt = 96; pt < 108; ++pt) many += "a=rtpmap:" + std::to_string(pt) + " PCMA/8000\n";
  MediaDescription full = ParseOne(many);
  ASSERT_EQ(full.formatCount, static_cast<uint32_t>(kMaxMediaFormats));
  for (int i = 0; i < kMaxMediaFormats; ++i) EXPECT_EQ(full.formats[i].payloadType, 96u + i);
  EXPECT_EQ(full.FindFormat(107), nullptr);

  // A payload type mapped twice: the later mapping is the one the stream gets.
  MediaDescription twice = ParseOne("a=rtpmap:96 PCMA/8000\na=rtpmap:96 PCMU/8000\n");
  ASSERT_NE(twice.FindFormat(96), nullptr);
  EXPECT_EQ(twice.FindFormat(96)->codecType, 106u);
  EXPECT_EQ(twice.FindFormat(0), nullptr);
}

TEST(SdpFmtp, IlbcModeInAnyPositionAndOrder) {
  auto ilbc = [](std::string_view fmtp) {
    MediaDescription d = ParseOne("m=audio 1 RTP/AVP 97\na=rtpmap:97 iLBC/8000\n" + std::string(fmtp));
    EXPECT_EQ(d.formats[0].payloadType, 97u);
    return d.formats[0].codecParameter;
  };
  EXPECT_EQ(ilbc("a=fmtp:97 mode=30"), 30u);
  EXPECT_EQ(ilbc("a=fmtp:97 mode=20"), 20u);
  EXPECT_EQ(ilbc("a=fmtp:97 foo=1;mode=30"), 30u);
  EXPECT_EQ(ilbc("a=fmtp:97 foo=1; MODE = 30"), 30u);  // RFC 4855: names are case-insensitive
  EXPECT_EQ(ilbc("a=fmtp:97 mode=30;foo=1"), 30u);
  EXPECT_EQ(ilbc("a=fmtp:96 mode=30"), 20u);  // another payload type
  EXPECT_EQ(ilbc("a=fmtp:97 mode="), 20u);
  EXPECT_EQ(ilbc("a=fmtp:97 mode=25"), 20u);  // RFC 3952 knows only 20 and 30
  EXPECT_EQ(ilbc("a=fmtp:97 mode=30x"), 20u);

  // An fmtp line before its rtpmap line: the rtpmap fills the fmtp's slot.
  MediaDescription early = ParseOne("a=fmtp:97 mode=30\na=rtpmap:97 iLBC/8000\n");
  ASSERT_EQ(early.formatCount, 1u);
  EXPECT_EQ(early.formats[0].codecParameter, 30u);
  EXPECT_TRUE(early.formats[0].hasRtpmap);
  // Two formats with one payload type: the fmtp goes to the last, the one a stream gets.
  MediaDescription dup = ParseOne("a=rtpmap:97 iLBC/8000\na=rtpmap:97 iLBC/8000\na=fmtp:97 mode=30\n");
  EXPECT_EQ(dup.formats[0].codecParameter, 20u);
  EXPECT_EQ(dup.formats[1].codecParameter, 30u);
  EXPECT_EQ(dup.FindFormat(97), &dup.formats[1]);
  // mode= means nothing for other codecs, but stays readable.
  MediaDescription pcmu = ParseOne("m=audio 1 RTP/AVP\na=rtpmap:97 PCMU/8000\na=fmtp:97 mode=30\n");
  EXPECT_EQ(pcmu.formats[0].codecParameter, 0u);
  EXPECT_EQ(pcmu.formats[0].FmtpNumber("mode"), 30u);
}

TEST(SdpConnection, AddressForms) {
  const char* rtpmap = "a=rtpmap:96 PCMU/8000\n";
  auto address = [&](std::string_view lines) { return ParseOne(std::string(lines) + rtpmap).connectionAddress; };
  EXPECT_EQ(address("c=IN IP4 192.168.10.20\n"), Ip(192, 168, 10, 20));
  EXPECT_EQ(address("c=IN IP4 224.2.1.1/127/3\n"), Ip(224, 2, 1, 1));
  EXPECT_EQ(address(""), 0u);
  EXPECT_EQ(address("c=IN IP4 host.example.com\n"), 0u);
  EXPECT_EQ(address("c=IN IP4\n"), 0u);                            // too few tokens
  EXPECT_EQ(address("c=IN IP4 10.0.0.1\nc=IN IP4 10.0.0.2\n"), Ip(10, 0, 0, 2));  // last wins
  // IPv6: the address's handle, the one the packet decoder gives the same address.
  const uint8_t loopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(address("c=IN IP4 10.0.0.1\nc=IN IP6 ::1\n"), InternIpv6(loopback6));
  EXPECT_EQ(address("c=IN IP6 fd00::20/127\n"), address("c=IN IP6 FD00:0::20\n"));
  EXPECT_EQ(address("c=IN IP4 10.0.0.1\nc=IN IP6 host.example.com\n"), Ip(10, 0, 0, 1));
  EXPECT_EQ(address("c=ATM IP4 10.0.0.1\n"), 0u);
  EXPECT_EQ(address("c=IN\tIP4   10.0.0.9\n"), Ip(10, 0, 0, 9));   // tabs and runs of spaces
}

TEST(SdpMedia, PortAndKind) {
  const char* rtpmap = "\na=rtpmap:96 PCMU/8000\n";
  auto parse = [&](std::string_view lines) { return ParseOne(std::string(lines) + rtpmap); };
  EXPECT_EQ(parse("m=audio 49170/2 RTP/AVP 96").mediaPort, 49170u);
  MediaDescription kept = parse("m=video 6000 RTP/AVP 96\nm=unknown 7000");
  EXPECT_EQ(kept.mediaKind, 2u);
  EXPECT_EQ(kept.mediaPort, 7000u);
  // A new medium starts from nothing: a port without digits is 0.
  MediaDescription noDigits = parse("m=audio 6000 RTP/AVP 96\nm=video port RTP/AVP");
  EXPECT_EQ(noDigits.mediaKind, 2u);
  EXPECT_EQ(noDigits.mediaPort, 0u);
  EXPECT_EQ(parse("m=audiovisual 6000").mediaKind, 0u);
  // Lines whose type letter is unknown, or that lack "=" in the second place, are skipped.
  EXPECT_EQ(parse("x=audio 6000\n m=audio 6000\nm:audio 6000").mediaPort, 0u);
}

TEST(SdpLines, AllLineBreakFormsAndNoFinalBreak) {
  const std::vector<std::string> lines = {"v=0", "c=IN IP4 10.1.2.3", "m=audio 4000 RTP/AVP 97",
                                          "a=rtpmap:97 opus/48000/2", "a=rtpmap:98 iLBC/8000",
                                          "a=fmtp:98 mode=30"};
  for (const char* br : {"\r\n", "\n", "\r", "\n\r", "\n\r\n\r\n"}) {
    std::string text;
    for (const std::string& l : lines) text += l + br;
    for (const std::string& candidate : {text, text.substr(0, text.size() - std::strlen(br))}) {
      SCOPED_TRACE(testing::Message() << "break " << testing::PrintToString(std::string(br)) << " text "
                                      << testing::PrintToString(candidate));
      MediaDescription d = ParseOne(candidate);
      EXPECT_EQ(d.connectionAddress, Ip(10, 1, 2, 3));
      EXPECT_EQ(d.mediaPort, 4000u);
      ASSERT_EQ(d.formatCount, 2u);
      ExpectFormat(d.formats[0], {97, 113, "opus", 1, 48000, 2, 0, 0});
      ExpectFormat(d.formats[1], {98, 116, "iLBC", 1, 8000, 1, 0, 30});
    }
  }
}

TEST(SdpLines, ReadsOnlyTheGivenLength) {
  // The buffer goes on past the length with a line that would change the result; the cut
  // falls inside the encoding name.
  const std::string buffer = "m=audio 4000 RTP/AVP 97\na=rtpmap:97 opus/48000/2\nc=IN IP4 1.2.3.4\n";
  const size_t cut = buffer.find("opus") + 2;
  std::vector<uint8_t> exact(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(cut));
  // A heap block of exactly `cut` bytes.
  const MediaDescription d = ParseMediaDescriptions(exact.data(), exact.size()).back();
  ASSERT_EQ(d.formatCount, 1u);
  EXPECT_STREQ(d.formats[0].encodingName, "op");
  EXPECT_EQ(d.formats[0].codecType, 0u);
  EXPECT_EQ(d.connectionAddress, 0u);

  const std::vector<MediaDescription> none = ParseMediaDescriptions(nullptr, 0);
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].formatCount, 0u);
}

TEST(SdpLines, GarbageAroundAndInsideTheBody) {
  // A SIP datagram from "v=0" on: the SDP body, then bytes of whatever follows in the record.
  std::string text = "v=0\r\nc=IN IP4 10.0.0.5\r\nm=audio 30000 RTP/AVP 8 101\r\n";
  text += std::string("\x00\xff\xfe=\x01:\t\r\r\n\n", 11);  // binary noise with breaks
  text += "a=rtpmap:8 PCMA/8000\r\na=rtpmap:101 telephone-event/8000\r\n";
  text += std::string("a=\x00rtpmap:9 G722/8000\r\n", 23);  // NUL inside a line: no rtpmap
  text += "a=rtpmap:\r\na==:: =\r\nc=IN IP4 .\r\nm=\r\na=fmtp:\r\n";
  text += std::string("\x80\x81\x82", 3);
  // The stray "m=" line opens an empty medium of its own.
  const std::vector<MediaDescription> media = ParseAll(text);
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(media[1].formatCount, 0u);
  const MediaDescription& d = media[0];
  EXPECT_EQ(d.mediaPort, 30000u);
  EXPECT_EQ(d.connectionAddress, 0u);  // "c=IN IP4 ." is the medium's last connection line
  ASSERT_EQ(d.formatCount, 2u);
  ExpectFormat(d.formats[0], {8, 105, "PCMA", 1, 8000, 1, 8, 0});
  ExpectFormat(d.formats[1], {101, 0, "telephone-event", 1, 8000, 1, 16, 0});
}

TEST(SdpList, NewestFirstAndStreamMatching) {
  const std::string offer =
      "v=0\r\nc=IN IP4 192.168.1.10\r\nm=audio 40000 RTP/AVP 96\r\na=rtpmap:96 PCMA/8000\r\n";
  const std::string answer =
      "v=0\r\nc=IN IP4 192.168.1.20\r\nm=audio 50000 RTP/AVP 96\r\na=rtpmap:96 opus/48000/2\r\n";
  MediaDescriptionList list;
  list.Parse(offer);
  list.Parse("v=0\r\ns=no formats\r\nc=IN IP4 192.168.1.10\r\nm=audio 40000 RTP/AVP 0\r\n");
  list.Parse(answer);
  list.Parse(offer);  // the same body again, e.g. a retransmitted INVITE
  ASSERT_EQ(list.Size(), 3u);
  EXPECT_EQ(list.At(0).formats[0].codecType, 105u);
  EXPECT_EQ(list.At(1).formats[0].codecType, 113u);
  EXPECT_EQ(list.At(2).formats[0].codecType, 105u);

  const uint32_t a = Ip(192, 168, 1, 10), b = Ip(192, 168, 1, 20);
  // The stream a:40000 -> b:50000 matches both descriptions; the newest one wins.
  EXPECT_EQ(list.FindForStream(a, b, 40000, 50000), &list.At(0));
  EXPECT_EQ(list.FindForStream(b, a, 50000, 40000), &list.At(0));
  // Matched through b and its port alone.
  EXPECT_EQ(list.FindForStream(Ip(10, 0, 0, 1), b, 1234, 50000), &list.At(1));
  EXPECT_EQ(list.FindForStream(b, Ip(10, 0, 0, 1), 50000, 1234), &list.At(1));
  // Address and port must come from the same description; neither alone matches.
  EXPECT_EQ(list.FindForStream(a, Ip(10, 0, 0, 1), 50000, 1234), nullptr);
  EXPECT_EQ(list.FindForStream(Ip(10, 0, 0, 1), Ip(10, 0, 0, 2), 40000, 50000), nullptr);

  // A newer answer makes b's description the newest for the a<->b stream.
  list.Parse(answer);
  EXPECT_EQ(list.FindForStream(a, b, 40000, 50000), &list.At(0));
  EXPECT_EQ(list.At(0).formats[0].codecType, 113u);

  list.Clear();
  EXPECT_EQ(list.Size(), 0u);
  EXPECT_EQ(list.FindForStream(a, b, 40000, 50000), nullptr);
}

TEST(SdpList, PortMatchUsesLowSixteenBitsAndAddressZeroMatchesNothing) {
  MediaDescriptionList list;
  list.Parse("c=IN IP4 10.0.0.1\nm=audio 70000 RTP/AVP\na=rtpmap:96 PCMA/8000\n");  // 70000 & 0xFFFF = 4464
  EXPECT_NE(list.FindForStream(Ip(10, 0, 0, 1), Ip(10, 0, 0, 2), 4464, 9), nullptr);
  list.Parse("m=audio 5000 RTP/AVP\na=rtpmap:96 PCMA/8000\n");  // no c= line
  EXPECT_EQ(list.Size(), 2u);
  EXPECT_EQ(list.FindForStream(0, 0, 5000, 5000), nullptr);
}

TEST(SdpUserText, MatchesTheStreamAndItsReverseDirection) {
  const uint32_t src = Ip(172, 16, 0, 7), dst = Ip(172, 16, 0, 9);
  const std::string body = "v=0\r\nc=IN IP4 1.1.1.1\r\nm=video 9 RTP/AVP 96\r\na=rtpmap:96 H264/90000";
  const std::string text = MakeUserSdpText(body, src, 20000);
  EXPECT_EQ(text, body + "\r\nc=IN IP4 172.16.0.7\r\nm=unknown 20000\r\n");

  // The body's video medium (which takes the appended "c=" line as its own) and the
  // medium of the appended lines, which carries the body's formats.
  MediaDescriptionList list;
  list.Parse(text);
  ASSERT_EQ(list.Size(), 2u);
  EXPECT_EQ(list.At(0).mediaKind, 2u);  // "m=unknown" keeps the body's kind
  EXPECT_EQ(list.At(0).mediaPort, 20000u);
  ASSERT_EQ(list.At(0).formatCount, 1u);
  EXPECT_EQ(list.At(0).formats[0].codecType, 11u);
  EXPECT_EQ(list.FindForStream(src, dst, 20000, 30000), &list.At(0));
  EXPECT_EQ(list.FindForStream(dst, src, 30000, 20000), &list.At(0));
  EXPECT_EQ(list.FindForStream(Ip(1, 1, 1, 1), dst, 9, 30000), nullptr);  // body's own c=/m= overridden

  // A body without "m=": unknown encodings get non-audio defaults, known ones their row.
  list.Parse(MakeUserSdpText("a=rtpmap:97 foo/16000\na=rtpmap:98 PCMU/8000", dst, 30000));
  ASSERT_EQ(list.Size(), 3u);
  ExpectFormat(list.At(0).formats[0], {97, 0, "foo", 0, 16000, 0, 0, 90000});
  ExpectFormat(list.At(0).formats[1], {98, 106, "PCMU", 1, 8000, 1, 8, 0});
  EXPECT_EQ(list.At(0).mediaKind, 0u);
}

TEST(SdpUserText, FullOfferBodyAndRtpmapShorthand) {
  // ffmpeg's audio+video SDP chosen for one stream: the appended medium carries both formats.
  const uint32_t src = Ip(192, 168, 0, 5), dst = Ip(192, 168, 0, 6);
  MediaDescriptionList list;
  list.Parse(MakeUserSdpText(ReadFixture("h264-opus.sdp"), src, 7000));
  const MediaDescription* d = list.FindForStream(dst, src, 8000, 7000);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->mediaPort, 7000u);
  ASSERT_EQ(d->formatCount, 2u);
  EXPECT_EQ(d->FindFormat(96)->codecType, 11u);
  EXPECT_EQ(d->FindFormat(96)->Fmtp("packetization-mode"), "1");
  EXPECT_EQ(d->FindFormat(97)->codecType, 113u);

  // "PT=NAME/RATE[/CHANNELS]" lines become rtpmap lines; other lines and the breaks stay.
  EXPECT_EQ(MakeUserSdpText("96=H264/90000\n 97=opus/48000/2 \r\nv=0\r\n98=x", src, 7000),
            "a=rtpmap:96 H264/90000\na=rtpmap:97 opus/48000/2\r\nv=0\r\n98=x"
            "\r\nc=IN IP4 192.168.0.5\r\nm=unknown 7000\r\n");
  list.Clear();
  list.Parse(MakeUserSdpText("97=opus/48000/2\n98=OPUS/16000/1\n98=PCMA/8000", src, 7000));
  ASSERT_EQ(list.Size(), 1u);
  ASSERT_EQ(list.At(0).formatCount, 2u);
  ExpectFormat(*list.At(0).FindFormat(97), {97, 113, "opus", 1, 48000, 2, 0, 0});
  ExpectFormat(*list.At(0).FindFormat(98), {98, 105, "PCMA", 1, 8000, 1, 8, 0});  // the later line

  const std::optional<RtpmapShorthand> s = ParseRtpmapShorthand("127=mpeg4-generic/44100/2");
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->payloadType, 127u);
  EXPECT_EQ(s->encodingName, "mpeg4-generic");
  EXPECT_EQ(s->clockRate, 44100u);
  EXPECT_EQ(s->channels, 2u);
  EXPECT_EQ(RtpmapLine(*s), "a=rtpmap:127 mpeg4-generic/44100/2");
  for (const char* bad : {"", "96", "=H264/90000", "1234=H264/90000", "128=H264/90000", "96=H264",
                          "96=H 264/90000", "96=H264/0", "96=H264/90000/0", "96=H264/4294967296",
                          "96=/90000", "96=H264/90000/2/1", "a=rtpmap:96 H264/90000", "9a=H264/90000"}) {
    EXPECT_FALSE(ParseRtpmapShorthand(bad).has_value()) << bad;
  }
}

TEST(SdpDebug, RecognisedLinesAreLoggedAndCut) {
  SetDebugToStderr(true);
  testing::internal::CaptureStderr();
  const std::string longLine = "s=" + std::string(2000, 'x');
  ParseOne("v=0\r\nq=unknown\r\n" + longLine + "\r\na=rtpmap:96 PCMU/8000");
  const std::string log = testing::internal::GetCapturedStderr();
  SetDebugToStderr(false);
  EXPECT_EQ(log, "[SDP] v=0\n[SDP] " + longLine.substr(0, 1023) + "\n[SDP] a=rtpmap:96 PCMU/8000\n");
}

}  // namespace
}  // namespace fennik
