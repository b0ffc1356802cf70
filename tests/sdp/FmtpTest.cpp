// fmtp parameters: splitting (RFC 4566 6, RFC 4855 3), lookup, and how the parser keeps them
// with their format. The fixture is ffmpeg's RTP muxer SDP (scripts/make-test-sdp).
#include <gtest/gtest.h>

#include <string>

#include "sdp/MediaDescription.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

std::vector<MediaDescription> ParseAll(std::string_view text) {
  return ParseMediaDescriptions(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

MediaDescription ParseOne(std::string_view text) { return ParseAll(text).back(); }

std::vector<MediaDescription> ParseFixture(const std::string& name) {
  const std::string sdp = test::ReadFileText(test::TestData("sdp/" + name));
  EXPECT_FALSE(sdp.empty()) << name;
  return ParseAll(sdp);
}

TEST(FmtpParameters, SplitsAtSemicolonsAndTheFirstEquals) {
  // RFC 6184's example line, with the blanks real offers put after ";".
  const auto p = ParseFmtpParameters(
      " profile-level-id=42e01f; packetization-mode=1 ;sprop-parameter-sets=Z0IAHpWoKA9k,aM48gA==;;"
      " 0-15 ;\tconfig = 40002320 ;=x;empty=");
  const std::vector<FmtpParameter> expected = {
      {"profile-level-id", "42e01f", true},
      {"packetization-mode", "1", true},
      {"sprop-parameter-sets", "Z0IAHpWoKA9k,aM48gA==", true},  // "=" inside the value kept
      {"0-15", "", false},                                      // RFC 4733 event list
      {"config", "40002320", true},
      {"", "x", true},
      {"empty", "", true},
  };
  EXPECT_EQ(p, expected);
  EXPECT_TRUE(ParseFmtpParameters("").empty());
  EXPECT_TRUE(ParseFmtpParameters(" ; ;\t").empty());
}

TEST(FmtpParameters, LookupIsCaseInsensitiveByNameAndNumbersAreStrict) {
  MediaFormat f;
  f.AddFmtp("streamtype=5; profile-level-id=15; mode=AAC-hbr; config=1210; SizeLength=13;"
            " indexLength=3; indexDeltaLength=3; big=4294967296; neg=-1");
  EXPECT_EQ(f.Fmtp("sizelength"), "13");
  EXPECT_EQ(f.Fmtp("MODE"), "AAC-hbr");  // the value keeps its case
  EXPECT_EQ(f.FmtpNumber("SizeLength"), 13u);
  EXPECT_EQ(f.FmtpNumber("mode"), std::nullopt);
  EXPECT_EQ(f.FmtpNumber("big"), std::nullopt);  // beyond 32 bits
  EXPECT_EQ(f.FmtpNumber("neg"), std::nullopt);
  EXPECT_EQ(f.FmtpNumber("absent"), std::nullopt);
  EXPECT_EQ(f.Fmtp("size"), std::nullopt);  // whole names only
  // A second line adds its parameters behind; a repeated name answers with the first.
  f.AddFmtp("mode=generic");
  EXPECT_EQ(f.Fmtp("mode"), "AAC-hbr");
  EXPECT_EQ(f.fmtp.back().value, "generic");
  EXPECT_TRUE(f.fmtpText.ends_with("neg=-1; mode=generic"));
}

TEST(SdpFmtpLines, EveryParameterStaysWithItsFormat) {
  const auto media = ParseFixture("h264-opus.sdp");
  ASSERT_EQ(media.size(), 2u);
  const MediaFormat* h264 = media[0].FindFormat(96);
  ASSERT_NE(h264, nullptr);
  EXPECT_EQ(h264->fmtpText, "packetization-mode=1");
  EXPECT_EQ(h264->FmtpNumber("packetization-mode"), 1u);
  ASSERT_NE(media[1].FindFormat(97), nullptr);
  EXPECT_TRUE(media[1].FindFormat(97)->fmtp.empty());

  // The text after the payload type is kept exactly (outer blanks aside), however long; no
  // tokenising limit cuts it.
  std::string longValue(3000, 'A');
  const MediaDescription v = ParseOne("m=video 5000 RTP/AVP 98\na=rtpmap:98 H264/90000\n"
                                      "a=fmtp:98\t profile-level-id=64001f;sprop-parameter-sets=" +
                                      longValue + "==,aOvssiw= \r\n");
  ASSERT_EQ(v.formatCount, 1u);
  EXPECT_EQ(v.formats[0].fmtpText, "profile-level-id=64001f;sprop-parameter-sets=" + longValue + "==,aOvssiw=");
  EXPECT_EQ(v.formats[0].Fmtp("sprop-parameter-sets"), longValue + "==,aOvssiw=");

  // A static payload type with fmtp and no rtpmap (G.729 Annex B off) gets a slot of its own
  // that names no codec.
  const MediaDescription g729 = ParseOne("c=IN IP4 10.0.0.1\nm=audio 4000 RTP/AVP 18 101\n"
                                         "a=fmtp:18 annexb=no\na=rtpmap:101 telephone-event/8000\n"
                                         "a=fmtp:101 0-16\n");
  ASSERT_EQ(g729.formatCount, 2u);
  EXPECT_FALSE(g729.formats[0].hasRtpmap);
  EXPECT_EQ(g729.formats[0].codecType, 0u);
  EXPECT_EQ(g729.formats[0].kind, 1u);
  EXPECT_EQ(g729.FindFormat(18)->Fmtp("annexb"), "no");
  EXPECT_EQ(g729.FindFormat(101)->fmtp, (std::vector<FmtpParameter>{{"0-16", "", false}}));

  // Lines without a payload number or with a number only change nothing.
  const MediaDescription bad = ParseOne("a=rtpmap:96 PCMU/8000\na=fmtp:x mode=1\na=fmtp:96\na=fmtp: \n");
  ASSERT_EQ(bad.formatCount, 1u);
  EXPECT_TRUE(bad.formats[0].fmtp.empty());
}

TEST(SdpFmtpLines, FfmpegParameterSetsAndDecoderConfigsRoundTrip) {
  // Three media; the two video media both use PT 96 (H.264 and MPEG-4 Visual).
  const std::vector<MediaDescription> media = ParseFixture("fmtp-av.sdp");
  ASSERT_EQ(media.size(), 3u);
  const MediaFormat* h264 = media[0].FindFormat(96);
  ASSERT_NE(h264, nullptr);
  EXPECT_EQ(h264->codecType, 11u);
  EXPECT_EQ(h264->fmtpText,
            "packetization-mode=1; sprop-parameter-sets=Z0LACtkCxOwEQAAAAwBAAAAFA8SJkg==,aMuDyyA=; "
            "profile-level-id=42C00A");
  EXPECT_EQ(h264->fmtp, (std::vector<FmtpParameter>{
                            {"packetization-mode", "1", true},
                            {"sprop-parameter-sets", "Z0LACtkCxOwEQAAAAwBAAAAFA8SJkg==,aMuDyyA=", true},
                            {"profile-level-id", "42C00A", true}}));

  // ffmpeg writes the name in capitals; the parameters stay as written (RFC 3640 names
  // are case-insensitive: "sizelength" is sizeLength).
  const MediaFormat* aac = media[1].FindFormat(97);
  ASSERT_NE(aac, nullptr);
  EXPECT_STREQ(aac->encodingName, "MPEG4-GENERIC");
  EXPECT_EQ(aac->clockRate, 44100u);
  EXPECT_EQ(aac->channels, 1u);
  EXPECT_EQ(aac->Fmtp("mode"), "AAC-hbr");
  EXPECT_EQ(aac->FmtpNumber("sizeLength"), 13u);
  EXPECT_EQ(aac->FmtpNumber("indexLength"), 3u);
  EXPECT_EQ(aac->FmtpNumber("indexDeltaLength"), 3u);
  EXPECT_EQ(aac->Fmtp("config"), "120856E500");

  const MediaFormat* mp4v = media[2].FindFormat(96);
  ASSERT_NE(mp4v, nullptr);
  EXPECT_EQ(mp4v->codecType, 5u);
  EXPECT_EQ(mp4v->Fmtp("config"),
            "000001B001000001B58913000001000000012000C48D8800550584121443000001B24C61766335392E33372E313030");

  const std::vector<MediaDescription> latm = ParseFixture("mp4a-latm.sdp");
  ASSERT_EQ(latm.size(), 1u);
  ASSERT_EQ(latm[0].formatCount, 1u);
  EXPECT_STREQ(latm[0].formats[0].encodingName, "MP4A-LATM");
  EXPECT_EQ(latm[0].formats[0].fmtpText, "profile-level-id=41;cpresent=0;config=400024103fc0");
  EXPECT_EQ(latm[0].formats[0].FmtpNumber("cpresent"), 0u);
}

}  // namespace
}  // namespace fennik
