// Kernel timings: every H.264 pixel kernel of each instruction set this CPU has, beside its
// scalar reference (benchmark names end in the level: .../scalar, .../sse2, .../ssse3, .../sse4.1, .../avx2).
// FENNIK_SIMD does not apply here; every level is measured in one run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codec/video/H264Dpb.h"
#include "codec/video/kernels/H264Kernels.h"

namespace {

using fennik::H264Kernels;
using fennik::SimdLevel;

struct Buffers {
  Buffers() : src(64 * 64), dst(64 * 64), coeffs(64) {
    std::mt19937 rng(7);
    for (auto& v : src) v = static_cast<uint8_t>(rng());
    for (auto& v : dst) v = static_cast<uint8_t>(rng());
    for (auto& c : coeffs) c = static_cast<int32_t>(rng() % 512) - 256;
  }
  std::vector<uint8_t> src, dst;
  std::vector<int32_t> coeffs;
  const uint8_t* Src() const { return src.data() + 8 * 64 + 8; }
};

// Runs fn(kernels, buffers) for the level given as the benchmark's argument.
template <typename Fn>
void Run(benchmark::State& state, Fn fn) {
  const auto level = static_cast<SimdLevel>(state.range(0));
  if (level > fennik::CpuSimdLevel()) {
    state.SkipWithError("not supported by this CPU");
    return;
  }
  const H264Kernels k = fennik::KernelsFor(level);
  Buffers b;
  for (auto _ : state) {
    fn(k, b);
    benchmark::DoNotOptimize(b.dst.data());
    benchmark::ClobberMemory();
  }
  state.SetLabel(fennik::SimdLevelName(level));
}

// Whole quarter-sample positions: a quarter position of each kind, 16x16 and 8x8.
void LumaQpel(benchmark::State& s, int fx, int fy, int size) {
  Run(s, [=](const H264Kernels& k, Buffers& b) { k.luma_qpel(b.dst.data(), 16, b.Src(), 64, fx, fy, size, size); });
}
void LumaQpelA16(benchmark::State& s) { LumaQpel(s, 1, 0, 16); }
void LumaQpelE16(benchmark::State& s) { LumaQpel(s, 1, 1, 16); }
void LumaQpelF16(benchmark::State& s) { LumaQpel(s, 2, 1, 16); }
void LumaQpelI16(benchmark::State& s) { LumaQpel(s, 1, 2, 16); }
void LumaQpelF8(benchmark::State& s) { LumaQpel(s, 2, 1, 8); }
void LumaQpelE4(benchmark::State& s) { LumaQpel(s, 1, 1, 4); }
void ChromaPair8(benchmark::State& s) {
  Run(s, [](const H264Kernels& k, Buffers& b) {
    k.chroma_pair(b.dst.data(), b.dst.data() + 8, 16, b.Src(), b.Src() + 16 * 64, 64, 3, 5, 8, 8);
  });
}
void ChromaPair4(benchmark::State& s) {
  Run(s, [](const H264Kernels& k, Buffers& b) {
    k.chroma_pair(b.dst.data(), b.dst.data() + 8, 16, b.Src(), b.Src() + 16 * 64, 64, 3, 5, 4, 4);
  });
}
void Average16(benchmark::State& s) {
  Run(s, [](const H264Kernels& k, Buffers& b) { k.average(b.dst.data(), 16, b.Src(), 64, b.Src() + 3, 64, 16, 16); });
}
void WeightBi16(benchmark::State& s) {
  Run(s, [](const H264Kernels& k, Buffers& b) {
    k.weight_bi(b.dst.data(), 16, b.Src(), b.Src() + 5, 64, 16, 16, 5, 40, 24, 0);
  });
}
void Weight16(benchmark::State& s) {
  Run(s, [](const H264Kernels& k, Buffers& b) { k.weight(b.dst.data(), 64, 16, 16, 5, 40, -3); });
}
void Idct4(benchmark::State& s) {
  Run(s, [](const H264Kernels& k, Buffers& b) { k.idct4_add(b.dst.data(), 64, b.coeffs.data()); });
}
void Idct8(benchmark::State& s) {
  Run(s, [](const H264Kernels& k, Buffers& b) { k.idct8_add(b.dst.data(), 64, b.coeffs.data()); });
}
void DcAdd4(benchmark::State& s) {
  Run(s, [](const H264Kernels& k, Buffers& b) { k.dc_add(b.dst.data(), 64, b.coeffs[0], 4); });
}
// Deblocking of one edge (strengths 1..4 in its parts, or 1..3 as between inter macroblocks:
// kWeak) with thresholds that filter most lines.
template <bool kLuma, bool kWeak = false>
void DeblockEdge(benchmark::State& s, int across, int along) {
  Run(s, [across, along](const H264Kernels& k, Buffers& b) {
    static const uint8_t bs[4] = {1, 2, 3, kWeak ? 1 : 4}, tc0[4] = {0, 2, 4, 8};
    uint8_t* q0 = b.dst.data() + 8 * 64 + 8;
    if (kLuma) k.deblock_luma(q0, across, along, bs, 255, 255, tc0);
    else k.deblock_chroma(q0, across, along, bs, 255, 255, tc0);
  });
}
void DeblockLumaV(benchmark::State& s) { DeblockEdge<true>(s, 1, 64); }
void DeblockLumaH(benchmark::State& s) { DeblockEdge<true>(s, 64, 1); }
void DeblockLumaWeakV(benchmark::State& s) { DeblockEdge<true, true>(s, 1, 64); }
void DeblockLumaWeakH(benchmark::State& s) { DeblockEdge<true, true>(s, 64, 1); }
void DeblockChromaV(benchmark::State& s) { DeblockEdge<false>(s, 1, 64); }
void DeblockChromaH(benchmark::State& s) { DeblockEdge<false>(s, 64, 1); }

// The same chroma edge of Cb and Cr: the pair kernel where a level has one, else two edges.
void DeblockChromaPairEdge(benchmark::State& s, int across, int along) {
  Run(s, [across, along](const H264Kernels& k, Buffers& b) {
    static const uint8_t bs[4] = {1, 2, 3, 4}, tc0[4] = {0, 2, 4, 8};
    static const int alpha[2] = {255, 255}, beta[2] = {255, 255};
    static const uint8_t* const tc0s[2] = {tc0, tc0};
    uint8_t* const q0[2] = {b.dst.data() + 8 * 64 + 8, b.dst.data() + 24 * 64 + 8};
    if (k.deblock_chroma_pair != nullptr) k.deblock_chroma_pair(q0, across, along, bs, alpha, beta, tc0s);
    else
      for (uint8_t* p : q0) k.deblock_chroma(p, across, along, bs, 255, 255, tc0);
  });
}
void DeblockChromaPairV(benchmark::State& s) { DeblockChromaPairEdge(s, 1, 64); }
void DeblockChromaPairH(benchmark::State& s) { DeblockChromaPairEdge(s, 64, 1); }

// The motion rule of a B macroblock of 4x4 partitions whose vectors differ slightly, with
// its left and top neighbours.
void DeblockMotion(benchmark::State& s) {
  constexpr int kStride = 12, kBlocks = kStride * 8;
  static fennik::H264Mv mv[2][kBlocks];
  static int8_t ref[2][kBlocks];
  static int32_t serial[2][kBlocks];
  std::mt19937 rng(3);
  for (int l = 0; l < 2; ++l)
    for (int i = 0; i < kBlocks; ++i) {
      mv[l][i] = fennik::H264Mv{static_cast<int16_t>(rng() % 8), static_cast<int16_t>(rng() % 8)};
      serial[l][i] = static_cast<int32_t>(rng() % 2);
    }
  const fennik::H264MotionField f{{mv[0], mv[1]}, {ref[0], ref[1]}, {serial[0], serial[1]}, kStride};
  const int inner = fennik::kInnerVertical | fennik::kInnerHorizontal;
  Run(s, [&f, inner](const H264Kernels& k, Buffers&) {
    benchmark::DoNotOptimize(k.deblock_motion(f, 4 * kStride + 4, -1, -kStride, 2, inner, 4));
  });
}

void Levels(benchmark::internal::Benchmark* b) {
  for (int level : {0, 1, 2, 3, 4}) b->Arg(level);  // scalar, sse2, ssse3, sse4.1, avx2
}

BENCHMARK(LumaQpelA16)->Apply(Levels);
BENCHMARK(LumaQpelE16)->Apply(Levels);
BENCHMARK(LumaQpelF16)->Apply(Levels);
BENCHMARK(LumaQpelI16)->Apply(Levels);
BENCHMARK(LumaQpelF8)->Apply(Levels);
BENCHMARK(LumaQpelE4)->Apply(Levels);
BENCHMARK(ChromaPair8)->Apply(Levels);
BENCHMARK(ChromaPair4)->Apply(Levels);
BENCHMARK(Average16)->Apply(Levels);
BENCHMARK(WeightBi16)->Apply(Levels);
BENCHMARK(Weight16)->Apply(Levels);
BENCHMARK(Idct4)->Apply(Levels);
BENCHMARK(Idct8)->Apply(Levels);
BENCHMARK(DcAdd4)->Apply(Levels);
BENCHMARK(DeblockLumaV)->Apply(Levels);
BENCHMARK(DeblockLumaH)->Apply(Levels);
BENCHMARK(DeblockLumaWeakV)->Apply(Levels);
BENCHMARK(DeblockLumaWeakH)->Apply(Levels);
BENCHMARK(DeblockChromaV)->Apply(Levels);
BENCHMARK(DeblockChromaH)->Apply(Levels);
BENCHMARK(DeblockChromaPairV)->Apply(Levels);
BENCHMARK(DeblockChromaPairH)->Apply(Levels);
BENCHMARK(DeblockMotion)->Apply(Levels);

}  // namespace

BENCHMARK_MAIN();
