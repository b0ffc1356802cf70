// Helpers for the H.263 tests: fixtures, splitting an elementary stream at picture start
// codes, and per-plane PSNR against a reference decode.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/video/CVideoFrame.h"

namespace fennik::test {

inline std::string H263Fixture(const std::string& name) { return std::string(FENNIK_TEST_DATA) + "/h263/" + name; }

inline std::vector<uint8_t> ReadH263File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Byte-aligned picture start codes: 22-bit PSC, or the Sorenson start code with version 0/1.
inline std::vector<size_t> PictureStarts(const std::vector<uint8_t>& d, bool sorenson) {
  std::vector<size_t> out;
  const uint32_t mask = sorenson ? 0xFFFFF8 : 0xFFFFFC;
  for (size_t i = 0; i + 2 < d.size(); ++i) {
    const uint32_t w = (uint32_t{d[i]} << 16) | (uint32_t{d[i + 1]} << 8) | d[i + 2];
    if ((w & mask) == 0x000080) out.push_back(i);
  }
  return out;
}

// PSNR (dB) of one plane of `f` against a reference plane; 99 when identical.
inline double PlanePsnr(const uint8_t* plane, int stride, const uint8_t* ref, uint32_t w, uint32_t h) {
  double sse = 0;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const double d = double(plane[y * stride + x]) - double(ref[y * w + x]);
      sse += d * d;
    }
  if (sse == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * w * h / sse);
}

// The lowest of the three planes' PSNR of a 4:2:0 picture against a packed yuv420p reference.
inline double MinPlanePsnr(const CVideoFrame& f, const uint8_t* ref) {
  const uint32_t w = f.Width(), h = f.Height(), cw = (w + 1) / 2, ch = (h + 1) / 2;
  const double py = PlanePsnr(f.Y(), f.LumaStride(), ref, w, h);
  const double pu = PlanePsnr(f.Cb(), f.ChromaStride(), ref + w * h, cw, ch);
  const double pv = PlanePsnr(f.Cr(), f.ChromaStride(), ref + w * h + cw * ch, cw, ch);
  return std::min(py, std::min(pu, pv));
}

}  // namespace fennik::test
