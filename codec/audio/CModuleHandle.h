// One decoder instance of an external codec module (xcgsm_x64.so ...): created from the
// stream's channels, sample rate and frame mode when the module is loaded, reset, asked to
// decode frames and destroyed. Without the module (or after a failed Create) it stays
// closed and decodes nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/audio/CodecModules.h"

namespace fennik {

class CModuleHandle {
 public:
  explicit CModuleHandle(CodecModule module) : module_(module) {}
  CModuleHandle(const CModuleHandle&) = delete;
  CModuleHandle& operator=(const CModuleHandle&) = delete;
  ~CModuleHandle() { Destroy(); }

  CodecModule Module() const { return module_; }
  bool IsOpen() const { return handle_ != nullptr; }
  // True when the module is loaded (a handle can be created).
  bool IsAvailable() const { return CodecModuleTable(module_) != nullptr; }

  // Creates the module's decoder unless one exists; false when there is no module or its
  // Create fails.
  bool Create(uint32_t channels, uint32_t sampleRate, uint32_t frameMode = 0);
  // Destroys the decoder (the next Create makes a new one).
  void Destroy();
  // The module's Reset, when there is a decoder.
  void Reset();
  // Decodes one frame into at most `capacitySamples` samples; returns the samples written
  // (0 without a decoder, and for any answer of the module outside 0..capacity).
  size_t Decode(const uint8_t* frame, size_t length, int16_t* out, size_t capacitySamples);

 private:
  CodecModule module_;
  const CodecModuleOps* ops_ = nullptr;  // the table the decoder was created by
  void* handle_ = nullptr;
};

}  // namespace fennik
