// `fennik-cli decode`: decoded pictures of an H.264 elementary stream (Annex B) or of a
// captured video stream as Y4M.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <sys/uio.h>

#include "codec/video/C264_Decode.h"

namespace fennik::cli {

// Writes the visible area of decoded pictures as Y4M frames in the pictures' own chroma
// format (4:2:0, 4:2:2 or 4:4:4; monochrome pictures carry flat 4:2:0 chroma). The samples go
// from the picture to the file with one gathering write per picture (no copy through a
// stdio buffer); the FILE's buffered bytes are flushed first.
class Y4mWriter {
 public:
  explicit Y4mWriter(std::FILE* out) : out_(out) {}
  bool Write(const CVideoFrame& frame, const H264Crop& crop, uint32_t fps_num, uint32_t fps_den);
  uint32_t Written() const { return written_; }
  uint32_t Skipped() const { return skipped_; }

 private:
  // Adds `size` bytes at `data` to the pieces of the frame being written, joined to the
  // previous piece when they follow it in memory.
  void Add(const void* data, size_t size);
  // `rows` rows of `width` bytes, `stride` bytes apart.
  void AddRows(const uint8_t* first, size_t stride, size_t width, size_t rows);
  bool Flush();

  std::FILE* out_;
  uint32_t width_ = 0, height_ = 0, format_ = 0;
  uint32_t written_ = 0, skipped_ = 0;
  std::string text_;  // stream header and frame marker of the frame being written
  std::vector<iovec> pieces_;
};

// Decodes an Annex B H.264 elementary stream file into a Y4M file of its visible pictures in
// output order. Returns the exit status (0 success, 1 the input could not be decoded).
int DecodeH264ElementaryStream(const std::string& input_path, const std::string& output_path);

}  // namespace fennik::cli
