#include "playback/CPacedOutput.h"

#include <vector>

#include "base/DebugPrint.h"

namespace fennik {

bool CPacedOutput::Open(uint32_t id, const WaveFormat& format, uint32_t blockBytes) {
  if (id != 0 || format.avgBytesPerSec == 0 || blockBytes == 0) return false;
  if (!OpenSink(format)) return false;
  std::lock_guard lock(mutex_);
  bytesPerSecond_ = format.avgBytesPerSec;
  blockBytes_ = blockBytes;
  aborted_ = false;
  started_ = false;
  bytesTaken_ = 0;
  return true;
}

bool CPacedOutput::Write(const uint8_t* data, uint32_t bytes) {
  std::unique_lock lock(mutex_);
  if (aborted_) return false;
  if (!started_) {
    started_ = true;
    start_ = Clock::now();
  }
  // Room for this block frees up once everything but the last kQueuedBlocks - 1 blocks
  // has been played.
  const uint64_t queued = uint64_t{blockBytes_} * (kQueuedBlocks - 1);
  if (bytesTaken_ > queued) {
    const double seconds = static_cast<double>(bytesTaken_ - queued) / bytesPerSecond_ / speed_;
    const auto due = start_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    if (abortSignal_.wait_until(lock, due, [this] { return aborted_; })) return false;
  }
  bytesTaken_ += bytes;
  lock.unlock();
  return Consume(data, bytes);
}

void CPacedOutput::Abort() {
  {
    std::lock_guard lock(mutex_);
    aborted_ = true;
  }
  abortSignal_.notify_all();
}

bool CPacedOutput::Reset() {
  std::lock_guard lock(mutex_);
  aborted_ = false;
  started_ = false;
  bytesTaken_ = 0;
  return true;
}

void CPacedOutput::Close() { CloseSink(); }

bool CWavOutput::OpenSink(const WaveFormat& format) {
  if (format.bitsPerSample != 16) {
    DebugPrint("[WAV] only 16-bit PCM is written, not %d bits\n", format.bitsPerSample);
    return false;
  }
  if (!wav_.Create(fileName_, format.channels, format.samplesPerSec)) {
    DebugPrint("[WAV] can't create %s\n", fileName_.c_str());
    return false;
  }
  return true;
}

bool CWavOutput::Consume(const uint8_t* data, uint32_t bytes) {
  // The block is little-endian 16-bit PCM, as the samples are held in memory.
  std::vector<int16_t> samples(bytes / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return wav_.Write(samples.data(), static_cast<uint32_t>(samples.size()));
}

}  // namespace fennik
