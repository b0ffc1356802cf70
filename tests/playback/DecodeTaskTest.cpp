// The worker task with its real threads: the load messages, audio play through the WAV
// and null outputs (message sequence, the PCM that reaches the file, stop within one round,
// the end after 101 empty rounds, a refusing device), CSV and extraction requests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>

#include "codec/audio/AudioCodecs.h"
#include "playback/CDecodeTaskX.h"
#include "playback/CPacedOutput.h"
#include "stream/CAudio_Stream.h"
#include "tests/playback/PlaybackTestSupport.h"

namespace fennik {
namespace {

// sample.pcap: two PCMU (G.711 u-law, 8000 Hz mono) directions of 150 packets each.
const std::string kSample = test::TestData("sample.pcap");
constexpr uint32_t kBlockBytes = 8 * 4 * 100;  // 8000 Hz stereo 16-bit, 100 ms

// A temporary folder of the test program, removed at its end.
const test::TempDir g_dir;

std::string TempName(const char* name) { return g_dir / name; }

class DecodeTaskTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterAudioCodecs(); }

  void StartLoaded() {
    ASSERT_EQ(capture_.Open(kSample), OpenResult::kOk);
    task_.Start(&window_, &capture_);
    ASSERT_TRUE(window_.WaitFor(kMsgLoadEnd));
    ASSERT_GE(capture_.Streams().size(), 1u);
  }

  // Runs one play of `stream` and waits for its end message.
  WorkerMessage Play(CAvStream* stream) {
    window_.Clear();
    task_.SetCurrentStream(stream);
    EXPECT_EQ(task_.HandleCommand(kCommandPlay), 1);
    EXPECT_TRUE(window_.WaitFor(kMsgPlayEnd));
    EXPECT_TRUE(test::MessageRecorder::WaitIdle(task_));
    for (const WorkerMessage& m : window_.Messages()) {
      if (m.id == kMsgPlayEnd) return m;
    }
    return {};
  }

  CRTP_Parser capture_;
  test::MessageRecorder window_;
  CDecodeTaskX task_;
};

// The PCM the playback receives for every frame of a stream, decoded on a capture of its own.
std::vector<uint8_t> AsPlayedPcm(uint32_t streamIndex) {
  CRTP_Parser capture;
  EXPECT_EQ(capture.Open(kSample), OpenResult::kOk);
  capture.Analyse(nullptr);
  auto* audio = dynamic_cast<CAudio_Stream*>(capture.StreamObject(streamIndex));
  EXPECT_NE(audio, nullptr);
  std::vector<uint8_t> pcm;
  if (audio == nullptr) return pcm;
  std::vector<int16_t> buffer(1 << 16);
  AudioFrame frame;
  frame.samples = buffer.data();
  frame.capacityBytes = static_cast<uint32_t>(buffer.size() * 2);
  for (uint32_t i = 0; i < audio->Frames().GetCount(); ++i) {
    EXPECT_EQ(audio->GetAudioFrame(i, frame), 1);
    const auto* bytes = reinterpret_cast<const uint8_t*>(frame.samples);
    pcm.insert(pcm.end(), bytes, bytes + frame.validBytes);
  }
  return pcm;
}

TEST_F(DecodeTaskTest, LoadReportsProgressAndEndsWithSuccess) {
  StartLoaded();
  // Load start, the capture's page and one page per stream object (the sample's two G.711
  // streams), load end.
  const auto ids = window_.Ids();
  ASSERT_EQ(ids.size(), 5u);
  EXPECT_EQ(ids[0], kMsgLoadStart);
  for (size_t i = 1; i <= 3; ++i) EXPECT_EQ(ids[i], kMsgPageCreated);
  EXPECT_EQ(window_.Messages()[1].stream, nullptr);
  for (size_t i = 2; i <= 3; ++i) {
    EXPECT_EQ(window_.Messages()[i].stream, capture_.StreamObject(static_cast<uint32_t>(window_.Messages()[i].value)));
    EXPECT_NE(window_.Messages()[i].stream, nullptr);
  }
  EXPECT_EQ(ids[4], kMsgLoadEnd);
  EXPECT_EQ(window_.Messages()[4].value, 1u);
  ASSERT_FALSE(window_.Progress().empty());
  EXPECT_EQ(window_.LastProgressText().rfind("Loading ... ", 0), 0u) << window_.LastProgressText();
  EXPECT_TRUE(task_.HasWorker());
  task_.Stop();
  EXPECT_FALSE(task_.HasWorker());
  EXPECT_EQ(task_.HandleCommand(kCommandPlay), 1);  // no worker: nothing queued, no hang
}

TEST_F(DecodeTaskTest, CancelledLoadEndsTheWorker) {
  ASSERT_EQ(capture_.Open(kSample), OpenResult::kOk);
  // The progress dialog's Cancel, pressed at the first progress report.
  window_.onProgress = [this](int) { task_.CancelLoad(); };
  task_.Start(&window_, &capture_);
  ASSERT_TRUE(window_.WaitFor(kMsgLoadEnd));
  window_.onProgress = nullptr;
  EXPECT_EQ(window_.Messages().back().value, 0u);
  task_.Stop();
  EXPECT_FALSE(task_.HasWorker());
}

TEST_F(DecodeTaskTest, PlayThroughTheWavOutputDeliversExactlyTheDecodedPcm) {
  const std::string wav = TempName("play.wav");
  task_.Renderer().SetOutput(std::make_unique<CWavOutput>(wav, 8.0));
  StartLoaded();
  CAvStream* stream = capture_.StreamObject(0);
  ASSERT_NE(stream, nullptr);
  const uint64_t frames = stream->Frames().GetCount();
  ASSERT_EQ(frames, 150u);

  const WorkerMessage end = Play(stream);
  EXPECT_EQ(end.value, kPlayEnded);
  EXPECT_EQ(end.stream, stream);
  const auto messages = window_.Messages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages.front().id, kMsgPlayStart);
  EXPECT_EQ(messages.front().stream, stream);
  EXPECT_EQ(messages.back().id, kMsgPlayEnd);
  // One 1040 per frame, in frame order.
  uint64_t nextFrame = 0;
  for (size_t i = 1; i + 1 < messages.size(); ++i) {
    ASSERT_EQ(messages[i].id, kMsgPlayFrame);
    EXPECT_EQ(messages[i].value, nextFrame++);
    EXPECT_EQ(messages[i].stream, stream);
  }
  EXPECT_EQ(nextFrame, frames);
  EXPECT_FALSE(task_.Renderer().IsOpen());

  uint32_t channels = 0, rate = 0;
  const auto played = test::WavData(test::ReadFileBytes(wav), &channels, &rate);
  EXPECT_EQ(channels, 2u);  // the mono stream is played as stereo
  EXPECT_EQ(rate, 8000u);
  const auto expected = AsPlayedPcm(0);
  ASSERT_EQ(expected.size(), 150u * 160 * 4);
  EXPECT_EQ(test::ComparePlayedBlocks(played, expected, kBlockBytes), "");


  // The task stays usable: the other direction plays as well.
  EXPECT_EQ(Play(capture_.StreamObject(1)).value, kPlayEnded);
}

TEST_F(DecodeTaskTest, StopEndsThePlayWithinOneRound) {
  task_.Renderer().SetOutput(std::make_unique<CNullOutput>(1.0));
  StartLoaded();
  constexpr uint64_t kStopAt = 10;
  std::atomic<uint64_t> framesSeen{0};
  window_.onMessage = [&](const WorkerMessage& m) {
    // As if Stop were pressed just as frame kStopAt is written.
    if (m.id == kMsgPlayFrame && ++framesSeen == kStopAt) task_.HandleCommand(kCommandStop);
  };
  const WorkerMessage end = Play(capture_.StreamObject(0));
  window_.onMessage = nullptr;
  EXPECT_EQ(end.value, kPlayStopped);
  EXPECT_EQ(framesSeen.load(), kStopAt);  // no frame after the round that saw the stop
  EXPECT_FALSE(task_.Renderer().IsOpen());
  EXPECT_FALSE(task_.IsBusy());
}

// Closing the capture while a play runs: Stop closes the renderer, ends the play through
// the running flag and ends the worker; the play still reports its end.
TEST_F(DecodeTaskTest, TaskStopDuringAPlayEndsEverything) {
  task_.Renderer().SetOutput(std::make_unique<CNullOutput>(1.0));
  StartLoaded();
  window_.Clear();
  task_.SetCurrentStream(capture_.StreamObject(0));
  ASSERT_EQ(task_.HandleCommand(kCommandPlay), 1);
  ASSERT_TRUE(window_.WaitFor(kMsgPlayFrame));
  task_.Stop();
  EXPECT_FALSE(task_.HasWorker());
  EXPECT_FALSE(task_.IsBusy());
  EXPECT_FALSE(task_.Renderer().IsOpen());
  const auto messages = window_.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().id, kMsgPlayEnd);
  EXPECT_EQ(messages.back().value, kPlayStopped);
  EXPECT_LT(messages.size(), 150u + 2);  // not every frame was played
}

// An audio stream whose decoder yields no PCM and that never reaches its end.
class SilentStream : public CAvStream {
 public:
  std::atomic<int> calls{0};
  void ReleaseDecoder() override {}
  void ResetDecoder() override {}
  int Open(const uint8_t*, size_t, int32_t) override { return 1; }
  uint64_t DecodeFrame(uint32_t) override { return 0; }
  uint64_t GetTime(uint32_t) override { return 0; }
  int32_t GetCodecType() const override { return 106; }
  const char* GetCodecName() const override { return "silent"; }
  size_t Parse(uint32_t, CPayloadDescriptor&) override { return 0; }
  const uint8_t* GetFrameData(uint32_t, uint32_t*, uint64_t*) override { return nullptr; }
  bool IsVideo() const override { return false; }
  bool IsEnd() const override { return false; }
  int GetAudioFormat(AudioFormat& format) const override {
    format.channels = 1;
    format.sampleRate = 8000;
    format.bitsPerSample = 16;
    format.samples = 160;
    return 1;
  }
  int GetAudioFrame(uint32_t, AudioFrame& frame) override {
    ++calls;
    frame.validBytes = 0;
    return 1;
  }
};

TEST_F(DecodeTaskTest, StreamThatYieldsNothingEndsAfter101EmptyRounds) {
  task_.Renderer().SetOutput(std::make_unique<CNullOutput>(4.0));
  task_.Start(&window_, nullptr, true);
  ASSERT_TRUE(window_.WaitFor(kMsgLoadEnd));
  SilentStream silent;
  window_.Clear();
  task_.SetCurrentStream(&silent);
  EXPECT_EQ(task_.HandleCommand(kCommandPlay), 1);
  EXPECT_EQ(task_.HandleCommand(kCommandPlay), 1);  // pressed again at once: ignored
  ASSERT_TRUE(window_.WaitFor(kMsgPlayEnd));
  EXPECT_EQ(window_.Ids(), (std::vector<uint32_t>{kMsgPlayStart, kMsgPlayEnd}));
  EXPECT_EQ(window_.Messages().back().value, kPlayNothingDecoded);
  EXPECT_EQ(silent.calls.load(), 101);
  task_.Stop();
}

// An audio stream of `frames` frames of 20 ms at 8000 Hz stereo (640 bytes each) holding a
// counted pattern, so the played PCM can be told apart from silence and from reordering.
class PatternStream : public SilentStream {
 public:
  explicit PatternStream(uint32_t frames) : frames_(frames) {}
  static uint8_t Byte(size_t position) { return static_cast<uint8_t>(1 + position % 253); }
  bool IsEnd() const override { return currentFrame_ != kNone && currentFrame_ + 1 >= frames_; }
  int GetAudioFrame(uint32_t index, AudioFrame& frame) override {
    if (index == kNone) index = currentFrame_ + 1;
    if (index >= frames_) return 0;
    currentFrame_ = index;
    auto* bytes = reinterpret_cast<uint8_t*>(frame.samples);
    for (uint32_t i = 0; i < kFrameBytes; ++i) bytes[i] = Byte(size_t{index} * kFrameBytes + i);
    frame.validBytes = kFrameBytes;
    return 1;
  }
  std::vector<uint8_t> All() const {
    std::vector<uint8_t> v(size_t{frames_} * kFrameBytes);
    for (size_t i = 0; i < v.size(); ++i) v[i] = Byte(i);
    return v;
  }
  static constexpr uint32_t kFrameBytes = 640;

 private:
  const uint32_t frames_;
};

// 7 frames are 1.4 blocks: the last 0.4 block is played padded with silence rather than
// left in the FIFO.
TEST_F(DecodeTaskTest, TailShorterThanABlockIsPlayed) {
  const std::string wav = TempName("tail.wav");
  task_.Renderer().SetOutput(std::make_unique<CWavOutput>(wav, 8.0));
  task_.Start(&window_, nullptr, true);
  ASSERT_TRUE(window_.WaitFor(kMsgLoadEnd));
  PatternStream stream(7);
  EXPECT_EQ(Play(&stream).value, kPlayEnded);
  uint32_t channels = 0;
  const auto played = test::WavData(test::ReadFileBytes(wav), &channels);
  EXPECT_EQ(channels, 2u);
  EXPECT_EQ(test::ComparePlayedBlocks(played, stream.All(), kBlockBytes), "");
  task_.Stop();
}

TEST_F(DecodeTaskTest, DeviceThatRefusesEndsThePlayAndTheTaskStaysUsable) {
  task_.Renderer().SetOutput(std::make_unique<test::RefusingOutput>());
  StartLoaded();
  const WorkerMessage end = Play(capture_.StreamObject(0));
  EXPECT_EQ(end.value, kPlayDeviceOpenFailed);
  EXPECT_EQ(window_.Ids(), (std::vector<uint32_t>{kMsgPlayStart, kMsgPlayEnd}));
  // A play with no current stream posts nothing.
  window_.Clear();
  task_.SetCurrentStream(nullptr);
  TaskRequest csv;
  csv.id = kRequestCsv;
  csv.csv.fileName = TempName("after-refusal.csv");
  csv.csv.start = 0;
  csv.csv.end = 9;
  ASSERT_TRUE(task_.PostRequest(csv));
  ASSERT_TRUE(window_.WaitFor(kMsgCsvEnd));
  ASSERT_TRUE(test::MessageRecorder::WaitIdle(task_));
  EXPECT_EQ(window_.Messages().back().value, 1u);
}

class CountingExtraction : public CExtractionRequest {
 public:
  std::atomic<int> runs{0};
  std::atomic<CRTP_Parser*> seen{nullptr};
  int Run(CRTP_Parser& capture, CAvEventListener* progress) override {
    ++runs;
    seen = &capture;
    if (progress) progress->OnProgress(50, 100);
    return 1;
  }
};

TEST_F(DecodeTaskTest, CsvAndExtractionRequestsAreAnsweredWithStartAndEnd) {
  StartLoaded();
  window_.Clear();
  TaskRequest csv;
  csv.id = kRequestCsv;
  csv.csv.fileName = TempName("list.csv");
  csv.csv.start = 0;
  csv.csv.end = 299;
  ASSERT_TRUE(task_.PostRequest(csv));
  ASSERT_TRUE(window_.WaitFor(kMsgCsvEnd));
  ASSERT_TRUE(test::MessageRecorder::WaitIdle(task_));
  EXPECT_EQ(window_.Ids(), (std::vector<uint32_t>{kMsgCsvStart, kMsgCsvEnd}));
  EXPECT_EQ(window_.Messages().back().value, 1u);
  EXPECT_FALSE(test::ReadFileBytes(csv.csv.fileName).empty());

  // A file that cannot be created is reported with result 0.
  window_.Clear();
  csv.csv.fileName = "/nonexistent-dir/list.csv";
  ASSERT_TRUE(task_.PostRequest(csv));
  ASSERT_TRUE(window_.WaitFor(kMsgCsvEnd));
  ASSERT_TRUE(test::MessageRecorder::WaitIdle(task_));
  EXPECT_EQ(window_.Messages().back().value, 0u);

  window_.Clear();
  auto extraction = std::make_shared<CountingExtraction>();
  TaskRequest extract;
  extract.id = kRequestExtract;
  extract.extraction = extraction;
  ASSERT_TRUE(task_.PostRequest(extract));
  ASSERT_TRUE(window_.WaitFor(kMsgExtractEnd));
  ASSERT_TRUE(test::MessageRecorder::WaitIdle(task_));
  EXPECT_EQ(window_.Ids(), (std::vector<uint32_t>{kMsgExtractStart, kMsgExtractEnd}));
  EXPECT_EQ(window_.Messages().back().value, 1u);
  EXPECT_EQ(extraction->runs.load(), 1);
  EXPECT_EQ(extraction->seen.load(), &capture_);
  EXPECT_EQ(window_.Progress().back(), 50);
}

}  // namespace
}  // namespace fennik
