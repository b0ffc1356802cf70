// AAC framing on the committed streams of tests/data/aac/ (ffmpeg's AAC-LC encoder, its ADTS
// and LATM muxers and its RTP muxer; see the README there): the access units every
// transport yields are the same 45 (43 from the mpeg4-generic sender), byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/CAAC_Parser.h"
#include "view/CFieldTree.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

const std::string kData = std::string(FENNIK_TEST_DATA) + "/aac/";

std::vector<uint8_t> Load(const std::string& name) { return test::ReadFileBytes(kData + name); }

// The raw access units of the ADTS file (every header is 7 bytes: no CRC).
std::vector<std::vector<uint8_t>> AdtsAccessUnits() {
  const std::vector<uint8_t> file = Load("aac-lc.adts");
  std::vector<std::vector<uint8_t>> units;
  for (size_t pos = 0; pos + 7 <= file.size();) {
    AdtsHeader h;
    EXPECT_TRUE(ReadAdtsHeader(file.data() + pos, file.size() - pos, h));
    EXPECT_EQ(h.protection_absent, 1u);
    if (h.frame_length < 7 || pos + h.frame_length > file.size()) break;
    units.emplace_back(file.begin() + static_cast<ptrdiff_t>(pos + 7), file.begin() + static_cast<ptrdiff_t>(pos + h.frame_length));
    pos += h.frame_length;
  }
  return units;
}

// A whole file as one stream's analysis buffer, opened and parsed.
struct FileStream {
  CAAC_Parser parser;
  CAnarizeBuffer buffer{1};
  CPayloadDescriptor descriptor;
  explicit FileStream(const std::vector<uint8_t>& bytes) {
    buffer.Append(bytes.data(), static_cast<uint32_t>(bytes.size()),
                  AnarizePacket{0, 0, 42, 1, static_cast<uint32_t>(bytes.size()), 1, ~uint64_t{0}});
    descriptor.Add(&buffer);
    parser.SetStreamId(1);
  }
};

TEST(AacParser, AdtsAndLoasFilesGiveEveryAccessUnitWithItsHeaderValues) {
  const std::vector<std::vector<uint8_t>> units = AdtsAccessUnits();
  ASSERT_EQ(units.size(), 45u);
  for (const char* name : {"aac-lc.adts", "aac-lc.loas"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = Load(name);
    FileStream s(bytes);
    ASSERT_EQ(s.parser.Open(bytes.data(), bytes.size(), CAAC_Parser::kCodecType), 1);
    const bool adts = std::string(name).ends_with(".adts");
    EXPECT_EQ(s.parser.GetCodecType(), adts ? 91 : 92);
    EXPECT_EQ(s.parser.Parse(1, s.descriptor), bytes.size());
    ASSERT_EQ(s.parser.Frames().GetCount(), 45u);
    size_t covered = 0;
    for (uint32_t i = 0; i < 45; ++i) {
      uint64_t address;
      FrameEntry e;
      ASSERT_TRUE(s.parser.Frames().Get(i, &address, &e));
      const AacFrameFields f = GetCodecFields<AacFrameFields>(e);
      EXPECT_EQ(f.channels, 2);
      EXPECT_EQ(f.sampleRate, 44100u);
      EXPECT_EQ(f.samples, 1024);
      EXPECT_EQ(f.bitRate, e.size * 8ull * 44100 / 1024);
      // ADTS: the 7-byte header and the access unit; LOAS: the 3-byte sync layer and an
      // AudioMuxElement (its configuration, length bytes and the access unit, not byte
      // aligned). The frames tile the file.
      const std::vector<uint8_t>& unit = units[i];
      ASSERT_GE(e.size, unit.size() + 3);
      EXPECT_EQ(e.frameOffset - 42u, covered) << "frame " << i;
      covered += e.size;
      if (adts) {
        EXPECT_EQ(e.size, unit.size() + 7);
        EXPECT_TRUE(std::equal(unit.begin(), unit.end(), bytes.data() + covered - unit.size())) << "frame " << i;
      }
    }
    EXPECT_EQ(covered, bytes.size());
    AudioFormat format;
    ASSERT_TRUE(s.parser.GetAudioFormat(format));
    EXPECT_EQ(format.sampleRate, 44100u);
    EXPECT_EQ(format.channels, 2u);
  }
}

TEST(AacParser, DetectionNeedsTwoFramesAndRejectsStartCodes) {
  const std::vector<uint8_t> adts = Load("aac-lc.adts");
  AdtsHeader h;
  ASSERT_TRUE(ReadAdtsHeader(adts.data(), adts.size(), h));
  // One frame only: nothing confirms the syncword, so codec type 91 is needed to open it.
  std::vector<uint8_t> one(adts.begin(), adts.begin() + h.frame_length);
  CAAC_Parser unknown;
  EXPECT_EQ(unknown.Open(one.data(), one.size(), 0), 0);
  CAAC_Parser told;
  EXPECT_EQ(told.Open(one.data(), one.size(), 91), 1);
  EXPECT_EQ(told.GetCodecType(), 91);
  // A start code before the frames: not AAC; with codec type 89 the stream is raw.
  std::vector<uint8_t> coded = {0, 0, 0, 1, 0x67};
  coded.insert(coded.end(), adts.begin(), adts.begin() + 2000);
  CAAC_Parser video;
  EXPECT_EQ(video.Open(coded.data(), coded.size(), 0), 0);
  CAAC_Parser raw;
  EXPECT_EQ(raw.Open(coded.data(), coded.size(), CAAC_Parser::kCodecType), 1);
  EXPECT_EQ(raw.Transport(), AacTransport::kRaw);
  // An ADTS header with layer 1 is no frame.
  std::vector<uint8_t> bad(adts.begin(), adts.begin() + 7);
  bad[1] |= 0x02;
  EXPECT_FALSE(ReadAdtsHeader(bad.data(), bad.size(), h));
}

class AacCapture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterAudioCodecs();
    ErrorList::Instance().Clear();
    capture_ = new CRTP_Parser();
    ASSERT_EQ(capture_->Open(kData + "aac-rtp.pcap"), OpenResult::kOk);
    ASSERT_TRUE(capture_->Analyse(nullptr));
  }
  static void TearDownTestSuite() {
    delete capture_;
    capture_ = nullptr;
  }
  static CAAC_Parser* StreamTo(uint16_t port) {
    for (uint32_t i = 0; i < capture_->Streams().size(); ++i) {
      if (capture_->Streams()[i].destinationPort == port) return dynamic_cast<CAAC_Parser*>(capture_->StreamObject(i));
    }
    return nullptr;
  }
  static std::string Tree(CAAC_Parser& s, uint32_t index) {
    CFieldTree tree;
    s.ShowFrameInfo(tree, index);
    s.ShowFrameDetail(tree, index);
    return RenderText(tree.Rows());
  }
  static CRTP_Parser* capture_;
};
CRTP_Parser* AacCapture::capture_ = nullptr;

TEST_F(AacCapture, Mpeg4GenericAccessUnitsAreCutByTheirAuHeaders) {
  CAAC_Parser* s = StreamTo(42000);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Transport(), AacTransport::kRtpAuHeaders);
  EXPECT_EQ(s->GetCodecType(), 89);
  EXPECT_EQ(s->Config().audioObjectType, 2u);  // from config=1210
  const std::vector<std::vector<uint8_t>> units = AdtsAccessUnits();
  ASSERT_EQ(s->Frames().GetCount(), 43u);
  for (uint32_t i = 0; i < 43; ++i) {
    uint32_t size = 0;
    uint64_t address = 0;
    const uint8_t* data = s->GetFrameData(i, &size, &address);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(size, units[i].size()) << "frame " << i;
    EXPECT_TRUE(std::equal(units[i].begin(), units[i].end(), data)) << "frame " << i;
  }
  const std::string text = Tree(*s, 5);
  test::ExpectContains(text, {"AU-headers-length", "AU-size                                      13",
      "AudioSpecificConfig (SDP config)", "44.100kHz"});
  // Silence of one frame's length per access unit.
  ASSERT_NE(s->DecodeFrame(0), ~uint64_t{0});
  EXPECT_EQ(s->PcmBytes(), 1024u * 2 * 2);
}

TEST_F(AacCapture, LatmAudioMuxElementsCarryOneAccessUnitEach) {
  CAAC_Parser* s = StreamTo(42010);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Transport(), AacTransport::kRtpLatm);
  EXPECT_EQ(s->GetCodecType(), 92);
  const std::vector<std::vector<uint8_t>> units = AdtsAccessUnits();
  ASSERT_EQ(s->Frames().GetCount(), 45u);
  for (uint32_t i = 0; i < 45; ++i) {
    uint32_t size = 0;
    uint64_t address = 0;
    const uint8_t* data = s->GetFrameData(i, &size, &address);
    ASSERT_NE(data, nullptr);
    // PayloadLengthInfo (bytes of 255 and the rest), then the access unit.
    const size_t lengthBytes = units[i].size() / 255 + 1;
    ASSERT_EQ(size, units[i].size() + lengthBytes) << "frame " << i;
    EXPECT_TRUE(std::equal(units[i].begin(), units[i].end(), data + lengthBytes)) << "frame " << i;
  }
  const std::string text = Tree(*s, 0);
  test::ExpectContains(text, {"PayloadLengthInfo[0]", "StreamMuxConfig (SDP config)", "audioObjectType"});
}

}  // namespace
}  // namespace fennik
