// iLBC bit-stream unpacking (RFC 3951 3.8). The bits of each parameter are spread over three
// classes of falling sensitivity: class 1 for the whole frame first, then class 2, then
// class 3; within a class the parameters follow one fixed order and each contributes its next
// most significant bits. The frame ends with the empty-frame indicator bit.
#include "codec/audio/ilbc/IlbcFrame.h"

#include <algorithm>

namespace fennik::ilbc {
namespace {

// Bits of one parameter in classes 1, 2 and 3 (RFC 3951 Table 3.2 / 3.3).
struct Bits {
  uint8_t c[3];
};

struct Allocation {
  Bits lsf[6];
  Bits start, stateFirst, scale, state;
  Bits extraCb[kStages], extraGain[kStages];
  Bits cb[kMaxSubBlocks][kStages], gain[kMaxSubBlocks][kStages];
};

constexpr Allocation k20ms = {
    {{{6, 0, 0}}, {{7, 0, 0}}, {{7, 0, 0}}, {{0, 0, 0}}, {{0, 0, 0}}, {{0, 0, 0}}},
    {{2, 0, 0}}, {{1, 0, 0}}, {{6, 0, 0}}, {{0, 1, 2}},
    {{{6, 0, 1}}, {{0, 0, 7}}, {{0, 0, 7}}},
    {{{2, 0, 3}}, {{1, 1, 2}}, {{0, 0, 3}}},
    {{{{7, 0, 1}}, {{0, 0, 7}}, {{0, 0, 7}}}, {{{0, 0, 8}}, {{0, 0, 8}}, {{0, 0, 8}}}, {}, {}},
    {{{{1, 2, 2}}, {{1, 1, 2}}, {{0, 0, 3}}}, {{{1, 1, 3}}, {{0, 2, 2}}, {{0, 0, 3}}}, {}, {}},
};

constexpr Allocation k30ms = {
    {{{6, 0, 0}}, {{7, 0, 0}}, {{7, 0, 0}}, {{6, 0, 0}}, {{7, 0, 0}}, {{7, 0, 0}}},
    {{3, 0, 0}}, {{1, 0, 0}}, {{6, 0, 0}}, {{0, 1, 2}},
    {{{4, 2, 1}}, {{0, 0, 7}}, {{0, 0, 7}}},
    {{{1, 1, 3}}, {{1, 1, 2}}, {{0, 0, 3}}},
    {{{{6, 1, 1}}, {{0, 0, 7}}, {{0, 0, 7}}},
     {{{0, 7, 1}}, {{0, 0, 8}}, {{0, 0, 8}}},
     {{{0, 7, 1}}, {{0, 0, 8}}, {{0, 0, 8}}},
     {{{0, 7, 1}}, {{0, 0, 8}}, {{0, 0, 8}}}},
    {{{{1, 2, 2}}, {{1, 2, 1}}, {{0, 0, 3}}},
     {{{0, 2, 3}}, {{0, 2, 2}}, {{0, 0, 3}}},
     {{{0, 1, 4}}, {{0, 1, 3}}, {{0, 0, 3}}},
     {{{0, 1, 4}}, {{0, 1, 3}}, {{0, 0, 3}}}},
};

// Visits every parameter of the frame with its bits in class c, in transmission order.
template <typename Params, typename Visit>
void ForEachField(const Allocation& a, Params& p, Visit visit) {
  const int lsfCount = 3 * p.LsfSets();
  const int stateCount = p.StateSamples();
  const int subBlocks = p.SubBlocks();
  for (int c = 0; c < 3; ++c) {
    for (int k = 0; k < lsfCount; ++k) visit(p.lsf[k], a.lsf[k], c);
    visit(p.start, a.start, c);
    visit(p.stateFirst, a.stateFirst, c);
    visit(p.scaleIndex, a.scale, c);
    for (int k = 0; k < stateCount; ++k) visit(p.state[k], a.state, c);
    for (int k = 0; k < kStages; ++k) visit(p.extraCb[k], a.extraCb[k], c);
    for (int k = 0; k < kStages; ++k) visit(p.extraGain[k], a.extraGain[k], c);
    for (int i = 0; i < subBlocks; ++i)
      for (int k = 0; k < kStages; ++k) visit(p.cb[i][k], a.cb[i][k], c);
    for (int i = 0; i < subBlocks; ++i)
      for (int k = 0; k < kStages; ++k) visit(p.gain[i][k], a.gain[i][k], c);
  }
}

const Allocation& AllocationOf(int mode) { return mode == 30 ? k30ms : k20ms; }

}  // namespace

bool UnpackFrame(const uint8_t* data, size_t size, int mode, FrameParams& params) {
  params = FrameParams{};
  params.mode = mode == 30 ? 30 : 20;
  if (data == nullptr || size < static_cast<size_t>(FrameBytes(params.mode))) return false;
  size_t pos = 0;
  auto read = [&](int n) {
    int v = 0;
    for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((data[pos >> 3] >> (7 - (pos & 7))) & 1);
    return v;
  };
  ForEachField(AllocationOf(params.mode), params, [&](int& value, const Bits& b, int c) {
    value = (value << b.c[c]) | read(b.c[c]);
  });
  params.emptyFrame = read(1);
  return true;
}

void PackFrame(const FrameParams& params, uint8_t* out) {
  const size_t bytes = static_cast<size_t>(FrameBytes(params.mode));
  std::fill(out, out + bytes, uint8_t{0});
  size_t pos = 0;
  auto write = [&](int value, int n) {
    for (int i = n - 1; i >= 0; --i, ++pos) {
      if ((value >> i) & 1) out[pos >> 3] = static_cast<uint8_t>(out[pos >> 3] | (0x80 >> (pos & 7)));
    }
  };
  ForEachField(AllocationOf(params.mode), params, [&](const int& value, const Bits& b, int c) {
    int below = 0;  // bits of this parameter sent in later classes
    for (int k = c + 1; k < 3; ++k) below += b.c[k];
    write((value >> below) & ((1 << b.c[c]) - 1), b.c[c]);
  });
  write(params.emptyFrame, 1);
}

}  // namespace fennik::ilbc
