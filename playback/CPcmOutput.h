// The device under CMMERenderer: something that accepts 16-bit PCM blocks at the pace of
// playing them. The sound card (ALSA), a WAV file and a null sink implement it.
#pragma once

#include <cstdint>
#include <string>

#include "playback/CBaseRenderer.h"

namespace fennik {

class CPcmOutput {
 public:
  virtual ~CPcmOutput() = default;
  // Output devices this output can open; device 0 is the one it was made for.
  virtual uint32_t DeviceCount() { return 1; }
  virtual std::string DeviceName(uint32_t id) = 0;
  // Opens device `id` for `format` with blocks of `blockBytes`; false (with a debug line
  // naming the reason) when there is no such device or it refuses the format.
  virtual bool Open(uint32_t id, const WaveFormat& format, uint32_t blockBytes) = 0;
  // Plays one block: returns once the device has taken it, which for a device that plays in
  // real time is when room for it has become free. Returns early, false, once Abort was
  // called; false on a device error.
  virtual bool Write(const uint8_t* data, uint32_t bytes) = 0;
  // Asks a Write in progress on another thread to return; the next Reset clears it.
  virtual void Abort() = 0;
  // Drops what the device still holds (no Write is running).
  virtual bool Reset() = 0;
  virtual void Close() = 0;
};

}  // namespace fennik
