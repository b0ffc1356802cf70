#include "codec/video/H264IntraPred.h"

#include <algorithm>
#include <cstring>

namespace fennik {
namespace {

inline uint8_t Clip1(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

}  // namespace

void PredictIntra4x4(uint8_t* dst, int stride, int mode, const IntraNeighbours& n) {
  // p[x, -1] for x = -1 .. 7 at t[x + 1]; p[-1, y] for y = -1 .. 3 at l[y + 1].
  int t[9], l[5];
  t[0] = l[0] = n.top_left;
  for (int i = 0; i < 8; ++i) t[i + 1] = n.top[i];
  for (int i = 0; i < 4; ++i) l[i + 1] = n.left[i];
  auto P = [&](int x, int y) -> int { return y < 0 ? t[x + 1] : l[y + 1]; };  // x == -1 or y == -1
  uint8_t pred[4][4];
  switch (mode) {
    case 0:  // Vertical
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) pred[y][x] = static_cast<uint8_t>(P(x, -1));
      break;
    case 1:  // Horizontal
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) pred[y][x] = static_cast<uint8_t>(P(-1, y));
      break;
    case 2: {  // DC
      int sum = 0, v = 128;
      if (n.has_top && n.has_left) {
        for (int i = 0; i < 4; ++i) sum += P(i, -1) + P(-1, i);
        v = (sum + 4) >> 3;
      } else if (n.has_left) {
        for (int i = 0; i < 4; ++i) sum += P(-1, i);
        v = (sum + 2) >> 2;
      } else if (n.has_top) {
        for (int i = 0; i < 4; ++i) sum += P(i, -1);
        v = (sum + 2) >> 2;
      }
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) pred[y][x] = static_cast<uint8_t>(v);
      break;
    }
    case 3:  // Diagonal_Down_Left
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          if (x == 3 && y == 3) pred[y][x] = static_cast<uint8_t>((P(6, -1) + 3 * P(7, -1) + 2) >> 2);
          else pred[y][x] = static_cast<uint8_t>((P(x + y, -1) + 2 * P(x + y + 1, -1) + P(x + y + 2, -1) + 2) >> 2);
        }
      break;
    case 4:  // Diagonal_Down_Right
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int v;
          if (x > y) v = (P(x - y - 2, -1) + 2 * P(x - y - 1, -1) + P(x - y, -1) + 2) >> 2;
          else if (x < y) v = (P(-1, y - x - 2) + 2 * P(-1, y - x - 1) + P(-1, y - x) + 2) >> 2;
          else v = (P(0, -1) + 2 * P(-1, -1) + P(-1, 0) + 2) >> 2;
          pred[y][x] = static_cast<uint8_t>(v);
        }
      break;
    case 5:  // Vertical_Right
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int z = 2 * x - y, v;
          if (z >= 0 && (z & 1) == 0) v = (P(x - (y >> 1) - 1, -1) + P(x - (y >> 1), -1) + 1) >> 1;
          else if (z >= 0) v = (P(x - (y >> 1) - 2, -1) + 2 * P(x - (y >> 1) - 1, -1) + P(x - (y >> 1), -1) + 2) >> 2;
          else if (z == -1) v = (P(-1, 0) + 2 * P(-1, -1) + P(0, -1) + 2) >> 2;
          else v = (P(-1, y - 1) + 2 * P(-1, y - 2) + P(-1, y - 3) + 2) >> 2;
          pred[y][x] = static_cast<uint8_t>(v);
        }
      break;
    case 6:  // Horizontal_Down
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int z = 2 * y - x, v;
          if (z >= 0 && (z & 1) == 0) v = (P(-1, y - (x >> 1) - 1) + P(-1, y - (x >> 1)) + 1) >> 1;
          else if (z >= 0) v = (P(-1, y - (x >> 1) - 2) + 2 * P(-1, y - (x >> 1) - 1) + P(-1, y - (x >> 1)) + 2) >> 2;
          else if (z == -1) v = (P(-1, 0) + 2 * P(-1, -1) + P(0, -1) + 2) >> 2;
          else v = (P(x - 1, -1) + 2 * P(x - 2, -1) + P(x - 3, -1) + 2) >> 2;
          pred[y][x] = static_cast<uint8_t>(v);
        }
      break;
    case 7:  // Vertical_Left
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int v;
          if ((y & 1) == 0) v = (P(x + (y >> 1), -1) + P(x + (y >> 1) + 1, -1) + 1) >> 1;
          else v = (P(x + (y >> 1), -1) + 2 * P(x + (y >> 1) + 1, -1) + P(x + (y >> 1) + 2, -1) + 2) >> 2;
          pred[y][x] = static_cast<uint8_t>(v);
        }
      break;
    default:  // 8: Horizontal_Up
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          int z = x + 2 * y, v;
          if (z > 5) v = P(-1, 3);
          else if (z == 5) v = (P(-1, 2) + 3 * P(-1, 3) + 2) >> 2;
          else if ((z & 1) == 0) v = (P(-1, y + (x >> 1)) + P(-1, y + (x >> 1) + 1) + 1) >> 1;
          else v = (P(-1, y + (x >> 1)) + 2 * P(-1, y + (x >> 1) + 1) + P(-1, y + (x >> 1) + 2) + 2) >> 2;
          pred[y][x] = static_cast<uint8_t>(v);
        }
      break;
  }
  for (int y = 0; y < 4; ++y) std::memcpy(dst + y * stride, pred[y], 4);
}

void PredictIntra8x8(uint8_t* dst, int stride, int mode, const IntraNeighbours& n) {
  // Filtered reference samples: t[x + 1] = p'[x, -1] for x = -1 .. 15, l[y + 1] = p'[-1, y].
  int t[17] = {}, l[9] = {};
  if (n.has_top) {
    const uint8_t* p = n.top;
    t[1] = n.has_top_left ? (n.top_left + 2 * p[0] + p[1] + 2) >> 2 : (3 * p[0] + p[1] + 2) >> 2;
    for (int x = 1; x < 15; ++x) t[x + 1] = (p[x - 1] + 2 * p[x] + p[x + 1] + 2) >> 2;
    t[16] = (p[14] + 3 * p[15] + 2) >> 2;
  }
  if (n.has_left) {
    const uint8_t* p = n.left;
    l[1] = n.has_top_left ? (n.top_left + 2 * p[0] + p[1] + 2) >> 2 : (3 * p[0] + p[1] + 2) >> 2;
    for (int y = 1; y < 7; ++y) l[y + 1] = (p[y - 1] + 2 * p[y] + p[y + 1] + 2) >> 2;
    l[8] = (p[6] + 3 * p[7] + 2) >> 2;
  }
  if (n.has_top_left) {
    if (n.has_top && n.has_left) t[0] = (n.top[0] + 2 * n.top_left + n.left[0] + 2) >> 2;
    else if (n.has_top) t[0] = (3 * n.top_left + n.top[0] + 2) >> 2;
    else if (n.has_left) t[0] = (3 * n.top_left + n.left[0] + 2) >> 2;
    else t[0] = n.top_left;
  }
  l[0] = t[0];
  auto T = [&](int x) { return t[x + 1]; };  // p'[x, -1], x >= -1
  auto L = [&](int y) { return l[y + 1]; };  // p'[-1, y], y >= -1
  // One loop per mode (the mode's formula inlined), not a mode switch per sample.
  auto fill = [&](auto sample) {
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) dst[y * stride + x] = static_cast<uint8_t>(sample(x, y));
  };
  switch (mode) {
    case 0: return fill([&](int x, int) { return T(x); });
    case 1: return fill([&](int, int y) { return L(y); });
    case 2: {
      int sum = 0, v = 128;
      if (n.has_top && n.has_left) {
        for (int i = 0; i < 8; ++i) sum += T(i) + L(i);
        v = (sum + 8) >> 4;
      } else if (n.has_left) {
        for (int i = 0; i < 8; ++i) sum += L(i);
        v = (sum + 4) >> 3;
      } else if (n.has_top) {
        for (int i = 0; i < 8; ++i) sum += T(i);
        v = (sum + 4) >> 3;
      }
      return fill([v](int, int) { return v; });
    }
    case 3:
      return fill([&](int x, int y) {
        if (x == 7 && y == 7) return (T(14) + 3 * T(15) + 2) >> 2;
        return (T(x + y) + 2 * T(x + y + 1) + T(x + y + 2) + 2) >> 2;
      });
    case 4:
      return fill([&](int x, int y) {
        if (x > y) return (T(x - y - 2) + 2 * T(x - y - 1) + T(x - y) + 2) >> 2;
        if (x < y) return (L(y - x - 2) + 2 * L(y - x - 1) + L(y - x) + 2) >> 2;
        return (T(0) + 2 * T(-1) + L(0) + 2) >> 2;
      });
    case 5:
      return fill([&](int x, int y) {
        const int z = 2 * x - y;
        if (z >= 0 && (z & 1) == 0) return (T(x - (y >> 1) - 1) + T(x - (y >> 1)) + 1) >> 1;
        if (z >= 0) return (T(x - (y >> 1) - 2) + 2 * T(x - (y >> 1) - 1) + T(x - (y >> 1)) + 2) >> 2;
        if (z == -1) return (L(0) + 2 * L(-1) + T(0) + 2) >> 2;
        return (L(y - 2 * x - 1) + 2 * L(y - 2 * x - 2) + L(y - 2 * x - 3) + 2) >> 2;
      });
    case 6:
      return fill([&](int x, int y) {
        const int z = 2 * y - x;
        if (z >= 0 && (z & 1) == 0) return (L(y - (x >> 1) - 1) + L(y - (x >> 1)) + 1) >> 1;
        if (z >= 0) return (L(y - (x >> 1) - 2) + 2 * L(y - (x >> 1) - 1) + L(y - (x >> 1)) + 2) >> 2;
        if (z == -1) return (L(0) + 2 * L(-1) + T(0) + 2) >> 2;
        return (T(x - 2 * y - 1) + 2 * T(x - 2 * y - 2) + T(x - 2 * y - 3) + 2) >> 2;
      });
    case 7:
      return fill([&](int x, int y) {
        if ((y & 1) == 0) return (T(x + (y >> 1)) + T(x + (y >> 1) + 1) + 1) >> 1;
        return (T(x + (y >> 1)) + 2 * T(x + (y >> 1) + 1) + T(x + (y >> 1) + 2) + 2) >> 2;
      });
    default:
      return fill([&](int x, int y) {
        const int z = x + 2 * y;
        if (z > 13) return L(7);
        if (z == 13) return (L(6) + 3 * L(7) + 2) >> 2;
        if ((z & 1) == 0) return (L(y + (x >> 1)) + L(y + (x >> 1) + 1) + 1) >> 1;
        return (L(y + (x >> 1)) + 2 * L(y + (x >> 1) + 1) + L(y + (x >> 1) + 2) + 2) >> 2;
      });
  }
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
      for (int by = 0; by < height / 4; ++by)
        for (int bx = 0; bx < 2; ++bx) {
          int st = 0, sl = 0;
          for (int i = 0; i < 4; ++i) {
            st += n.top[bx * 4 + i];
            sl += n.left[by * 4 + i];
          }
          int v = 128;
          const bool corner = (bx == 0 && by == 0) || (bx == 1 && by > 0);
          if (corner) {
            if (n.has_top && n.has_left) v = (st + sl + 4) >> 3;
            else if (n.has_left) v = (sl + 2) >> 2;
            else if (n.has_top) v = (st + 2) >> 2;
          } else if (bx == 1) {  // top-right block prefers the top row
            if (n.has_top) v = (st + 2) >> 2;
            else if (n.has_left) v = (sl + 2) >> 2;
          } else {  // left column blocks below the first prefer the left column
            if (n.has_left) v = (sl + 2) >> 2;
            else if (n.has_top) v = (st + 2) >> 2;
          }
          for (int y = 0; y < 4; ++y) std::memset(dst + (by * 4 + y) * stride + bx * 4, v, 4);
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
