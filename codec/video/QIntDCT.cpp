#include "codec/video/QIntDCT.h"

namespace fennik {
namespace {

// cos(k * pi / 16) * sqrt(2) * 2^14, rounded (W4 one below, keeping a DC-only row exact
// through the shortcut below).
constexpr int32_t W1 = 22725, W2 = 21407, W3 = 19266, W4 = 16383, W5 = 12873, W6 = 8867, W7 = 4520;
constexpr int kRowShift = 11;
constexpr int kColumnShift = 20;

inline uint8_t Clip(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

void Row(int16_t* r) {
  if ((r[1] | r[2] | r[3] | r[4] | r[5] | r[6] | r[7]) == 0) {
    // DC only: every output is the DC scaled by 8.
    const int16_t dc = static_cast<int16_t>(static_cast<uint16_t>(r[0] * 8));
    for (int i = 0; i < 8; ++i) r[i] = dc;
    return;
  }
  int32_t a0 = W4 * r[0] + (1 << (kRowShift - 1));
  int32_t a1 = a0, a2 = a0, a3 = a0;
  a0 += W2 * r[2];
  a1 += W6 * r[2];
  a2 -= W6 * r[2];
  a3 -= W2 * r[2];
  int32_t b0 = W1 * r[1] + W3 * r[3];
  int32_t b1 = W3 * r[1] - W7 * r[3];
  int32_t b2 = W5 * r[1] - W1 * r[3];
  int32_t b3 = W7 * r[1] - W5 * r[3];
  a0 += W4 * r[4] + W6 * r[6];
  a1 += -W4 * r[4] - W2 * r[6];
  a2 += -W4 * r[4] + W2 * r[6];
  a3 += W4 * r[4] - W6 * r[6];
  b0 += W5 * r[5] + W7 * r[7];
  b1 += -W1 * r[5] - W5 * r[7];
  b2 += W7 * r[5] + W3 * r[7];
  b3 += W3 * r[5] - W1 * r[7];
  r[0] = static_cast<int16_t>((a0 + b0) >> kRowShift);
  r[7] = static_cast<int16_t>((a0 - b0) >> kRowShift);
  r[1] = static_cast<int16_t>((a1 + b1) >> kRowShift);
  r[6] = static_cast<int16_t>((a1 - b1) >> kRowShift);
  r[2] = static_cast<int16_t>((a2 + b2) >> kRowShift);
  r[5] = static_cast<int16_t>((a2 - b2) >> kRowShift);
  r[3] = static_cast<int16_t>((a3 + b3) >> kRowShift);
  r[4] = static_cast<int16_t>((a3 - b3) >> kRowShift);
}

// One column (stride 8) into out[0..7] at out stride 1.
void Column(const int16_t* c, int32_t out[8]) {
  int32_t a0 = W4 * (c[0] + ((1 << (kColumnShift - 1)) / W4));
  int32_t a1 = a0, a2 = a0, a3 = a0;
  a0 += W2 * c[16];
  a1 += W6 * c[16];
  a2 -= W6 * c[16];
  a3 -= W2 * c[16];
  int32_t b0 = W1 * c[8] + W3 * c[24];
  int32_t b1 = W3 * c[8] - W7 * c[24];
  int32_t b2 = W5 * c[8] - W1 * c[24];
  int32_t b3 = W7 * c[8] - W5 * c[24];
  a0 += W4 * c[32];
  a1 -= W4 * c[32];
  a2 -= W4 * c[32];
  a3 += W4 * c[32];
  b0 += W5 * c[40];
  b1 -= W1 * c[40];
  b2 += W7 * c[40];
  b3 += W3 * c[40];
  a0 += W6 * c[48];
  a1 -= W2 * c[48];
  a2 += W2 * c[48];
  a3 -= W6 * c[48];
  b0 += W7 * c[56];
  b1 -= W5 * c[56];
  b2 += W3 * c[56];
  b3 -= W1 * c[56];
  out[0] = (a0 + b0) >> kColumnShift;
  out[1] = (a1 + b1) >> kColumnShift;
  out[2] = (a2 + b2) >> kColumnShift;
  out[3] = (a3 + b3) >> kColumnShift;
  out[4] = (a3 - b3) >> kColumnShift;
  out[5] = (a2 - b2) >> kColumnShift;
  out[6] = (a1 - b1) >> kColumnShift;
  out[7] = (a0 - b0) >> kColumnShift;
}

}  // namespace

void QIntDCT::Inverse(int16_t block[64]) {
  for (int i = 0; i < 8; ++i) Row(block + 8 * i);
  int32_t out[8];
  for (int x = 0; x < 8; ++x) {
    Column(block + x, out);
    for (int y = 0; y < 8; ++y) block[8 * y + x] = static_cast<int16_t>(out[y]);
  }
}

void QIntDCT::InversePut(int16_t block[64], uint8_t* dst, ptrdiff_t stride) {
  for (int i = 0; i < 8; ++i) Row(block + 8 * i);
  int32_t out[8];
  for (int x = 0; x < 8; ++x) {
    Column(block + x, out);
    for (int y = 0; y < 8; ++y) dst[y * stride + x] = Clip(out[y]);
  }
}

void QIntDCT::InverseAdd(int16_t block[64], uint8_t* dst, ptrdiff_t stride) {
  for (int i = 0; i < 8; ++i) Row(block + 8 * i);
  int32_t out[8];
  for (int x = 0; x < 8; ++x) {
    Column(block + x, out);
    for (int y = 0; y < 8; ++y) dst[y * stride + x] = Clip(dst[y * stride + x] + out[y]);
  }
}

}  // namespace fennik
