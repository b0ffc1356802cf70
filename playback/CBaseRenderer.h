// The audio output's common interface: a renderer plays 16-bit PCM in the format it was
// opened with, pulling blocks from its sound listener. CBaseRenderer gives the defaults of
// a renderer that has no device.
#pragma once

#include <cstdint>
#include <string>

namespace fennik {

// Where a renderer takes its PCM from. Called on the renderer's feeder thread (and on the
// thread that starts the renderer, for the first two blocks).
class CSoundListener {
 public:
  virtual ~CSoundListener() = default;
  virtual int OnStateChanged() { return 0; }
  // Fills `buffer` with up to `bytes` bytes; returns the count delivered (0 marks the end
  // of the data).
  virtual uint32_t OnRequestData(uint8_t* buffer, uint32_t bytes) {
    (void)buffer;
    return bytes;
  }
  // The block that carried no data has come back from the device.
  virtual void OnDataEnd() {}
};

// The PCM wave format (format tag 1 = PCM).
struct WaveFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};

struct RendererDeviceInfo {
  uint16_t manufacturerId = 0;
  uint16_t productId = 0;
  uint32_t driverVersion = 0;
  std::string name;  // at most 128 characters
  uint32_t formats = 0;
  uint16_t channels = 0;
};

enum RendererState : int32_t { kRendererClosed = 0, kRendererStopped = 1, kRendererPlaying = 2 };

class CBaseRenderer {
 public:
  static constexpr uint32_t kDefaultDevice = 0xFFFFFFFF;
  static constexpr uint32_t kInitialBlockSize = 1920;

  CBaseRenderer() = default;
  CBaseRenderer(const CBaseRenderer&) = delete;
  CBaseRenderer& operator=(const CBaseRenderer&) = delete;
  virtual ~CBaseRenderer() = default;

  virtual void SetListener(CSoundListener* listener) { listener_ = listener; }
  virtual void Release() { Close(); }
  virtual int SelectDevice(uint32_t id) {
    device_ = id;
    return 1;
  }
  virtual int Open(uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample, uint32_t blockMs) {
    (void)channels, (void)sampleRate, (void)bitsPerSample, (void)blockMs;
    return 0;
  }
  virtual void Close() {}
  virtual int Start() { return 1; }
  virtual int Stop() { return 1; }
  virtual uint32_t GetDevice() const { return device_; }
  virtual uint32_t GetDeviceInfo(RendererDeviceInfo* info) { return GetDeviceInfo(device_, info); }
  // Number of output devices; fills `info` (when given) for device `id`.
  virtual uint32_t GetDeviceInfo(uint32_t id, RendererDeviceInfo* info) {
    (void)id;
    if (info != nullptr) *info = RendererDeviceInfo{};
    return 0;
  }
  // Index of the first output device named `name`, or all ones.
  virtual uint32_t FindDevice(const std::string& name) {
    RendererDeviceInfo info;
    const uint32_t count = GetDeviceInfo(0, nullptr);
    for (uint32_t i = 0; i < count; ++i) {
      if (GetDeviceInfo(i, &info) && info.name == name) return i;
    }
    return kDefaultDevice;
  }
  virtual bool IsOpen() const { return false; }
  virtual bool IsPlaying() const { return false; }
  virtual WaveFormat GetFormat() const { return format_; }
  virtual int GetVolume(uint32_t* left, uint32_t* right) {
    if (left) *left = 0;
    if (right) *right = 0;
    return 1;
  }
  virtual int SetVolume(uint32_t left, uint32_t right) {
    (void)left, (void)right;
    return 0;
  }
  uint32_t BlockSize() const { return blockSize_; }

 protected:
  uint32_t device_ = kDefaultDevice;
  WaveFormat format_;
  CSoundListener* listener_ = nullptr;
  uint32_t blockSize_ = kInitialBlockSize;
  uint32_t blockMs_ = 0;
};

}  // namespace fennik
