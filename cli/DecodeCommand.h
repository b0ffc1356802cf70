// `fennik-cli decode`: decoded pictures of an H.264 elementary stream (Annex B) or of a
// captured video stream as Y4M.
#pragma once

#include <cstdio>
#include <string>

#include "codec/video/C264_Decode.h"

namespace fennik::cli {

// Writes the visible area of decoded pictures as Y4M frames in the pictures' own chroma
// format (4:2:0, 4:2:2 or 4:4:4; monochrome pictures carry flat 4:2:0 chroma).
class Y4mWriter {
 public:
  explicit Y4mWriter(std::FILE* out) : out_(out) {}
  bool Write(const CVideoFrame& frame, const H264Crop& crop, uint32_t fps_num, uint32_t fps_den) {
    if (width_ == 0) {
      width_ = crop.width;
      height_ = crop.height;
      format_ = frame.Format();
      const char* chroma = format_ == kPictureYuv444 ? "C444" : format_ == kPictureYuv422 ? "C422" : "C420jpeg";
      std::fprintf(out_, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 %s\n", width_, height_, fps_num, fps_den, chroma);
    }
    if (crop.width != width_ || crop.height != height_ || frame.Format() != format_) {
      ++skipped_;
      return true;
    }
    std::fputs("FRAME\n", out_);
    const int ls = frame.LumaStride(), cs = frame.ChromaStride();
    for (uint32_t y = 0; y < height_; ++y) std::fwrite(frame.Y() + (crop.top + y) * ls + crop.left, 1, width_, out_);
    const uint32_t sx = format_ == kPictureYuv444 ? 0 : 1;  // chroma subsampling shifts
    const uint32_t sy = format_ == kPictureYuv420 ? 1 : 0;
    const uint32_t cw = (width_ + sx) >> sx, ch = (height_ + sy) >> sy;
    for (const uint8_t* plane : {frame.Cb(), frame.Cr()})
      for (uint32_t y = 0; y < ch; ++y)
        std::fwrite(plane + ((crop.top >> sy) + y) * cs + (crop.left >> sx), 1, cw, out_);
    ++written_;
    return !std::ferror(out_);
  }
  uint32_t Written() const { return written_; }
  uint32_t Skipped() const { return skipped_; }

 private:
  std::FILE* out_;
  uint32_t width_ = 0, height_ = 0, format_ = 0;
  uint32_t written_ = 0, skipped_ = 0;
};



// Decodes an Annex B H.264 elementary stream file into a Y4M file of its visible pictures in
// output order. Returns the exit status (0 success, 1 the input could not be decoded).
int DecodeH264ElementaryStream(const std::string& input_path, const std::string& output_path);

}  // namespace fennik::cli
