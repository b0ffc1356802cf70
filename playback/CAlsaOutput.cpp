#include "playback/CAlsaOutput.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/DebugPrint.h"

namespace fennik {
namespace {

// How long one wait for room in the device buffer may take before the device counts as
// stuck; a device that plays never takes longer than one block (at most a few seconds).
constexpr int kWaitSliceMs = 50;
constexpr int kStuckMs = 5000;

// ALSA's own error lines go to the debug sink instead of standard error.
extern "C" void OnAlsaError(const char* file, int line, const char* function, int err, const char* fmt, ...) {
  (void)file, (void)line, (void)err;
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  DebugPrint("[ALSA] %s: %s\n", function != nullptr ? function : "", text);
}

}  // namespace

CAlsaOutput::CAlsaOutput(std::string pcmName) : pcmName_(std::move(pcmName)) {
  static const bool handlerSet = snd_lib_error_set_handler(OnAlsaError) == 0;
  (void)handlerSet;
}

CAlsaOutput::~CAlsaOutput() { Close(); }

void CAlsaOutput::ListDevices() {
  if (listed_) return;
  listed_ = true;
  devices_.assign(1, pcmName_);
  void** hints = nullptr;
  if (snd_device_name_hint(-1, "pcm", &hints) != 0 || hints == nullptr) return;
  for (void** h = hints; *h != nullptr; ++h) {
    char* name = snd_device_name_get_hint(*h, "NAME");
    char* ioid = snd_device_name_get_hint(*h, "IOID");
    if (name != nullptr && (ioid == nullptr || std::strcmp(ioid, "Output") == 0) && pcmName_ != name) {
      devices_.emplace_back(name);
    }
    std::free(name);
    std::free(ioid);
  }
  snd_device_name_free_hint(hints);
}

uint32_t CAlsaOutput::DeviceCount() {
  ListDevices();
  return static_cast<uint32_t>(devices_.size());
}

std::string CAlsaOutput::DeviceName(uint32_t id) {
  ListDevices();
  return id < devices_.size() ? devices_[id] : std::string();
}

bool CAlsaOutput::Open(uint32_t id, const WaveFormat& format, uint32_t blockBytes) {
  if (pcm_ != nullptr) return false;
  const std::string name = id == 0 ? pcmName_ : DeviceName(id);
  if (name.empty() || format.blockAlign == 0) return false;
  int err = snd_pcm_open(&pcm_, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (err < 0) {
    DebugPrint("[ALSA] can't open %s: %s\n", name.c_str(), snd_strerror(err));
    pcm_ = nullptr;
    return false;
  }
  frameBytes_ = format.blockAlign;
  snd_pcm_uframes_t period = blockBytes / frameBytes_;
  snd_pcm_uframes_t buffer = period * 2;
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  unsigned rate = format.samplesPerSec;
  int dir = 0;
  const char* step = "any";
  if ((err = snd_pcm_hw_params_any(pcm_, hw)) < 0 ||
      (step = "access", err = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (step = "format", err = snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
      (step = "channels", err = snd_pcm_hw_params_set_channels(pcm_, hw, format.channels)) < 0 ||
      (step = "rate", err = snd_pcm_hw_params_set_rate(pcm_, hw, rate, 0)) < 0 ||
      (step = "period", err = snd_pcm_hw_params_set_period_size_near(pcm_, hw, &period, &dir)) < 0 ||
      (step = "buffer", err = snd_pcm_hw_params_set_buffer_size_near(pcm_, hw, &buffer)) < 0 ||
      (step = "apply", err = snd_pcm_hw_params(pcm_, hw)) < 0) {
    DebugPrint("[ALSA] %s refuses %u Hz, %u channels, 16 bits (%s): %s\n", name.c_str(), rate,
               static_cast<unsigned>(format.channels), step, snd_strerror(err));
    Close();
    return false;
  }
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  // Start as soon as one block is in the device.
  if (snd_pcm_sw_params_current(pcm_, sw) == 0) {
    snd_pcm_sw_params_set_start_threshold(pcm_, sw, blockBytes / frameBytes_);
    snd_pcm_sw_params(pcm_, sw);
  }
  aborted_ = false;
  DebugPrint("[ALSA] %s: period %lu, buffer %lu frames\n", name.c_str(),
             static_cast<unsigned long>(period), static_cast<unsigned long>(buffer));
  return true;
}

bool CAlsaOutput::Write(const uint8_t* data, uint32_t bytes) {
  if (pcm_ == nullptr) return false;
  snd_pcm_uframes_t left = bytes / frameBytes_;
  int waitedMs = 0;
  while (left > 0) {
    if (aborted_) return false;
    snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, left);
    if (n == -EAGAIN || n == 0) {
      if (waitedMs >= kStuckMs) {
        DebugPrint("[ALSA] the device takes no data\n");
        return false;
      }
      snd_pcm_wait(pcm_, kWaitSliceMs);
      waitedMs += kWaitSliceMs;
      continue;
    }
    if (n < 0) {
      // An underrun (-EPIPE) or a suspend: recover and go on.
      if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
        DebugPrint("[ALSA] write error: %s\n", snd_strerror(static_cast<int>(n)));
        return false;
      }
      continue;
    }
    waitedMs = 0;
    data += static_cast<size_t>(n) * frameBytes_;
    left -= static_cast<snd_pcm_uframes_t>(n);
  }
  return true;
}

bool CAlsaOutput::Reset() {
  aborted_ = false;
  if (pcm_ == nullptr) return true;
  if (snd_pcm_drop(pcm_) < 0) return false;
  return snd_pcm_prepare(pcm_) == 0;
}

void CAlsaOutput::Close() {
  if (pcm_ == nullptr) return;
  snd_pcm_close(pcm_);
  pcm_ = nullptr;
}

}  // namespace fennik
