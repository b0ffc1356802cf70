// The picture buffer handed between the video decoders, playback and the video views: three
// 8-bit YCbCr planes (or one packed 32-bit RGB array) in one allocation, plus the attributes of
// the decoded picture it holds, with the conversion to 32-bit RGB for display.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fennik {

enum VideoPictureFormat : uint32_t {
  kPictureYuv411 = 1,
  kPictureYuv420 = 2,
  kPictureYuv422 = 3,
  kPictureYuv444 = 4,
  kPictureRgb32 = 5,
};

// The shown part of a decoded picture (H.264 frame cropping); a zero width or height stands
// for the whole picture.
struct VideoCrop {
  uint32_t left = 0;
  uint32_t top = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

class CVideoFrame {
 public:
  CVideoFrame();
  CVideoFrame(const CVideoFrame&) = delete;
  CVideoFrame& operator=(const CVideoFrame&) = delete;

  // (Re)allocates for a picture of width x height in the given format. Returns false (and
  // leaves the frame empty) for a zero or absurd size or an unknown format.
  bool Allocate(uint32_t width, uint32_t height, uint32_t format);
  // Whether Allocate accepts the size and format.
  static bool ValidGeometry(uint32_t width, uint32_t height, uint32_t format);
  void Free();
  bool IsAllocated() const { return memory_ != nullptr; }

  // Black picture (Y 16, Cb/Cr 128; RGB 0) and picture index -1.
  void Clear();
  // Copies another frame's attributes and samples, reallocating when the size or format
  // differs. Returns false when the allocation fails.
  bool CopyFrom(const CVideoFrame& other);
  // Exchanges attributes and samples with another frame (no copy).
  void Swap(CVideoFrame& other);

  // Converts to top-down 32-bit pixels (bytes B, G, R, 0), `width` x `height` of them.
  // display_mode 0: every row; 1: even rows, odd rows interpolated; 2: odd rows, even rows
  // interpolated. `out` must hold width * height entries.
  void ConvertToRgb(uint32_t* out, int display_mode) const;

  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t Format() const { return format_; }
  uint32_t PaddedWidth() const { return padded_width_; }
  uint32_t PaddedHeight() const { return padded_height_; }
  uint32_t LumaPlaneSize() const { return luma_size_; }
  uint32_t ChromaPlaneSize() const { return chroma_size_; }
  int LumaStride() const { return static_cast<int>(padded_width_); }
  int ChromaStride() const { return chroma_stride_; }
  // Chroma plane sample dimensions covering the padded picture.
  uint32_t ChromaWidth() const;
  uint32_t ChromaHeight() const;

  uint8_t* Y() { return y_; }
  uint8_t* Cb() { return cb_; }
  uint8_t* Cr() { return cr_; }
  const uint8_t* Y() const { return y_; }
  const uint8_t* Cb() const { return cb_; }
  const uint8_t* Cr() const { return cr_; }
  uint32_t* Rgb() { return reinterpret_cast<uint32_t*>(y_); }

  // Picture attributes copied from the decoder's output picture.
  uint32_t field_type = 0;      // 0 progressive, 1 / 2 the two interlaced field orders
  uint64_t value64 = 0;         // the decoder's own 64-bit value (H.264: picture order count)
  int32_t picture_index = -1;   // -1 when empty
  uint32_t frame_number = 0;    // stream frame the picture came from

 private:
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t format_ = 0;
  uint32_t padded_width_ = 0;
  uint32_t padded_height_ = 0;
  uint32_t luma_size_ = 0;
  uint32_t chroma_size_ = 0;
  int chroma_stride_ = 0;
  // The samples, uninitialised when allocated (Allocate clears them once); kept when a
  // picture of the same size in bytes replaces the one held.
  std::unique_ptr<uint8_t[]> memory_;
  size_t memory_size_ = 0;
  uint8_t* y_ = nullptr;
  uint8_t* cb_ = nullptr;
  uint8_t* cr_ = nullptr;
};

// The five fixed-point (20 fraction bits) colour tables used by the RGB conversion:
// Y, CrR, CrG, CbG, CbB, built once per process.
struct YuvColourTables {
  int32_t y[256];
  int32_t cr_r[256];
  int32_t cr_g[256];
  int32_t cb_g[256];
  int32_t cb_b[256];
};
const YuvColourTables& GetYuvColourTables();

}  // namespace fennik
