// The hot pixel kernels of the H.264 decoder behind one function table. Each kernel has a
// portable scalar reference (H264KernelsScalar.cpp); on x86-64 SSE2 versions (always present
// there) and AVX2 versions replace some entries, chosen once at start-up from the CPU's
// features. The environment variable FENNIK_SIMD (scalar, sse2, ssse3, sse4.1, avx2) caps the
// instruction set, so every lower level can be run and tested on one machine.
#pragma once

#include <cstdint>

namespace fennik {

struct H264Mv;

// The motion data of a picture as the deblocking filter reads it: per list, the vector,
// reference index (negative: list unused) and reference picture identity of each 4x4 block,
// `stride` blocks per row.
struct H264MotionField {
  const H264Mv* mv[2];
  const int8_t* ref[2];
  const int32_t* serial[2];
  int stride;
};

constexpr int kInnerVertical = 1, kInnerHorizontal = 2;

enum class SimdLevel { kScalar = 0, kSse2 = 1, kSsse3 = 2, kSse41 = 3, kAvx2 = 4 };

const char* SimdLevelName(SimdLevel level);

struct H264Kernels {
  // Luma half-sample planes (8.4.2.2.1) of a w x h block, w and h in {4, 8, 16}. src points at
  // the block's full sample G; the source must hold 2 samples left and above and 3 right and
  // below the block.
  // b: horizontal half samples, h: vertical half samples, j: centre half samples. These and
  // `chroma` are scalar only: they are the building blocks of the scalar references of
  // luma_qpel and chroma_pair, which the decoder calls.
  void (*luma_half_h)(uint8_t* dst, int dst_stride, const uint8_t* src, int src_stride, int w, int h);
  void (*luma_half_v)(uint8_t* dst, int dst_stride, const uint8_t* src, int src_stride, int w, int h);
  void (*luma_half_hv)(uint8_t* dst, int dst_stride, const uint8_t* src, int src_stride, int w, int h);
  // (a + b + 1) >> 1 of two w x h blocks (w in {2, 4, 8, 16}).
  void (*average)(uint8_t* dst, int dst_stride, const uint8_t* a, int a_stride, const uint8_t* b, int b_stride,
                  int w, int h);
  // Chroma eighth-sample interpolation (8-266) of a w x h block (w in {2, 4, 8}, h in
  // {2, 4, 8, 16}); the source must hold one sample right of and below the block.
  void (*chroma)(uint8_t* dst, int dst_stride, const uint8_t* src, int src_stride, int fx, int fy, int w, int h);
  // The whole quarter-sample luma prediction (8.4.2.2.1) of a w x h block (w, h in {4, 8, 16})
  // at fractional offset (fx, fy) in quarter samples: full, half and quarter positions in one
  // call. src points at the block's full sample G and must hold 2 samples left and above and
  // 3 right and below the block; SIMD versions may read up to 8 samples further right.
  void (*luma_qpel)(uint8_t* dst, int dst_stride, const uint8_t* src, int src_stride, int fx, int fy, int w, int h);
  // Chroma interpolation of the Cb and Cr blocks of one vector (same offsets, one stride for
  // both planes); w in {1, 2, 4, 8}, h up to 16. SIMD versions may read up to 16 samples
  // right of a source row's first sample.
  void (*chroma_pair)(uint8_t* dst_cb, uint8_t* dst_cr, int dst_stride, const uint8_t* src_cb, const uint8_t* src_cr,
                      int src_stride, int fx, int fy, int w, int h);
  // Explicit weighting of one prediction (8-270), in place; w in {2, 4, 8, 16}.
  void (*weight)(uint8_t* block, int stride, int w, int h, int log_wd, int weight, int offset);
  // Weighted bi-prediction (8-272) of a and b into dst.
  void (*weight_bi)(uint8_t* dst, int dst_stride, const uint8_t* a, const uint8_t* b, int src_stride, int w, int h,
                    int log_wd, int w0, int w1, int offset);
  // The 4x4 and 8x8 inverse transforms (8.5.12, 8.5.13) of scaled coefficients added to the
  // prediction and clipped; and a block whose only coefficient is DC (size 4 or 8).
  void (*idct4_add)(uint8_t* dst, int stride, const int32_t d[16]);
  void (*idct8_add)(uint8_t* dst, int stride, const int32_t d[64]);
  void (*dc_add)(uint8_t* dst, int stride, int32_t dc, int size);
  // The luma deblocking filter of one 16-sample edge (8.7.2.3, 8.7.2.4): q0 is the first q0
  // sample, `across` the step across the edge (1: vertical edge, stride: horizontal), `along`
  // the step along it; bs[k] is the strength of lines 4k..4k+3 and tc0[bs] tC0 for bS 1..3.
  void (*deblock_luma)(uint8_t* q0, int across, int along, const uint8_t bs[4], int alpha, int beta,
                       const uint8_t tc0[4]);
  // The chroma deblocking filter of one 8-sample edge of a 4:2:0 or 4:2:2 picture (8.7.2.3,
  // 8.7.2.4 with chromaStyleFilteringFlag): bs[k] is the strength of lines 2k and 2k + 1, tC0
  // as for luma.
  void (*deblock_chroma)(uint8_t* q0, int across, int along, const uint8_t bs[4], int alpha, int beta,
                         const uint8_t tc0[4]);
  // deblock_chroma on the same edge of Cb (q0[0]) and Cr (q0[1]), each with its thresholds
  // (alpha or beta 0: that plane is left as it is). Only where both together are cheaper
  // (AVX2); null otherwise.
  void (*deblock_chroma_pair)(uint8_t* const q0[2], int across, int along, const uint8_t bs[4], const int alpha[2],
                              const int beta[2], const uint8_t* const tc0[2]);
  // The motion rule of the boundary strength (8.7.2.1) for the 4x4 blocks of the macroblock
  // whose first block is `base`: bit r * 4 + c of the result is set when block (r, c) and its
  // left neighbour differ in reference pictures, number of vectors or a vector component by
  // 4 quarter samples (the vertical one by mvy_limit), bit 16 + r * 4 + c likewise for its top
  // neighbour. The neighbours of column 0 are the blocks at base + left + r * stride (row 0's:
  // base + top + c); an offset 0 leaves that macroblock edge out (its bits 0). lists: 1 when no
  // block involved uses list 1. inner (kInnerVertical, kInnerHorizontal): the edges inside the
  // macroblock to test; the others have bits 0 (for partitions whose motion is uniform there).
  uint32_t (*deblock_motion)(const H264MotionField& f, int base, int left, int top, int lists, int inner,
                             int mvy_limit);
};

// The table for the best instruction set of this CPU within the FENNIK_SIMD cap, filled on
// first use.
const H264Kernels& Kernels();
// The instruction set Kernels() uses.
SimdLevel ActiveSimdLevel();
// The best instruction set this CPU supports (without the cap).
SimdLevel CpuSimdLevel();
// The table for one instruction set (entries without a version of that level are the best
// lower one); the kernel test harness compares these with the scalar table.
H264Kernels KernelsFor(SimdLevel level);

// The scalar reference table.
const H264Kernels& ScalarKernels();
// The chroma edge filter of one line (bS 1..4; tc0 is tC0 of that strength), shared by the
// scalar kernel and the lines between frame and field macroblocks.
void DeblockChromaLine(uint8_t* s, int across, int strength, int alpha, int beta, int tc0);

// Per-level fillers, each in its own file (the SIMD ones compiled with that instruction set).
void FillScalarKernels(H264Kernels* k);
void FillSse2Kernels(H264Kernels* k);
// The deblocking kernels of H264DeblockMotion.cpp and H264DeblockAvx2.cpp.
void FillScalarDeblockKernels(H264Kernels* k);
void FillSse2DeblockKernels(H264Kernels* k);
void FillAvx2DeblockKernels(H264Kernels* k);
// The motion-compensation kernels of each level (kernels/H264Mc*.cpp).
void FillScalarMcKernels(H264Kernels* k);
void FillSse2McKernels(H264Kernels* k);
void FillSsse3McKernels(H264Kernels* k);
void FillSse41McKernels(H264Kernels* k);
void FillAvx2McKernels(H264Kernels* k);

}  // namespace fennik
