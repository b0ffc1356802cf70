#include "playback/CDecodeTaskX.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>

#include "base/DebugPrint.h"
#include "codec/video/CVideo_Stream.h"
#include "stream/AudioTimeline.h"

namespace fennik {
namespace {

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

CDecodeTaskX::CDecodeTaskX() = default;

CDecodeTaskX::~CDecodeTaskX() {
  Stop();
  fifo_.Clear();
  renderer_.Release();
}

bool CDecodeTaskX::Start(CTaskListener* window, CRTP_Parser* container, bool loaded) {
  if (worker_.joinable()) return false;
  renderer_.SetListener(this);
  renderer_.SelectDevice(0);
  window_ = window;
  container_ = container;
  quitting_ = false;
  {
    std::lock_guard lock(queueMutex_);
    queue_.clear();
  }
  std::promise<void> published;
  std::future<void> ready = published.get_future();
  worker_ = std::thread([this, loaded, &published] {
    workerAlive_ = true;
    published.set_value();
    WorkerMain(loaded);
  });
  ready.wait();
  return true;
}

void CDecodeTaskX::Post(uint32_t id, uint64_t value, CAvStream* stream) {
  if (window_ == nullptr) return;
  WorkerMessage message;
  message.id = id;
  message.value = value;
  message.stream = stream;
  if (id == kMsgSdpMissing) message.container = container_;
  window_->OnWorkerMessage(message);
}

void CDecodeTaskX::WorkerMain(bool loaded) {
  busy_ = 0;
  Post(kMsgLoadStart);
  const bool ok = loaded || (container_ != nullptr && container_->Analyse(this));
  if (!ok) {
    workerAlive_ = false;
    Post(kMsgLoadEnd, 0);
    return;
  }
  // The pages of the loaded capture, before the load's end: its own page, then one per
  // stream object (the window builds a page for the kinds of stream it can show).
  if (container_ != nullptr) {
    Post(kMsgPageCreated, ~uint64_t{0}, nullptr);
    for (uint32_t i = 0; i < container_->Streams().size(); ++i) {
      if (CAvStream* stream = container_->StreamObject(i)) Post(kMsgPageCreated, i, stream);
    }
  }
  Post(kMsgLoadEnd, 1);
  for (;;) {
    TaskRequest request;
    {
      std::unique_lock lock(queueMutex_);
      queueSignal_.wait(lock, [this] { return !queue_.empty() || displayJob_; });
      if (queue_.empty()) {
        std::function<void()> job = std::move(displayJob_);
        displayJob_ = nullptr;
        lock.unlock();
        job();
        continue;
      }
      request = std::move(queue_.front());
      queue_.pop_front();
      if (request.id == kRequestQuit) break;
      busy_ = 1;
    }
    HandleRequest(request);
    std::lock_guard lock(queueMutex_);
    busy_ = 0;
  }
  workerAlive_ = false;
}

void CDecodeTaskX::HandleRequest(const TaskRequest& request) {
  switch (request.id) {
    case kRequestPlay: {
      CAvStream* stream = currentStream_.load();
      if (stream == nullptr) break;
      Post(kMsgPlayStart, 0, stream);
      running_ = 1;
      PlayEnd end = kPlayNotAudio;
      if (stream->IsVideo()) end = PlayVideo(*stream);
      else if (stream->IsAudio()) end = PlayAudio(*stream);
      running_ = 0;
      Post(kMsgPlayEnd, end, stream);
      break;
    }
    case kRequestExtract:
    case kRequestCsv: {
      if (container_ == nullptr || running_.load() != 0) break;
      const bool csv = request.id == kRequestCsv;
      Post(csv ? kMsgCsvStart : kMsgExtractStart);
      SleepMs(100);  // lets the window show its progress dialog first
      running_ = 1;
      int result = 0;
      if (csv) {
        result = WriteCsvFile(*container_, request.csv);
      } else if (request.extraction) {
        result = request.extraction->Run(*container_, this);
      }
      running_ = 0;
      Post(csv ? kMsgCsvEnd : kMsgExtractEnd, static_cast<uint64_t>(result));
      break;
    }
    default:
      break;
  }
}

PlayEnd CDecodeTaskX::DeviceStartFailed() {
  inputDone_ = true;
  renderer_.Close();
  pcm_.clear();
  // A stop that came while the device was being started is a stop, not a device fault.
  return running_.load() == 0 || quitting_.load() ? kPlayStopped : kPlayDeviceStartFailed;
}

PlayEnd CDecodeTaskX::PlayAudio(CAvStream& stream) {
  AudioFormat format;
  if (!stream.GetAudioFormat(format) || format.sampleRate == 0) return kPlayNoFormat;
  AudioFrame frame;
  frame.format = format;
  const uint32_t rate = format.sampleRate;

  if (!renderer_.IsOpen() && !renderer_.Open(2, rate, 16, kBlockMs)) {
    DebugPrint("[CDecodeTaskX] render device open error\n");
    return kPlayDeviceOpenFailed;
  }
  inputDone_ = false;
  fifo_.Resize(std::max(rate, kMinFifoBytes));
  // The device starts once the FIFO holds two of its blocks (or can take no more, or the
  // stream has ended): started at once, a slow first decode left it a partly filled block,
  // played as a block of silence in the middle of the first frames.
  const uint64_t primeBytes = 2ull * kBlockMs * rate / 1000 * 4;  // 16-bit stereo
  bool started = renderer_.IsPlaying();
  auto startDevice = [&]() -> bool {
    if (started) return true;
    if (!renderer_.Start()) return false;
    started = true;
    DebugPrint("[CDecodeTaskX] play start\n");
    return true;
  };
  const uint32_t samples = std::max<uint32_t>(format.samples, 8192);
  if (pcm_.size() < size_t{samples} * 2) pcm_.assign(size_t{samples} * 2, 0);  // 4 bytes a sample
  DebugPrint("open sound device : frq=%d, samples=%d\n", static_cast<int>(rate), static_cast<int>(samples));
  frame.samples = pcm_.data();
  frame.capacityBytes = static_cast<uint32_t>(pcm_.size() * sizeof(int16_t));

  PlayEnd end = kPlayStopped;
  const uint8_t* chunk = nullptr;
  uint32_t chunkLength = 0;  // bytes of the chunk not yet written
  // Frames play on the RTP timeline (unless the stream is set to concatenate): the gap
  // before a frame is written as silence first, a frame whose time has passed is skipped.
  CAudioTimeline timeline(stream.RtpClockRate() != 0 ? stream.RtpClockRate() : rate, rate,
                          stream.Concatenated());
  uint64_t silenceBytes = 0;  // silence still to write before the chunk
  const std::vector<uint8_t> zeros(4096, 0);
  bool firstRound = true;
  int idle = 0;
  while (running_.load() != 0 && !quitting_.load()) {
    // The end is checked only once the last frame's PCM is in the FIFO: a frame that has
    // been decoded but is still waiting for room is not dropped.
    if (chunkLength == 0 && silenceBytes == 0 && stream.IsEnd() && !firstRound) {
      end = kPlayEnded;
      break;
    }
    if (chunkLength == 0) {
      if (!stream.GetAudioFrame(CAvStream::kNone, frame)) {
        end = stream.IsEnd() || stream.Frames().GetCount() == 0 ? kPlayEnded : kPlayDecodeFailed;
        if (firstRound && stream.Frames().GetCount() == 0) end = kPlayNothingDecoded;
        break;
      }
      chunk = reinterpret_cast<const uint8_t*>(frame.samples);
      chunkLength = std::min(frame.validBytes, frame.capacityBytes);
      const uint32_t bytesPerSample = 2u * std::max<uint32_t>(frame.format.channels, 2);
      FrameEntry entry;
      if (chunkLength > 0 && stream.Frames().Get(stream.CurrentFrame(), nullptr, &entry)) {
        const CAudioTimeline::Placement place =
            timeline.Place(static_cast<uint32_t>(entry.timestamp), chunkLength / bytesPerSample);
        if (place.skip) chunkLength = 0;
        silenceBytes = place.skip ? 0 : place.silence * bytesPerSample;
      }
    }
    if (!started && fifo_.BytesHeld() >= primeBytes && !startDevice()) return DeviceStartFailed();
    if (silenceBytes > 0) {
      const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(silenceBytes, zeros.size()));
      if (fifo_.FreeSpace() > piece) {
        fifo_.Write(zeros.data(), piece);
        silenceBytes -= piece;
      } else {
        if (!startDevice()) return DeviceStartFailed();
        SleepMs(10);
      }
      idle = 0;
      continue;
    }
    if (chunkLength > 0) {
      if (fifo_.FreeSpace() > chunkLength) {
        Post(kMsgPlayFrame, stream.CurrentFrame(), &stream);
        fifo_.Write(chunk, chunkLength);
        firstRound = false;
        chunkLength = 0;
        idle = 0;
        continue;
      }
      if (!startDevice()) return DeviceStartFailed();
      SleepMs(10);
      idle = 0;
    } else if (++idle > kIdleRoundsLimit) {
      end = kPlayNothingDecoded;
      break;
    }
  }
  inputDone_ = true;
  if (end == kPlayEnded && !startDevice()) return DeviceStartFailed();
  SleepMs(kPlayOutMs);  // the device plays out what the FIFO still holds
  renderer_.Stop();
  renderer_.Close();
  pcm_.clear();
  pcm_.shrink_to_fit();
  return end;
}

bool CDecodeTaskX::PostDisplayJob(std::function<void()> job) {
  std::lock_guard lock(queueMutex_);
  if (!workerAlive_.load() || quitting_.load()) return false;
  displayJob_ = std::move(job);
  queueSignal_.notify_one();
  return true;
}

// The pictures of the ring are prepared for display (converted and reduced for the page) on
// a thread of their own, in decoding order, while the worker decodes the next ones: on two
// cores the two overlap. A prepared picture is published to the ring's reader.
class CDecodeTaskX::PrepareStage {
 public:
  PrepareStage(CDecodeTaskX& task, PicturePreparer prepare) : task_(task), prepare_(std::move(prepare)) {
    thread_ = std::thread([this] { Run(); });
  }
  // Publishes what is queued; on a stop the rest is dropped unprepared.
  ~PrepareStage() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    signal_.notify_all();
    thread_.join();
  }
  void Add(RingSlot* slot) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(slot);
    }
    signal_.notify_all();
  }

 private:
  void Run() {
    for (;;) {
      RingSlot* slot = nullptr;
      {
        std::unique_lock lock(mutex_);
        signal_.wait(lock, [this] { return !queue_.empty() || done_; });
        if (queue_.empty() || task_.running_.load() == 0 || task_.quitting_.load()) return;
        slot = queue_.front();
        queue_.pop_front();
      }
      slot->prepared = prepare_(slot->frame);
      task_.Publish(slot);
    }
  }

  CDecodeTaskX& task_;
  PicturePreparer prepare_;
  std::mutex mutex_;
  std::condition_variable signal_;
  std::deque<RingSlot*> queue_;
  bool done_ = false;
  std::thread thread_;
};

void CDecodeTaskX::Publish(RingSlot* slot) {
  const uint32_t write = writeIndex_.load();
  ringOrder_[write] = static_cast<uint32_t>(slot - slots_);
  writeIndex_ = (write + 1) % (kVideoFrames + 1);
}

PlayEnd CDecodeTaskX::PlayVideo(CAvStream& stream) {
  auto* video = dynamic_cast<CVideo_Stream*>(&stream);
  VideoFormat format;
  if (video == nullptr || !video->GetVideoFormat(format) || format.width == 0 || format.height == 0) {
    return kPlayNoFormat;
  }
  DebugPrint("width = %d\n", static_cast<int>(format.width));
  DebugPrint("height = %d\n", static_cast<int>(format.height));
  for (RingSlot& slot : slots_) {
    slot.inUse = false;
    slot.prepared.reset();
  }
  std::unique_ptr<PrepareStage> stage;
  {
    std::lock_guard lock(queueMutex_);
    if (preparer_) stage = std::make_unique<PrepareStage>(*this, preparer_);
  }
  readIndex_ = 0;
  writeIndex_ = 0;
  lateTicks_ = 0;
  paused_ = false;
  stepRequests_ = 0;
  decodingDone_ = false;
  presenting_ = 0;
  showPending_ = false;
  timerRunning_ = true;
  frameTimer_ = std::thread([this] { FrameTimerMain(); });

  // Play starts at the selected frame: decoding starts at its random-access point and the
  // pictures that come out before the frame's own are dropped, so the first picture shown
  // is its own and the rest follow in display order.
  const uint64_t count = stream.Frames().GetCount();
  uint32_t start = playStart_.exchange(CAvStream::kNone);
  if (start == CAvStream::kNone || start >= count) start = 0;
  video->StartPlay(start);
  PlayEnd end = kPlayStopped;
  while (running_.load() != 0 && !quitting_.load()) {
    RingSlot* free = nullptr;
    for (RingSlot& slot : slots_) {
      if (!slot.inUse.load()) {
        free = &slot;
        break;
      }
    }
    if (free == nullptr) {
      presenting_ = 1;  // the ring is full: presentation starts (or goes on)
      SleepMs(1);
      continue;
    }
    if (video->NextPlayPicture(free->frame) == 0) {
      end = kPlayEnded;
      break;
    }
    free->inUse = true;
    if (stage) stage->Add(free);
    else Publish(free);
  }
  stage.reset();  // the pictures still being prepared are published (or dropped on a stop)
  decodingDone_ = true;
  if (end == kPlayEnded) {
    // Every decoded picture is shown before the play ends (a stream shorter than the ring
    // starts its presentation here).
    presenting_ = 1;
    while (running_.load() != 0 && !quitting_.load() && readIndex_.load() != writeIndex_.load()) SleepMs(1);
    if (running_.load() == 0) end = kPlayStopped;
  }
  presenting_ = 0;
  timerRunning_ = false;
  if (frameTimer_.joinable()) frameTimer_.join();
  paused_ = false;
  return end;
}

// The frame timer: a tick every kFramePeriodMs on absolute deadlines (the period does not
// drift with the time a tick takes); while pictures are presented and the play is not held,
// each tick posts 1032. A held play posts one tick per frame-advance request.
void CDecodeTaskX::FrameTimerMain() {
  DebugPrint("Video rate = %d\n", kFramePeriodMs);
  auto next = std::chrono::steady_clock::now();
  while (timerRunning_.load()) {
    next += std::chrono::milliseconds(kFramePeriodMs);
    std::this_thread::sleep_until(next);
    if (presenting_.load() == 0) continue;
    if (paused_.load()) {
      if (stepRequests_.load() > 0 && !showPending_.exchange(true)) {
        --stepRequests_;
        Post(kMsgShowFrame);
      }
      continue;
    }
    if (!showPending_.exchange(true)) Post(kMsgShowFrame);
  }
}

const CVideoFrame* CDecodeTaskX::TakeVideoFrame() {
  showPending_ = false;
  if (presenting_.load() == 0 || running_.load() == 0) return nullptr;
  const uint32_t read = readIndex_.load();
  if (read == writeIndex_.load()) {
    if (!decodingDone_.load()) ++lateTicks_;
    return nullptr;
  }
  return &slots_[ringOrder_[read]].frame;
}

const PreparedPicture* CDecodeTaskX::TakenPrepared() const {
  const uint32_t read = readIndex_.load();
  if (read == writeIndex_.load()) return nullptr;
  return slots_[ringOrder_[read]].prepared.get();
}

void CDecodeTaskX::SetPicturePreparer(PicturePreparer preparer) {
  std::lock_guard lock(queueMutex_);
  preparer_ = std::move(preparer);
}

void CDecodeTaskX::ReleaseVideoFrame() {
  const uint32_t read = readIndex_.load();
  if (read == writeIndex_.load()) return;
  slots_[ringOrder_[read]].inUse = false;
  readIndex_ = (read + 1) % (kVideoFrames + 1);
}

uint32_t CDecodeTaskX::OnRequestData(uint8_t* buffer, uint32_t bytes) {
  std::memset(buffer, 0, bytes);
  const uint32_t held = fifo_.BytesHeld();
  if (held >= bytes) {
    fifo_.Read(buffer, bytes);
  } else if (inputDone_.load()) {
    fifo_.Read(buffer, held);  // the play's last PCM padded with silence, then silence until the stop
  } else {
    DebugPrint("audio data = %d, %d\n", static_cast<int>(held), static_cast<int>(bytes));
    ++underruns_;
  }
  return bytes;
}

void CDecodeTaskX::OnProgress(uint64_t done, uint64_t total) {
  const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
  char text[160];
  std::snprintf(text, sizeof text,
                language_.load() == 1 ? "読み込み完了... %lld / %lld bytes (%d%%)"
                                      : "Loading ... %lld / %lld bytes (%d%%)",
                static_cast<long long>(done), static_cast<long long>(total), percent);
  if (window_ != nullptr) window_->OnTaskProgress(percent, text);
}

void CDecodeTaskX::OnSdpMissing(CRTP_Parser& container) {
  (void)container;
  Post(kMsgSdpMissing);
}

int CDecodeTaskX::HandleCommand(uint32_t command) {
  switch (command) {
    case kCommandPlay: {
      std::lock_guard lock(queueMutex_);
      // A press while a job runs or is already queued is ignored.
      if (busy_.load() == 0 && queue_.empty() && workerAlive_.load()) {
        queue_.push_back(TaskRequest{kRequestPlay, {}, nullptr});
        queueSignal_.notify_one();
      }
      return 1;
    }
    case kCommandStop2: {
      // During video play Pause holds the presentation, and a second press resumes it.
      CAvStream* stream = currentStream_.load();
      if (busy_.load() != 0 && running_.load() != 0 && stream != nullptr && stream->IsVideo()) {
        paused_ = !paused_.load();
        return 1;
      }
      if (busy_.load() != 0) running_ = 0;
      return 1;
    }
    case kCommandStop:
      if (busy_.load() != 0) {
        running_ = 0;
        presenting_ = 0;  // no picture is shown after a stop
      }
      return 1;
    case kCommandSlowForward: {
      CAvStream* stream = currentStream_.load();
      if (busy_.load() != 0 && running_.load() != 0 && stream != nullptr && stream->IsVideo()) {
        paused_ = true;
        ++stepRequests_;
      }
      return 1;
    }
    default:
      return 0;
  }
}

bool CDecodeTaskX::PostRequest(TaskRequest request) {
  if (request.id != kRequestCsv && request.id != kRequestExtract && request.id != kRequestPlay) return false;
  std::lock_guard lock(queueMutex_);
  if (busy_.load() != 0 || !queue_.empty() || !workerAlive_.load()) return false;
  queue_.push_back(std::move(request));
  queueSignal_.notify_one();
  return true;
}

void CDecodeTaskX::CancelLoad() {
  if (container_ != nullptr) container_->Cancel();
}

void CDecodeTaskX::Stop() {
  // Marked first: a play that finds the device closed under it then ends as stopped, not
  // as a device that failed to start.
  quitting_ = true;
  renderer_.Stop();
  renderer_.Close();
  DebugPrint("close sound device : 1\n");
  if (worker_.joinable()) {
    // A load still running is cancelled so the worker can take the quit request.
    CancelLoad();
    for (int i = 0; i < 10 && busy_.load() != 0; ++i) {
      running_ = 0;
      SleepMs(100);
    }
    running_ = 0;
    {
      std::lock_guard lock(queueMutex_);
      queue_.clear();  // requests not yet taken are dropped
      queue_.push_back(TaskRequest{kRequestQuit, {}, nullptr});
      queueSignal_.notify_one();
    }
    worker_.join();
  }
  container_ = nullptr;
  window_ = nullptr;
}

}  // namespace fennik
