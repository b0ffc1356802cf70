// Outputs without a sound card: they take blocks at the pace a device would play them
// (optionally faster), so playback behaves as with a device, and either write the PCM to a
// WAV file or drop it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "media/CWavFile.h"
#include "playback/CPcmOutput.h"

namespace fennik {

class CPacedOutput : public CPcmOutput {
 public:
  // `speed`: how many times faster than real time blocks are taken (at least 1).
  explicit CPacedOutput(double speed) : speed_(speed < 1.0 ? 1.0 : speed) {}

  bool Open(uint32_t id, const WaveFormat& format, uint32_t blockBytes) override;
  bool Write(const uint8_t* data, uint32_t bytes) override;
  void Abort() override;
  bool Reset() override;
  void Close() override;

 protected:
  // What the output does with an opened format and with a block; false refuses.
  virtual bool OpenSink(const WaveFormat& format) = 0;
  virtual bool Consume(const uint8_t* data, uint32_t bytes) = 0;
  virtual void CloseSink() = 0;

 private:
  using Clock = std::chrono::steady_clock;

  const double speed_;
  uint32_t bytesPerSecond_ = 0;
  // Like a device's buffer: blocks are taken at once until this many are waiting to be
  // played, then each waits until the oldest has been played.
  static constexpr uint32_t kQueuedBlocks = 2;
  uint32_t blockBytes_ = 0;
  std::mutex mutex_;
  std::condition_variable abortSignal_;
  bool aborted_ = false;
  bool started_ = false;
  Clock::time_point start_;
  uint64_t bytesTaken_ = 0;
};

// Drops the PCM.
class CNullOutput : public CPacedOutput {
 public:
  explicit CNullOutput(double speed = 1.0) : CPacedOutput(speed) {}
  std::string DeviceName(uint32_t id) override { return id == 0 ? "null" : ""; }

 protected:
  bool OpenSink(const WaveFormat& format) override { return format.bitsPerSample == 16; }
  bool Consume(const uint8_t*, uint32_t) override { return true; }
  void CloseSink() override {}
};

// Writes the PCM into a WAV file, one file per open (each open truncates it).
class CWavOutput : public CPacedOutput {
 public:
  explicit CWavOutput(std::string fileName, double speed = 1.0)
      : CPacedOutput(speed), fileName_(std::move(fileName)) {}
  std::string DeviceName(uint32_t id) override { return id == 0 ? fileName_ : ""; }

 protected:
  bool OpenSink(const WaveFormat& format) override;
  bool Consume(const uint8_t* data, uint32_t bytes) override;
  void CloseSink() override { wav_.Close(); }

 private:
  std::string fileName_;
  CWavFile wav_;
};

}  // namespace fennik
