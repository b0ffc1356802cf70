// The sound card through ALSA: 16-bit interleaved PCM with a device buffer of two periods
// of one block each, so the device holds the two blocks in flight.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "playback/CPcmOutput.h"

typedef struct _snd_pcm snd_pcm_t;

namespace fennik {

class CAlsaOutput : public CPcmOutput {
 public:
  // `pcmName` is device 0 (an ALSA PCM name such as "default", "hw:0,0" or one defined in
  // an asoundrc); the other devices are the output PCMs ALSA's hints list.
  explicit CAlsaOutput(std::string pcmName = "default");
  ~CAlsaOutput() override;

  uint32_t DeviceCount() override;
  std::string DeviceName(uint32_t id) override;
  bool Open(uint32_t id, const WaveFormat& format, uint32_t blockBytes) override;
  bool Write(const uint8_t* data, uint32_t bytes) override;
  void Abort() override { aborted_ = true; }
  bool Reset() override;
  void Close() override;

 private:
  void ListDevices();

  std::string pcmName_;
  std::vector<std::string> devices_;
  bool listed_ = false;
  snd_pcm_t* pcm_ = nullptr;
  uint32_t frameBytes_ = 0;
  std::atomic<bool> aborted_{false};
};

}  // namespace fennik
