// xcaac_x64.so (AAC on FAAD2) as the AAC stream uses it: the mpeg4-generic and MP4A-LATM
// streams of tests/data/aac/aac-rtp.pcap (ffmpeg's AAC-LC encoder without perceptual noise
// substitution, see the README there) decoded through the module against ffmpeg's own
// decode of the same access units. FAAD2 gives silence for the first access unit (where
// ffmpeg outputs the encoder's priming): the comparison starts with the second.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/CAAC_Parser.h"
#include "codec/audio/CodecModules.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

const std::string kData = std::string(FENNIK_TEST_DATA) + "/aac/";

std::vector<int16_t> Reference() { return test::Pcm16(test::ReadFileBytes(kData + "aac-lc.ref.s16le")); }

class AacModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LoadCodecModules(FENNIK_MODULE_DIR);
    RegisterAudioCodecs();
  }
  static void TearDownTestSuite() { UnloadCodecModules(); }
};

TEST_F(AacModuleTest, RtpStreamsDecodeLikeFfmpegAbove60Db) {
  ASSERT_NE(CodecModuleTable(CodecModule::kAac), nullptr) << "xcaac_x64.so (libfaad-dev) is not built";
  ErrorList::Instance().Clear();
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(kData + "aac-rtp.pcap"), OpenResult::kOk);
  ASSERT_TRUE(capture.Analyse(nullptr));
  const std::vector<int16_t> reference = Reference();
  int checked = 0;
  for (uint32_t s = 0; s < capture.Streams().size(); ++s) {
    auto* aac = dynamic_cast<CAAC_Parser*>(capture.StreamObject(s));
    if (aac == nullptr) continue;
    SCOPED_TRACE(aac->GetMediaFormat().encodingName);
    std::vector<int16_t> pcm;
    const uint32_t frames = static_cast<uint32_t>(aac->Frames().GetCount());
    for (uint32_t i = 0; i < frames; ++i) {
      ASSERT_NE(aac->DecodeFrame(i), ~uint64_t{0});
      ASSERT_EQ(aac->PcmBytes(), 1024u * 2 * 2) << "frame " << i;
      pcm.insert(pcm.end(), aac->Pcm(), aac->Pcm() + aac->PcmBytes() / 2);
    }
    double signal = 0, noise = 0;
    for (size_t i = 2048; i < pcm.size() && i < reference.size(); ++i) {
      signal += double(reference[i]) * reference[i];
      noise += (double(reference[i]) - pcm[i]) * (double(reference[i]) - pcm[i]);
    }
    EXPECT_GE(10 * std::log10(signal / (noise + 1e-9)), 60.0);
    ++checked;
  }
  EXPECT_EQ(checked, 2);
}

}  // namespace
}  // namespace fennik
