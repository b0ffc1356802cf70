#include "playback/CMMERenderer.h"

#include "base/DebugPrint.h"
#include "playback/CAlsaOutput.h"

namespace fennik {

CMMERenderer::CMMERenderer(std::unique_ptr<CPcmOutput> output) : output_(std::move(output)) {
  if (!output_) output_ = std::make_unique<CAlsaOutput>();
}

CMMERenderer::~CMMERenderer() { Close(); }

void CMMERenderer::SetOutput(std::unique_ptr<CPcmOutput> output) {
  std::lock_guard control(control_);
  CloseLocked();
  output_ = output ? std::move(output) : std::make_unique<CAlsaOutput>();
}

void CMMERenderer::SetListener(CSoundListener* listener) {
  std::lock_guard control(control_);
  CloseLocked();
  listener_ = listener;
  blockSize_ = kInitialBlockSize;
  blockMs_ = 0;
  format_ = WaveFormat{};
  std::lock_guard lock(lock_);
  for (BlockHeader& h : headers_) h = BlockHeader{};
}

int CMMERenderer::SelectDevice(uint32_t id) {
  std::lock_guard control(control_);
  if (id != kDefaultDevice && id >= output_->DeviceCount()) return 0;
  device_ = id;
  return 1;
}

uint32_t CMMERenderer::GetDeviceInfo(uint32_t id, RendererDeviceInfo* info) {
  std::lock_guard control(control_);
  const uint32_t count = output_->DeviceCount();
  if (info != nullptr) {
    *info = RendererDeviceInfo{};
    if (id < count) {
      info->name = output_->DeviceName(id).substr(0, 128);
      info->channels = 2;
    }
  }
  return count;
}

WaveFormat CMMERenderer::GetFormat() const {
  std::lock_guard control(control_);
  return format_;
}

int CMMERenderer::Open(uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample, uint32_t blockMs) {
  std::lock_guard control(control_);
  DebugPrint("CMMERenderer::Open(%d, %d, %d, %d)\n", static_cast<int>(channels),
             static_cast<int>(sampleRate), static_cast<int>(bitsPerSample), static_cast<int>(blockMs));
  if (open_.load()) return 0;
  WaveFormat format;
  format.formatTag = 1;
  format.channels = static_cast<uint16_t>(channels);
  format.samplesPerSec = sampleRate;
  format.bitsPerSample = static_cast<uint16_t>(bitsPerSample);
  format.blockAlign = static_cast<uint16_t>((bitsPerSample * channels + 7) / 8);
  format.avgBytesPerSec = format.blockAlign * sampleRate;
  // The rate is divided first: 48,000 Hz stereo 16-bit at 100 ms gives 19,200 bytes.
  const uint32_t blockSize = (sampleRate / 1000) * format.blockAlign * blockMs;
  if (channels == 0 || bitsPerSample != 16 || blockSize == 0) {
    DebugPrint("[MME] waveOutOpen error\n");
    DebugPrint("[MME] render device open error\n");
    return 0;
  }
  const uint32_t id = device_ == kDefaultDevice ? 0 : device_;
  if (!output_->Open(id, format, blockSize)) {
    DebugPrint("[MME] waveOutOpen error\n");
    DebugPrint("[MME] render device open error\n");
    CloseLocked();
    return 0;
  }
  format_ = format;
  blockMs_ = blockMs;
  blockSize_ = blockSize;
  DebugPrint("[MME] block size : %d\n", static_cast<int>(blockSize));
  {
    std::lock_guard lock(lock_);
    for (BlockHeader& h : headers_) {
      h = BlockHeader{};
      h.data.assign(blockSize, 0);
      h.done = true;
    }
    queue_.clear();
  }
  blocksPlayed_ = 0;
  open_ = true;
  state_ = kRendererStopped;
  feeder_ = std::thread(&CMMERenderer::FeederLoop, this);
  DebugPrint("[MME] open render device\n");
  return 1;
}

void CMMERenderer::FillAndSubmit(std::unique_lock<std::mutex>& lock, int index) {
  BlockHeader& h = headers_[index];
  std::fill(h.data.begin(), h.data.end(), 0);
  lock.unlock();
  uint32_t count = listener_ != nullptr ? listener_->OnRequestData(h.data.data(), blockSize_) : 0;
  lock.lock();
  if (count > blockSize_) count = blockSize_;
  h.length = count;
  h.user = count == 0 ? 1 : 0;
  h.done = false;
  queue_.push_back(index);
}

int CMMERenderer::Start() {
  std::lock_guard control(control_);
  DebugPrint("CMMERenderer::Start()\n");
  if (!open_.load()) return 0;
  if (state_.load() == kRendererPlaying) return 1;
  std::unique_lock lock(lock_);
  // Both blocks are queued before the feeder may take one, so they play in the order their
  // data was delivered.
  for (int i = 0; i < 2; ++i) FillAndSubmit(lock, i);
  state_ = kRendererPlaying;
  lock.unlock();
  wake_.notify_all();
  DebugPrint("[MME] start render device\n");
  return 1;
}

void CMMERenderer::FeederLoop() {
  std::unique_lock lock(lock_);
  for (;;) {
    wake_.wait(lock, [this] {
      return state_.load() == kRendererClosed || (state_.load() == kRendererPlaying && !queue_.empty());
    });
    if (state_.load() == kRendererClosed) break;
    const int index = queue_.front();
    queue_.pop_front();
    feederBusy_ = true;
    BlockHeader& h = headers_[index];
    if (h.length > 0) {
      lock.unlock();
      output_->Write(h.data.data(), h.length);
      lock.lock();
      ++blocksPlayed_;
    }
    h.done = true;
    if (state_.load() == kRendererPlaying) {
      if (h.user == 1) {
        lock.unlock();
        if (listener_ != nullptr) listener_->OnDataEnd();
        lock.lock();
      } else {
        FillAndSubmit(lock, index);
      }
    }
    feederBusy_ = false;
    wake_.notify_all();
  }
}

int CMMERenderer::StopLocked() {
  DebugPrint("CMMERenderer::Stop()\n");
  if (!open_.load()) return 0;
  {
    std::unique_lock lock(lock_);
    state_ = kRendererStopped;
    output_->Abort();
    // The block being written or refilled comes back first; the rest return unplayed.
    wake_.wait(lock, [this] { return !feederBusy_; });
    queue_.clear();
    for (BlockHeader& h : headers_) h.done = true;
  }
  if (!output_->Reset()) {
    DebugPrint("[MME] waveOutReset error\n");
    return 0;
  }
  DebugPrint("[MME] stop render device\n");
  return 1;
}

int CMMERenderer::Stop() {
  std::lock_guard control(control_);
  return StopLocked();
}

void CMMERenderer::CloseLocked() {
  DebugPrint("CMMERenderer::Close()\n");
  StopLocked();
  const bool wasOpen = open_.exchange(false);
  {
    std::lock_guard lock(lock_);
    state_ = kRendererClosed;
  }
  wake_.notify_all();
  if (feeder_.joinable()) feeder_.join();
  if (wasOpen) {
    output_->Close();
    std::lock_guard lock(lock_);
    for (BlockHeader& h : headers_) h = BlockHeader{};
    queue_.clear();
    DebugPrint("[MME] close render device\n");
  }
}

void CMMERenderer::Close() {
  std::lock_guard control(control_);
  CloseLocked();
}

}  // namespace fennik
