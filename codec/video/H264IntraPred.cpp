#include "codec/video/H264IntraPred.h"

#include <algorithm>
#include <cstring>

namespace fennik {
namespace {

inline uint8_t Clip1(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// The diagonal modes 3..8 of an N x N block (Intra_4x4 and Intra_8x8 use the same rules) from
// its reference samples left[y] = p[-1, y], corner = p[-1, -1] and top[x] = p[x, -1] for
// x < 2N. The samples are laid out as one edge running up the left column, through the corner
// and along the top row; every predicted sample is the 2-tap or 3-tap filtered edge at an
// index that follows from its position, so whole rows of modes 3, 4 and 7 are copies.
template <int N>
void PredictDiagonal(uint8_t* dst, int stride, int mode, const int* left, int corner, const int* top) {
  // e[kC - 1 - y] = p[-1, y], e[kC] = p[-1, -1], e[kC + 1 + x] = p[x, -1]; the last left
  // sample repeats below the column and the last top sample once past the row (the rules'
  // own ends: Horizontal_Up past the column, Diagonal_Down_Left at its corner).
  constexpr int kC = 2 * N, kLen = 4 * N + 2;
  int e[kLen];
  for (int i = 0; i < N; ++i) e[i] = left[N - 1];
  for (int y = 0; y < N; ++y) e[kC - 1 - y] = left[y];
  e[kC] = corner;
  for (int x = 0; x < 2 * N; ++x) e[kC + 1 + x] = top[x];
  e[kLen - 1] = top[2 * N - 1];
  // f2[i] = (e[i] + e[i + 1] + 1) >> 1, f3[i] = (e[i - 1] + 2 * e[i] + e[i + 1] + 2) >> 2.
  uint8_t f2[kLen], f3[kLen];
  for (int i = 1; i < kLen - 1; ++i) {
    f2[i] = static_cast<uint8_t>((e[i] + e[i + 1] + 1) >> 1);
    f3[i] = static_cast<uint8_t>((e[i - 1] + 2 * e[i] + e[i + 1] + 2) >> 2);
  }
  for (int y = 0; y < N; ++y) {
    uint8_t* row = dst + y * stride;
    switch (mode) {
      case 3: std::memcpy(row, f3 + kC + 2 + y, N); break;  // Diagonal_Down_Left
      case 4: std::memcpy(row, f3 + kC - y, N); break;      // Diagonal_Down_Right
      case 7: std::memcpy(row, (y & 1) ? f3 + kC + 2 + (y >> 1) : f2 + kC + 1 + (y >> 1), N); break;  // Vertical_Left
      case 5:  // Vertical_Right
        for (int x = 0; x < N; ++x) {
          const int z = 2 * x - y;
          // Read through a pointer: the sanitizer's bounds check misreads ?: of two arrays.
          const uint8_t* f = (z & 1) ? f3 : f2;
          if (z >= 0) row[x] = f[kC + x - (y >> 1)];
          else row[x] = f3[z == -1 ? kC : kC + 1 + 2 * x - y];
        }
        break;
      case 6:  // Horizontal_Down
        for (int x = 0; x < N; ++x) {
          const int z = 2 * y - x;
          if (z >= 0) row[x] = (z & 1) ? f3[kC - y + (x >> 1)] : f2[kC - 1 - y + (x >> 1)];
          else row[x] = f3[z == -1 ? kC : kC - 1 + x - 2 * y];
        }
        break;
      default:  // 8: Horizontal_Up
        for (int x = 0; x < N; ++x) {
          const uint8_t* f = ((x + 2 * y) & 1) ? f3 : f2;
          row[x] = f[kC - 2 - y - (x >> 1)];
        }
        break;
    }
  }
}

// DC value of an N x N block from the reference sample sums of its available sides.
template <int N>
int DcValue(int top_sum, int left_sum, bool has_top, bool has_left) {
  constexpr int kShift = N == 4 ? 2 : (N == 8 ? 3 : 4);
  if (has_top && has_left) return (top_sum + left_sum + N) >> (kShift + 1);
  if (has_left) return (left_sum + N / 2) >> kShift;
  if (has_top) return (top_sum + N / 2) >> kShift;
  return 128;
}

// Modes 0..2 of an N x N block from its reference samples; returns false for the diagonal
// modes.
template <int N>
bool PredictStraight(uint8_t* dst, int stride, int mode, const int* left, const int* top, bool has_top,
                     bool has_left) {
  if (mode == 0) {  // Vertical
    uint8_t row[N];
    for (int i = 0; i < N; ++i) row[i] = static_cast<uint8_t>(top[i]);
    for (int y = 0; y < N; ++y) std::memcpy(dst + y * stride, row, N);
  } else if (mode == 1) {  // Horizontal
    for (int y = 0; y < N; ++y) std::memset(dst + y * stride, left[y], N);
  } else if (mode == 2) {  // DC
    int top_sum = 0, left_sum = 0;
    for (int i = 0; i < N && has_top; ++i) top_sum += top[i];
    for (int i = 0; i < N && has_left; ++i) left_sum += left[i];
    const int dc = DcValue<N>(top_sum, left_sum, has_top, has_left);
    for (int y = 0; y < N; ++y) std::memset(dst + y * stride, dc, N);
  } else {
    return false;
  }
  return true;
}

}  // namespace

void PredictIntra4x4(uint8_t* dst, int stride, int mode, const IntraNeighbours& n) {
  int top[8], left[4];
  for (int i = 0; i < 8; ++i) top[i] = n.top[i];
  for (int i = 0; i < 4; ++i) left[i] = n.left[i];
  if (!PredictStraight<4>(dst, stride, mode, left, top, n.has_top, n.has_left))
    PredictDiagonal<4>(dst, stride, mode, left, n.top_left, top);
}

void PredictIntra8x8(uint8_t* dst, int stride, int mode, const IntraNeighbours& n) {
  // Filtered reference samples: t[x + 1] = p'[x, -1] for x = -1 .. 15, l[y] = p'[-1, y].
  int t[17] = {}, l[8] = {};
  if (n.has_top) {
    const uint8_t* p = n.top;
    t[1] = n.has_top_left ? (n.top_left + 2 * p[0] + p[1] + 2) >> 2 : (3 * p[0] + p[1] + 2) >> 2;
    for (int x = 1; x < 15; ++x) t[x + 1] = (p[x - 1] + 2 * p[x] + p[x + 1] + 2) >> 2;
    t[16] = (p[14] + 3 * p[15] + 2) >> 2;
  }
  if (n.has_left) {
    const uint8_t* p = n.left;
    l[0] = n.has_top_left ? (n.top_left + 2 * p[0] + p[1] + 2) >> 2 : (3 * p[0] + p[1] + 2) >> 2;
    for (int y = 1; y < 7; ++y) l[y] = (p[y - 1] + 2 * p[y] + p[y + 1] + 2) >> 2;
    l[7] = (p[6] + 3 * p[7] + 2) >> 2;
  }
  if (n.has_top_left) {
    if (n.has_top && n.has_left) t[0] = (n.top[0] + 2 * n.top_left + n.left[0] + 2) >> 2;
    else if (n.has_top) t[0] = (3 * n.top_left + n.top[0] + 2) >> 2;
    else if (n.has_left) t[0] = (3 * n.top_left + n.left[0] + 2) >> 2;
    else t[0] = n.top_left;
  }
  if (!PredictStraight<8>(dst, stride, mode, l, t + 1, n.has_top, n.has_left))
    PredictDiagonal<8>(dst, stride, mode, l, t[0], t + 1);
}

void PredictIntra16x16(uint8_t* dst, int stride, int mode, const IntraNeighbours& n) {
  switch (mode) {
    case 0:
      for (int y = 0; y < 16; ++y) std::memcpy(dst + y * stride, n.top, 16);
      return;
    case 1:
      for (int y = 0; y < 16; ++y) std::memset(dst + y * stride, n.left[y], 16);
      return;
    case 2: {
      int sum = 0, v = 128;
      if (n.has_top && n.has_left) {
        for (int i = 0; i < 16; ++i) sum += n.top[i] + n.left[i];
        v = (sum + 16) >> 5;
      } else if (n.has_left) {
        for (int i = 0; i < 16; ++i) sum += n.left[i];
        v = (sum + 8) >> 4;
      } else if (n.has_top) {
        for (int i = 0; i < 16; ++i) sum += n.top[i];
        v = (sum + 8) >> 4;
      }
      for (int y = 0; y < 16; ++y) std::memset(dst + y * stride, v, 16);
      return;
    }
    default: {  // Plane
      auto top = [&](int x) { return x < 0 ? static_cast<int>(n.top_left) : static_cast<int>(n.top[x]); };
      auto left = [&](int y) { return y < 0 ? static_cast<int>(n.top_left) : static_cast<int>(n.left[y]); };
      int h = 0, v = 0;
      for (int i = 0; i < 8; ++i) {
        h += (i + 1) * (top(8 + i) - top(6 - i));
        v += (i + 1) * (left(8 + i) - left(6 - i));
      }
      const int a = 16 * (n.left[15] + n.top[15]);
      const int b = (5 * h + 32) >> 6;
      const int c = (5 * v + 32) >> 6;
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) dst[y * stride + x] = Clip1((a + b * (x - 7) + c * (y - 7) + 16) >> 5);
      return;
    }
  }
}

void PredictIntraChroma(uint8_t* dst, int stride, int mode, const IntraNeighbours& n, int height) {
  switch (mode) {
    case 0: {  // DC, per 4x4 chroma block (8.3.4.1 to 8.3.4.3)
      int st[2] = {}, sl[4] = {};  // sums of the 4 samples above each block column / left of each row
      for (int i = 0; i < 4; ++i) {
        st[0] += n.top[i];
        st[1] += n.top[4 + i];
      }
      for (int by = 0; by < height / 4; ++by)
        for (int i = 0; i < 4; ++i) sl[by] += n.left[by * 4 + i];
      for (int by = 0; by < height / 4; ++by) {
        uint8_t row[8];
        for (int bx = 0; bx < 2; ++bx) {
          int v = 128;
          const bool corner = (bx == 0 && by == 0) || (bx == 1 && by > 0);
          if (corner) {
            if (n.has_top && n.has_left) v = (st[bx] + sl[by] + 4) >> 3;
            else if (n.has_left) v = (sl[by] + 2) >> 2;
            else if (n.has_top) v = (st[bx] + 2) >> 2;
          } else if (bx == 1) {  // top-right block prefers the top row
            if (n.has_top) v = (st[bx] + 2) >> 2;
            else if (n.has_left) v = (sl[by] + 2) >> 2;
          } else {  // left column blocks below the first prefer the left column
            if (n.has_left) v = (sl[by] + 2) >> 2;
            else if (n.has_top) v = (st[bx] + 2) >> 2;
          }
          std::memset(row + bx * 4, v, 4);
        }
        for (int y = 0; y < 4; ++y) std::memcpy(dst + (by * 4 + y) * stride, row, 8);
      }
      return;
    }
    case 1:
      for (int y = 0; y < height; ++y) std::memset(dst + y * stride, n.left[y], 8);
      return;
    case 2:
      for (int y = 0; y < height; ++y) std::memcpy(dst + y * stride, n.top, 8);
      return;
    default: {
      // Plane: 4:2:2 blocks use the longer vertical gradient (yCF = 4) with its own weight.
      auto top = [&](int x) { return x < 0 ? static_cast<int>(n.top_left) : static_cast<int>(n.top[x]); };
      auto left = [&](int y) { return y < 0 ? static_cast<int>(n.top_left) : static_cast<int>(n.left[y]); };
      const int ycf = height == 16 ? 4 : 0;
      int h = 0, v = 0;
      for (int i = 0; i < 4; ++i) h += (i + 1) * (top(4 + i) - top(2 - i));
      for (int i = 0; i < 4 + ycf; ++i) v += (i + 1) * (left(4 + ycf + i) - left(2 + ycf - i));
      const int a = 16 * (n.left[height - 1] + n.top[7]);
      const int b = (34 * h + 32) >> 6;
      const int c = ((height == 16 ? 5 : 34) * v + 32) >> 6;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < 8; ++x) dst[y * stride + x] = Clip1((a + b * (x - 3) + c * (y - 3 - ycf) + 16) >> 5);
      return;
    }
  }
}

}  // namespace fennik
