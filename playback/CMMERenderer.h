// The audio renderer: two blocks of the opened duration in flight, refilled from the sound
// listener by a feeder thread of its own whenever the device has taken one. The device is
// a CPcmOutput (the sound card through ALSA unless another output is set).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "playback/CBaseRenderer.h"
#include "playback/CPcmOutput.h"

namespace fennik {

class CMMERenderer : public CBaseRenderer {
 public:
  // Plays through `output`; without one, through the ALSA device "default".
  explicit CMMERenderer(std::unique_ptr<CPcmOutput> output = nullptr);
  ~CMMERenderer() override;

  // Replaces the device; closes the renderer first.
  void SetOutput(std::unique_ptr<CPcmOutput> output);

  void SetListener(CSoundListener* listener) override;
  void Release() override { Close(); }
  int SelectDevice(uint32_t id) override;
  int Open(uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample, uint32_t blockMs) override;
  void Close() override;
  int Start() override;
  int Stop() override;
  uint32_t GetDeviceInfo(uint32_t id, RendererDeviceInfo* info) override;
  using CBaseRenderer::GetDeviceInfo;
  bool IsOpen() const override { return open_.load(); }
  bool IsPlaying() const override { return state_.load() == kRendererPlaying; }
  WaveFormat GetFormat() const override;

  // Blocks the device has taken since the renderer was opened.
  uint64_t BlocksPlayed() const { return blocksPlayed_.load(); }

 private:
  struct BlockHeader {
    std::vector<uint8_t> data;
    uint32_t length = 0;
    uint32_t user = 0;  // 1: the block carried no data (the end marker)
    bool done = false;
  };

  void CloseLocked();
  int StopLocked();
  // Asks the listener for the block's data and queues it for the device (lock_ held on entry
  // and on return; released around the listener call).
  void FillAndSubmit(std::unique_lock<std::mutex>& lock, int index);
  void FeederLoop();

  mutable std::mutex control_;  // serialises Open/Close/Start/Stop between controlling threads
  std::unique_ptr<CPcmOutput> output_;

  std::mutex lock_;  // guards the headers, the queue and feederBusy_
  std::condition_variable wake_;
  BlockHeader headers_[2];
  std::deque<int> queue_;   // blocks submitted to the device, in order
  bool feederBusy_ = false;  // the feeder is writing or refilling a block

  std::atomic<int32_t> state_{kRendererClosed};
  std::atomic<bool> open_{false};
  std::atomic<uint64_t> blocksPlayed_{0};
  std::thread feeder_;
};

}  // namespace fennik
