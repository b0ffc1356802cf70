// The iLBC stream object on tests/data/ilbc/ilbc-sip-udp.pcap (scripts/make-ilbc-corpus: the
// corpus frames sent by ffmpeg's RTP muxer in three SIP calls, captured by tcpdump; tshark's
// fields in ilbc-sip-udp.pcap.tshark.tsv): the frame mode from the SDP or the payload size,
// framing, the parameters shown, and decoding through xcilbc_x64.so.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/CiLBC_Parser.h"
#include "codec/audio/CodecModules.h"
#include "codec/audio/ilbc/IlbcDecoder.h"
#include "view/CFieldTree.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

const std::string kData = std::string(FENNIK_TEST_DATA) + "/ilbc/";

// Payload lengths per RTP source port, from tshark.
std::vector<int> TsharkPayloads(uint16_t sourcePort) {
  std::ifstream file(kData + "ilbc-sip-udp.pcap.tshark.tsv");
  std::string line;
  std::getline(file, line);
  std::vector<int> lengths;
  while (std::getline(file, line)) {
    std::istringstream row(line);
    std::string field[8];
    for (auto& f : field) std::getline(row, f, '\t');
    if (std::stoi(field[1]) == sourcePort) lengths.push_back(std::stoi(field[7]));
  }
  return lengths;
}

std::vector<uint8_t> StorageFrames(int mode) {
  std::vector<uint8_t> bytes = test::ReadFileBytes(kData + "ilbc" + std::to_string(mode) + ".lbc");
  bytes.erase(bytes.begin(), bytes.begin() + 9);  // "#!iLBC20\n"
  return bytes;
}

class IlbcStream : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterAudioCodecs(); }
  // The streams hold decoders of the module: they go before the module is unloaded.
  void TearDown() override {
    capture_.Close();
    UnloadCodecModules();
  }

  void Analyse() {
    ErrorList::Instance().Clear();
    ASSERT_EQ(capture_.Open(kData + "ilbc-sip-udp.pcap"), OpenResult::kOk);
    ASSERT_TRUE(capture_.Analyse(nullptr));
  }
  CiLBC_Parser* Stream(uint16_t sourcePort) {
    for (uint32_t s = 0; s < capture_.Streams().size(); ++s) {
      if (capture_.Streams()[s].sourcePort == sourcePort) return dynamic_cast<CiLBC_Parser*>(capture_.StreamObject(s));
    }
    return nullptr;
  }

  CRTP_Parser capture_;
};

// Call 1 says mode=20, call 2 mode=30; call 3 has no fmtp, so its 100-byte payloads (two
// 30 ms frames) set the mode, though the SDP table's default for iLBC is 20.
TEST_F(IlbcStream, FrameModeFollowsSdpElsePayloadSize) {
  Analyse();
  struct Case {
    uint16_t port;
    int mode;
    bool signalled;
    uint32_t samplesPerPacket;
  } cases[] = {{28004, 20, true, 160}, {28014, 30, true, 240}, {28024, 30, false, 480}};
  for (const Case& c : cases) {
    CiLBC_Parser* s = Stream(c.port);
    ASSERT_NE(s, nullptr) << c.port;
    EXPECT_EQ(s->GetCodecType(), 116);
    EXPECT_STREQ(s->GetCodecName(), "iLBC");
    EXPECT_EQ(s->FrameMode(), c.mode) << c.port;
    EXPECT_EQ(s->ModeSignalled(), c.signalled) << c.port;
    const std::vector<int> lengths = TsharkPayloads(c.port);
    ASSERT_EQ(s->Frames().GetCount(), lengths.size()) << c.port;
    for (uint32_t i = 0; i < lengths.size(); ++i) {
      uint32_t size = 0;
      uint64_t address = 0;
      ASSERT_NE(s->GetFrameData(i, &size, &address), nullptr);
      ASSERT_EQ(size, static_cast<uint32_t>(lengths[i]));
    }
    // Frame times count the samples a packet holds.
    s->DecodeFrame(0);
    EXPECT_EQ(s->GetTime(10), 10ull * c.samplesPerPacket * 125) << c.port;
  }
}

// Without the module the frames are unpacked and shown, and decode to nothing.
TEST_F(IlbcStream, WithoutModuleFramesAreShownNotDecoded) {
  UnloadCodecModules();
  Analyse();
  CiLBC_Parser* s = Stream(28024);
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(s->HasModuleDecoder());
  s->DecodeFrame(3);
  EXPECT_EQ(s->PcmBytes(), 0u);
  ASSERT_EQ(s->Records().size(), 2u);  // two frames per packet
  const std::vector<uint8_t> frames = StorageFrames(30);
  for (size_t k = 0; k < 2; ++k) {
    ilbc::FrameParams expected;
    ilbc::UnpackFrame(frames.data() + (6 + k) * 50, 50, 30, expected);
    EXPECT_EQ(s->Records()[k].start, expected.start);
    EXPECT_EQ(0, std::memcmp(s->Records()[k].state, expected.state, sizeof expected.state));
    EXPECT_EQ(0, std::memcmp(s->Records()[k].cb, expected.cb, sizeof expected.cb));
  }
  CFieldTree tree;
  s->ShowFrameInfo(tree, 3);
  s->ShowFrameDetail(tree, 3);
  const std::string text = RenderText(tree.Rows());
  for (const char* label : {"iLBC AUDIO INFORMATION", "Internet Low Bit Rate Codec (iLBC)", "LSF 2 [3]",
                            "Quantized Residual State Samples [58]", "Gain for 22/23 sample block [3]",
                            "Indices for CB sub-blocks sub-block 4 [3]", "Gains for sub-blocks sub-block 4 [1]",
                            "Empty frame indicator", "Bitrate", "13kbps", "480 samples"}) {
    EXPECT_NE(text.find(label), std::string::npos) << label;
  }
  // The frame's place and time come first, then iLBC's own format block.
  EXPECT_LT(text.find("Timecode"), text.find("Format"));
  EXPECT_LT(text.find("File Address"), text.find("Samples"));
}

// Through the module, a stream decodes to exactly what the decoder core gives for the same
// frames, one packet after the other (20 ms: one frame per packet; call 3: two 30 ms frames).
TEST_F(IlbcStream, DecodesThroughTheModuleLikeTheCore) {
  ASSERT_GE(LoadCodecModules(FENNIK_MODULE_DIR), 1);
  ASSERT_NE(CodecModuleTable(CodecModule::kIlbc), nullptr);
  Analyse();
  for (auto [port, mode] : {std::pair<uint16_t, int>{28004, 20}, {28024, 30}}) {
    CiLBC_Parser* s = Stream(port);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->HasModuleDecoder());
    std::vector<int16_t> pcm;
    for (uint32_t i = 0; i < s->Frames().GetCount(); ++i) {
      ASSERT_NE(s->DecodeFrame(i), ~uint64_t{0});
      pcm.insert(pcm.end(), s->Pcm(), s->Pcm() + s->PcmBytes() / 2);
    }
    const std::vector<uint8_t> frames = StorageFrames(mode);
    ilbc::Decoder core(mode);
    std::vector<int16_t> expected(pcm.size());
    const size_t bytes = static_cast<size_t>(ilbc::FrameBytes(mode));
    const size_t n = static_cast<size_t>(core.samples());
    for (size_t f = 0; (f + 1) * n <= expected.size(); ++f) core.Decode(frames.data() + f * bytes, bytes, &expected[f * n]);
    EXPECT_EQ(pcm, expected) << port;
    EXPECT_GT(pcm.size(), 28000u);
  }
  // The notice is our own.
  EXPECT_NE(CodecModuleNotices().find("RFC 3951"), std::string::npos);
}

// The module on its own: an empty input is a lost frame; a mode other than 20/30 is refused.
TEST_F(IlbcStream, ModuleConcealsEmptyInputAndRefusesOtherModes) {
  ASSERT_GE(LoadCodecModules(FENNIK_MODULE_DIR), 1);
  const CodecModuleOps* ops = CodecModuleTable(CodecModule::kIlbc);
  ASSERT_NE(ops, nullptr);
  CodecModuleConfig config;
  config.channels = 1;
  config.sampleRate = 8000;
  config.frameMode = 25;
  EXPECT_EQ(ops->Create(1, &config), nullptr);
  config.frameMode = 20;
  EXPECT_EQ(ops->Create(2, &config), nullptr);
  void* h = ops->Create(1, &config);
  ASSERT_NE(h, nullptr);
  const std::vector<uint8_t> frames = StorageFrames(20);
  int16_t out[480];
  uint8_t info[16] = {};
  EXPECT_EQ(ops->Decode(h, 0, frames.data(), 76, out, 480, info), 320);  // two frames
  EXPECT_EQ(ops->Decode(h, 0, frames.data(), 76, out, 200, info), 160);  // room for one
  EXPECT_EQ(ops->Decode(h, 0, nullptr, 0, out, 480, info), 160);        // concealed
  EXPECT_EQ(ops->Decode(h, 0, frames.data(), 20, out, 100, info), 0);    // no room
  ops->Reset(h);
  ops->Destroy(h);
}

}  // namespace
}  // namespace fennik
