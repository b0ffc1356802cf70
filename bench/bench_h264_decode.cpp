// H.264 decoder speed in process: whole committed test streams (CAVLC and CABAC) and the
// per-block kernels (interpolation, inverse transform, deblocking). The comparison with ffmpeg
// on a generated 720p Main or 1080p High stream is bench/bench-h264-decode.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/video/C264_Decode.h"
#include "codec/video/H264Deblock.h"
#include "codec/video/H264InterPred.h"
#include "h264/H264Nal.h"
#include "codec/video/H264Transform.h"

namespace {

std::vector<uint8_t> Load(const std::string& name) {
  std::ifstream in(std::string(FENNIK_TEST_DATA) + "/h264/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void DecodeStream(benchmark::State& state, const char* name) {
  const auto data = Load(name);
  const auto units = fennik::SplitAnnexB(data.data(), data.size());
  int64_t frames = 0;
  fennik::CVideoFrame frame;
  for (auto _ : state) {
    fennik::C264_Decode dec;
    for (const auto& u : units) {
      dec.DecodeNalUnit(data.data() + u.offset, u.size);
      while (dec.GetNextPicture(frame)) ++frames;
    }
    dec.Flush();
    while (dec.GetNextPicture(frame)) ++frames;
  }
  state.counters["fps"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(DecodeStream, cabac_bpyramid_qcif, "main_bpyramid.264")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeStream, cavlc_b_qcif, "main_cavlc_b.264")->Unit(benchmark::kMillisecond);

void LumaInterpolation(benchmark::State& state) {
  std::vector<uint8_t> plane(64 * 64);
  for (size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<uint8_t>(i * 7);
  const fennik::RefPlane ref{plane.data(), 64, 64, 64};
  uint8_t dst[16 * 16];
  const int fx = static_cast<int>(state.range(0)), fy = static_cast<int>(state.range(1));
  for (auto _ : state) {
    fennik::PredictLuma(dst, 16, ref, 20, 20, fx, fy, 16, 16);
    benchmark::DoNotOptimize(dst);
  }
}
BENCHMARK(LumaInterpolation)->Args({0, 0})->Args({2, 0})->Args({2, 2})->Args({1, 3});

void InverseTransform(benchmark::State& state) {
  uint8_t block[4 * 16] = {};
  const int32_t d[16] = {640, -32, 16, 0, 48, 0, -16, 0, 0, 16, 0, 0, 0, 0, 0, 0};
  for (auto _ : state) {
    fennik::InverseTransform4x4Add(block, 16, d);
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(InverseTransform);

void DeblockLumaEdge(benchmark::State& state) {
  uint8_t plane[16 * 16];
  for (int i = 0; i < 256; ++i) plane[i] = static_cast<uint8_t>((i % 16) < 8 ? 100 : 104);
  const uint8_t bs[4] = {2, 2, 2, 2};
  const fennik::EdgeThresholds t{40, 10, 36};
  for (auto _ : state) {
    fennik::FilterLumaEdge(plane + 8, 1, 16, bs, t);
    benchmark::DoNotOptimize(plane);
  }
}
BENCHMARK(DeblockLumaEdge);

}  // namespace

BENCHMARK_MAIN();
