// A RIFF WAVE file of 16-bit PCM: the header is written on Create and its sizes patched on
// Close, so a file that was not closed still has a readable header.
#pragma once

#include <cstdint>
#include <string>

#include "base/CAvFile.h"

namespace fennik {

class CWavFile {
 public:
  ~CWavFile() { Close(); }

  // Creates or truncates the file and writes the header; false when it cannot be created.
  bool Create(const std::string& name, uint32_t channels, uint32_t sampleRate);
  // Appends interleaved samples; false when the write failed or the file would pass 4 GiB.
  bool Write(const int16_t* samples, uint32_t count);
  // Patches the RIFF and data sizes and closes; false when the patch failed.
  bool Close();
  uint64_t DataBytes() const { return dataBytes_; }

 private:
  CAvFile file_;
  uint64_t dataBytes_ = 0;
};

}  // namespace fennik
