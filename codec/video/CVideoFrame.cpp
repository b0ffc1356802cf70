#include "codec/video/CVideoFrame.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <new>

namespace fennik {
namespace {

// Largest picture a frame may hold; anything bigger is treated as a corrupt size.
constexpr uint32_t kMaxDimension = 16384;

uint8_t* Align16(uint8_t* p) {
  uintptr_t v = reinterpret_cast<uintptr_t>(p);
  return reinterpret_cast<uint8_t*>((v + 15) & ~uintptr_t{15});
}

YuvColourTables BuildTables() {
  YuvColourTables t;
  constexpr double kScale = 1048576.0;
  for (int i = 0; i < 256; ++i) {
    int y = std::clamp(i, 16, 235) - 16;
    int c = std::clamp(i, 16, 240) - 128;
    // Truncation toward zero, as the casts do.
    t.y[i] = static_cast<int32_t>(y * 1.164 * kScale);
    t.cr_r[i] = static_cast<int32_t>(c * 1.596 * kScale);
    t.cr_g[i] = static_cast<int32_t>(c * -0.813 * kScale);
    t.cb_g[i] = static_cast<int32_t>(c * -0.392 * kScale);
    t.cb_b[i] = static_cast<int32_t>(c * 2.017 * kScale);
  }
  return t;
}

uint32_t ClampPixel(int32_t v) { return static_cast<uint32_t>(std::clamp(v >> 20, 0, 255)); }

}  // namespace

const YuvColourTables& GetYuvColourTables() {
  static const YuvColourTables tables = BuildTables();
  return tables;
}

CVideoFrame::CVideoFrame() { GetYuvColourTables(); }

namespace {

int ChromaStrideOf(uint32_t format, uint32_t padded_width) {
  switch (format) {
    case kPictureYuv411: return static_cast<int>(padded_width / 4);
    case kPictureYuv420:
    case kPictureYuv422: return static_cast<int>(padded_width / 2);
    case kPictureYuv444: return static_cast<int>(padded_width);
    default: return 0;
  }
}

}  // namespace

uint32_t CVideoFrame::ChromaWidth() const { return static_cast<uint32_t>(ChromaStride()); }

uint32_t CVideoFrame::ChromaHeight() const {
  if (format_ == kPictureYuv420) return padded_height_ / 2;
  if (format_ >= kPictureYuv411 && format_ <= kPictureYuv444) return padded_height_;
  return 0;
}

bool CVideoFrame::ValidGeometry(uint32_t width, uint32_t height, uint32_t format) {
  return width != 0 && height != 0 && width <= kMaxDimension && height <= kMaxDimension && format >= kPictureYuv411 &&
         format <= kPictureRgb32;
}

bool CVideoFrame::Allocate(uint32_t width, uint32_t height, uint32_t format) {
  std::unique_ptr<uint8_t[]> memory = std::move(memory_);
  const size_t memory_size = memory_size_;
  Free();
  if (!ValidGeometry(width, height, format)) return false;
  size_t total = 0;
  if (format == kPictureRgb32) {
    padded_width_ = width;
    padded_height_ = height;
    luma_size_ = width * height;
    chroma_size_ = 0;
    total = size_t{4} * width * height;
  } else {
    padded_width_ = (width + 15) & ~15u;
    padded_height_ = (height + 15) & ~15u;
    luma_size_ = (padded_height_ + 32) * padded_width_;
    switch (format) {
      case kPictureYuv411:
      case kPictureYuv420: chroma_size_ = luma_size_ / 4; total = luma_size_ + luma_size_ / 2 + 64; break;
      case kPictureYuv422: chroma_size_ = luma_size_ / 2; total = size_t{2} * luma_size_ + 64; break;
      default: chroma_size_ = luma_size_; total = size_t{3} * luma_size_ + 64; break;
    }
  }
  // 16 extra bytes so the first plane can be aligned inside the allocation. The memory is
  // not zeroed: Clear below writes every byte.
  total += 16;
  if (memory == nullptr || memory_size != total) memory.reset(new (std::nothrow) uint8_t[total]);
  if (memory == nullptr) {
    Free();
    return false;
  }
  memory_ = std::move(memory);
  memory_size_ = total;
  width_ = width;
  height_ = height;
  format_ = format;
  chroma_stride_ = ChromaStrideOf(format, padded_width_);
  y_ = Align16(memory_.get());
  if (format == kPictureRgb32) {
    cb_ = cr_ = nullptr;
  } else {
    cb_ = Align16(y_ + luma_size_);
    cr_ = Align16(cb_ + chroma_size_);
  }
  // The bytes outside the planes (alignment gaps and the slack after the last plane, which
  // wide loads may read) are zeroed; Clear writes the planes.
  uint8_t* const end = memory_.get() + total;
  const size_t last_plane = format == kPictureRgb32 ? size_t{4} * width * height : chroma_size_;
  uint8_t* const last = format == kPictureRgb32 ? y_ : cr_;
  std::memset(memory_.get(), 0, static_cast<size_t>(y_ - memory_.get()));
  if (format != kPictureRgb32) {
    std::memset(y_ + luma_size_, 0, static_cast<size_t>(cb_ - (y_ + luma_size_)));
    std::memset(cb_ + chroma_size_, 0, static_cast<size_t>(cr_ - (cb_ + chroma_size_)));
  }
  std::memset(last + last_plane, 0, static_cast<size_t>(end - (last + last_plane)));
  Clear();
  return true;
}

void CVideoFrame::Free() {
  memory_.reset();
  memory_size_ = 0;
  width_ = height_ = format_ = padded_width_ = padded_height_ = luma_size_ = chroma_size_ = 0;
  chroma_stride_ = 0;
  y_ = cb_ = cr_ = nullptr;
  picture_index = -1;
}

void CVideoFrame::Clear() {
  picture_index = -1;
  if (!IsAllocated()) return;
  if (format_ == kPictureRgb32) {
    std::memset(y_, 0, size_t{4} * width_ * height_);
    return;
  }
  std::memset(y_, 16, luma_size_);
  std::memset(cb_, 128, chroma_size_);
  std::memset(cr_, 128, chroma_size_);
}

void CVideoFrame::Swap(CVideoFrame& other) {
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(format_, other.format_);
  std::swap(padded_width_, other.padded_width_);
  std::swap(padded_height_, other.padded_height_);
  std::swap(luma_size_, other.luma_size_);
  std::swap(chroma_size_, other.chroma_size_);
  std::swap(chroma_stride_, other.chroma_stride_);
  memory_.swap(other.memory_);
  std::swap(memory_size_, other.memory_size_);
  std::swap(y_, other.y_);
  std::swap(cb_, other.cb_);
  std::swap(cr_, other.cr_);
  std::swap(field_type, other.field_type);
  std::swap(value64, other.value64);
  std::swap(picture_index, other.picture_index);
  std::swap(frame_number, other.frame_number);
}

bool CVideoFrame::CopyFrom(const CVideoFrame& other) {
  if (&other == this) return true;
  if (!other.IsAllocated()) {
    Free();
    return true;
  }
  if (!IsAllocated() || width_ != other.width_ || height_ != other.height_ || format_ != other.format_) {
    if (!Allocate(other.width_, other.height_, other.format_)) return false;
  }
  field_type = other.field_type;
  value64 = other.value64;
  picture_index = other.picture_index;
  frame_number = other.frame_number;
  if (format_ == kPictureRgb32) {
    std::memcpy(y_, other.y_, size_t{4} * width_ * height_);
  } else {
    std::memcpy(y_, other.y_, luma_size_);
    std::memcpy(cb_, other.cb_, chroma_size_);
    std::memcpy(cr_, other.cr_, chroma_size_);
  }
  return true;
}

void CVideoFrame::ConvertToRgb(uint32_t* out, int display_mode) const {
  if (!IsAllocated() || out == nullptr) return;
  const uint32_t w = width_;
  const uint32_t h = height_;
  if (format_ == kPictureRgb32) {
    std::memcpy(out, y_, size_t{4} * w * h);
    return;
  }
  const YuvColourTables& t = GetYuvColourTables();
  const int cstride = ChromaStride();
  const uint32_t xshift = format_ == kPictureYuv411 ? 2 : (format_ == kPictureYuv444 ? 0 : 1);
  const uint32_t yshift = format_ == kPictureYuv420 ? 1 : 0;
  auto convert_row = [&](uint32_t row) {
    const uint8_t* ys = y_ + size_t{row} * padded_width_;
    const uint8_t* cbs = cb_ + size_t{row >> yshift} * cstride;
    const uint8_t* crs = cr_ + size_t{row >> yshift} * cstride;
    uint32_t* dst = out + size_t{row} * w;
    uint32_t x = 0;
    if (xshift == 1) {
      // Two luma samples share each chroma pair: its three terms are looked up once.
      for (; x + 1 < w; x += 2) {
        const uint8_t cb = cbs[x >> 1], cr = crs[x >> 1];
        const int32_t bc = t.cb_b[cb], gc = t.cr_g[cr] + t.cb_g[cb], rc = t.cr_r[cr];
        const int32_t y0 = t.y[ys[x]], y1 = t.y[ys[x + 1]];
        dst[x] = ClampPixel(y0 + bc) | (ClampPixel(y0 + gc) << 8) | (ClampPixel(y0 + rc) << 16);
        dst[x + 1] = ClampPixel(y1 + bc) | (ClampPixel(y1 + gc) << 8) | (ClampPixel(y1 + rc) << 16);
      }
    }
    for (; x < w; ++x) {
      int32_t yy = t.y[ys[x]];
      uint8_t cb = cbs[x >> xshift];
      uint8_t cr = crs[x >> xshift];
      uint32_t b = ClampPixel(yy + t.cb_b[cb]);
      uint32_t g = ClampPixel(yy + t.cr_g[cr] + t.cb_g[cb]);
      uint32_t r = ClampPixel(yy + t.cr_r[cr]);
      dst[x] = b | (g << 8) | (r << 16);
    }
  };
  if (display_mode != 1 && display_mode != 2) {
    for (uint32_t row = 0; row < h; ++row) convert_row(row);
    return;
  }
  const uint32_t first = display_mode == 1 ? 0 : 1;
  for (uint32_t row = first; row < h; row += 2) convert_row(row);
  // Rows of the other field: per-byte average of the rows above and below, rounded down;
  // a row without a neighbour on one side repeats the other.
  for (uint32_t row = 1 - first; row < h; row += 2) {
    uint32_t* dst = out + size_t{row} * w;
    const bool has_above = row > 0;
    const bool has_below = row + 1 < h;
    if (!has_above && !has_below) {
      std::memset(dst, 0, size_t{4} * w);
      continue;
    }
    const uint32_t* above = has_above ? out + size_t{row - 1} * w : out + size_t{row + 1} * w;
    const uint32_t* below = has_below ? out + size_t{row + 1} * w : above;
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t a = above[x], b = below[x], v = 0;
      for (int k = 0; k < 32; k += 8) v |= ((((a >> k) & 0xFF) + ((b >> k) & 0xFF)) >> 1) << k;
      dst[x] = v;
    }
  }
}

}  // namespace fennik
