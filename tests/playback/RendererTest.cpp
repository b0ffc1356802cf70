// The renderer's contract over its outputs: block size, the open/start/stop/close states,
// the blocks pulled from the listener arriving at the output in order, the end marker, a
// stop that ends the pulls, a refusing device; and the ALSA output for real through ALSA's
// "file" plugin configured by the test (ALSA_CONFIG_PATH names an asoundrc written here).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <mutex>

#include "playback/CAlsaOutput.h"
#include "playback/CMMERenderer.h"
#include "playback/CPacedOutput.h"
#include "tests/playback/PlaybackTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

// Set before the first ALSA call of the process (static initialisation runs before main).
const test::TempDir g_dir;
const std::string g_alsaRaw = g_dir / "alsa-out.raw";
const bool g_alsaConfigured = [] {
  const std::string conf = g_dir / "asoundrc";
  test::WriteFile(conf, "pcm.fennik_test_null { type null }\n"
                        "pcm.fennik_test_file {\n"
                        "  type file\n"
                        "  slave.pcm \"fennik_test_null\"\n"
                        "  file \"" + g_alsaRaw + "\"\n"
                        "  format \"raw\"\n"
                        "}\n"
                        "pcm.fennik_test_nocard { type hw card 63 }\n");
  setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
  return true;
}();

uint8_t PatternByte(uint64_t position) { return static_cast<uint8_t>(1 + position % 251); }

// Delivers `blocks` blocks of a counted byte pattern, then nothing (the end of the data).
class PatternListener : public CSoundListener {
 public:
  explicit PatternListener(uint32_t blocks) : blocks_(blocks) {}
  uint32_t OnRequestData(uint8_t* buffer, uint32_t bytes) override {
    std::lock_guard lock(mutex_);
    ++requests_;
    signal_.notify_all();
    if (delivered_ >= blocks_) return 0;
    for (uint32_t i = 0; i < bytes; ++i) buffer[i] = PatternByte(position_ + i);
    position_ += bytes;
    ++delivered_;
    return bytes;
  }
  void OnDataEnd() override {
    std::lock_guard lock(mutex_);
    ++ends_;
    signal_.notify_all();
  }
  bool WaitForEnd(uint32_t count = 1) {
    std::unique_lock lock(mutex_);
    return signal_.wait_for(lock, test::kBound, [&] { return ends_ >= count; });
  }
  bool WaitForRequests(uint32_t count) {
    std::unique_lock lock(mutex_);
    return signal_.wait_for(lock, test::kBound, [&] { return requests_ >= count; });
  }
  uint32_t Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  uint32_t Ends() {
    std::lock_guard lock(mutex_);
    return ends_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  const uint32_t blocks_;
  uint32_t delivered_ = 0;
  uint32_t requests_ = 0;
  uint32_t ends_ = 0;
  uint64_t position_ = 0;
};

std::vector<uint8_t> Pattern(size_t bytes) {
  std::vector<uint8_t> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = PatternByte(i);
  return v;
}

TEST(RendererTest, BlocksReachTheWavOutputInOrderAndTheEndMarkerComesBack) {
  const std::string wav = g_dir / "renderer.wav";
  PatternListener listener(5);
  CMMERenderer renderer(std::make_unique<CWavOutput>(wav, 50.0));
  renderer.SetListener(&listener);
  EXPECT_EQ(renderer.BlockSize(), CBaseRenderer::kInitialBlockSize);
  ASSERT_EQ(renderer.Open(1, 8000, 16, 100), 1);
  EXPECT_EQ(renderer.BlockSize(), 1600u);  // 8 samples a millisecond x 2 bytes x 100 ms
  EXPECT_TRUE(renderer.IsOpen());
  EXPECT_FALSE(renderer.IsPlaying());
  // A second open is refused and changes nothing.
  EXPECT_EQ(renderer.Open(2, 48000, 16, 100), 0);
  EXPECT_EQ(renderer.BlockSize(), 1600u);
  EXPECT_EQ(renderer.GetFormat().samplesPerSec, 8000u);
  EXPECT_EQ(renderer.GetFormat().blockAlign, 2);
  EXPECT_EQ(renderer.GetFormat().avgBytesPerSec, 16000u);

  ASSERT_EQ(renderer.Start(), 1);
  EXPECT_TRUE(renderer.IsPlaying());
  EXPECT_EQ(renderer.Start(), 1);  // already playing
  ASSERT_TRUE(listener.WaitForEnd(2));
  EXPECT_EQ(renderer.Stop(), 1);
  EXPECT_FALSE(renderer.IsPlaying());
  renderer.Close();
  EXPECT_FALSE(renderer.IsOpen());
  EXPECT_EQ(renderer.Stop(), 0);  // not open
  // Both blocks come back empty after the data, each with the end marker.
  EXPECT_EQ(listener.Ends(), 2u);
  EXPECT_EQ(listener.Requests(), 7u);
  EXPECT_EQ(renderer.BlocksPlayed(), 5u);

  uint32_t channels = 0, rate = 0;
  const auto data = test::WavData(test::ReadFileBytes(wav), &channels, &rate);
  EXPECT_EQ(channels, 1u);
  EXPECT_EQ(rate, 8000u);
  EXPECT_EQ(data, Pattern(5 * 1600));
}

TEST(RendererTest, StopEndsThePullsAndStartResumesThem) {
  PatternListener listener(1000000);
  CMMERenderer renderer(std::make_unique<CNullOutput>(20.0));
  renderer.SetListener(&listener);
  ASSERT_EQ(renderer.Open(2, 8000, 16, 20), 1);
  EXPECT_EQ(renderer.BlockSize(), 640u);
  ASSERT_EQ(renderer.Start(), 1);
  ASSERT_TRUE(listener.WaitForRequests(6));
  ASSERT_EQ(renderer.Stop(), 1);
  const uint32_t atStop = listener.Requests();
  EXPECT_EQ(renderer.Stop(), 1);  // stopped again: still open
  // Start pulls the two blocks itself before it returns.
  ASSERT_EQ(renderer.Start(), 1);
  EXPECT_GE(listener.Requests(), atStop + 2);
  ASSERT_TRUE(listener.WaitForRequests(atStop + 6));
  renderer.Close();
  const uint32_t atClose = listener.Requests();
  // The closed renderer's feeder has ended: while a second renderer at the same pace pulls
  // six blocks, the first listener is asked for nothing more.
  PatternListener witness(1000000);
  CMMERenderer second(std::make_unique<CNullOutput>(20.0));
  second.SetListener(&witness);
  ASSERT_EQ(second.Open(2, 8000, 16, 20), 1);
  ASSERT_EQ(second.Start(), 1);
  ASSERT_TRUE(witness.WaitForRequests(6));
  second.Close();
  EXPECT_EQ(listener.Requests(), atClose);
  EXPECT_EQ(listener.Ends(), 0u);
}

TEST(RendererTest, RefusingDeviceLeavesTheRendererClosedAndUsable) {
  PatternListener listener(2);
  CMMERenderer renderer(std::make_unique<test::RefusingOutput>());
  renderer.SetListener(&listener);
  EXPECT_EQ(renderer.Open(2, 8000, 16, 100), 0);
  EXPECT_FALSE(renderer.IsOpen());
  EXPECT_EQ(renderer.Start(), 0);
  EXPECT_EQ(renderer.Open(2, 8000, 8, 100), 0);  // only 16-bit PCM is played
  renderer.SetOutput(std::make_unique<CNullOutput>(50.0));
  ASSERT_EQ(renderer.Open(2, 8000, 16, 100), 1);
  ASSERT_EQ(renderer.Start(), 1);
  EXPECT_TRUE(listener.WaitForEnd());
  renderer.Close();
  EXPECT_EQ(listener.Requests(), 4u);  // two blocks of data, then the two empty ones
}

TEST(RendererTest, AlsaFilePluginReceivesTheBlocks) {
  ASSERT_TRUE(g_alsaConfigured);
  std::remove(g_alsaRaw.c_str());
  PatternListener listener(7);
  CMMERenderer renderer(std::make_unique<CAlsaOutput>("fennik_test_file"));
  renderer.SetListener(&listener);
  EXPECT_EQ(renderer.FindDevice("fennik_test_file"), 0u);
  EXPECT_EQ(renderer.SelectDevice(0), 1);
  EXPECT_EQ(renderer.SelectDevice(100000), 0);
  ASSERT_EQ(renderer.Open(2, 8000, 16, 100), 1);
  EXPECT_EQ(renderer.BlockSize(), 3200u);
  ASSERT_EQ(renderer.Start(), 1);
  ASSERT_TRUE(listener.WaitForEnd());
  renderer.Close();
  EXPECT_EQ(test::ReadFileBytes(g_alsaRaw), Pattern(7 * 3200));
}

TEST(RendererTest, AlsaDeviceThatCannotBeOpenedFailsTheOpen) {
  ASSERT_TRUE(g_alsaConfigured);
  PatternListener listener(1);
  for (const char* name : {"fennik_test_nocard", "fennik_test_undefined"}) {
    CMMERenderer renderer(std::make_unique<CAlsaOutput>(name));
    renderer.SetListener(&listener);
    EXPECT_EQ(renderer.Open(2, 8000, 16, 100), 0) << name;
    EXPECT_FALSE(renderer.IsOpen());
  }
  EXPECT_EQ(listener.Requests(), 0u);
}

}  // namespace
}  // namespace fennik
