// Media files that stream extraction writes: CMediaFile writes payload bytes one after another
// into a plain file; CAVIFile (media/CAVIFile.h) wraps them into a RIFF AVI file.
#pragma once

#include <cstdint>
#include <string>

#include "base/CAvFile.h"

namespace fennik {

// A video stream as declared to a media file.
struct MediaVideoFormat {
  uint32_t fourCC = 0;  // compression code; its first character in the lowest byte
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t microsecondsPerFrame = 0;
  uint32_t rate = 0;   // frames per second = rate / scale
  uint32_t scale = 0;
  double frameRate = 0;
};

// An audio stream as declared to a media file.
struct MediaAudioFormat {
  uint16_t formatTag = 0;  // WAVE format tag (1 PCM, 6 A-law, 7 u-law ...)
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
  uint32_t bitsPerSample = 0;
  uint32_t byteRate = 0;  // 0: sample rate x block alignment
  uint32_t bitRate = 0;   // for the debug line only
};

// Four-character code in file order: "H264" -> 'H' | '2' << 8 | '6' << 16 | '4' << 24.
constexpr uint32_t FourCC(const char (&code)[5]) {
  return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
         uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
}

class CMediaFile : public CAvFile {
 public:
  ~CMediaFile() override = default;

  // Creates the file for writing. With `replace` an existing file is replaced; without it
  // creation fails when the file exists, and that file is not touched. Returns 0 on success,
  // else the system's error number.
  virtual int Create(const std::string& path, bool replace);
  // Declares a stream; `kind` must be 0 (the first stream of its type). Returns 1, or 0 when
  // refused. The plain file keeps no formats.
  virtual int SetVideoFormat(uint32_t kind, const MediaVideoFormat* format);
  virtual int SetAudioFormat(uint32_t kind, const MediaAudioFormat* format);
  // Appends one video frame / audio payload. Returns 1 when every byte was written, else 0;
  // after a failed write every further write fails too. `keyFrame` marks a frame a decoder
  // can start at (kept in the AVI index).
  virtual int WriteVideo(const uint8_t* data, uint32_t length, bool keyFrame = true);
  virtual int WriteAudio(const uint8_t* data, uint32_t length);
  // Finishes and closes the file; false when finishing it failed or an earlier write had.
  virtual bool Close();

  bool WriteFailed() const { return failed_; }

 protected:
  // Appends bytes at the end of the file; sets the failed state when they were not all written.
  bool Append(const void* data, size_t length);

  bool failed_ = false;
};

}  // namespace fennik
