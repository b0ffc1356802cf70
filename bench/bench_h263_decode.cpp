// H.263 decoder speed. Without arguments: Google Benchmark runs over the committed fixture
// streams and the IDCT kernel. With `--stream FILE [--sorenson]`: decodes FILE once
// (pictures cut at byte-aligned start codes) and prints the pictures and seconds, for the
// comparison with ffmpeg in bench/bench-h263-decode.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/video/C263_Decode.h"
#include "codec/video/Idct8x8.h"

namespace {

std::vector<uint8_t> LoadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<size_t> Starts(const std::vector<uint8_t>& d, bool sorenson) {
  std::vector<size_t> out;
  const uint32_t mask = sorenson ? 0xFFFFF8 : 0xFFFFFC;
  for (size_t i = 0; i + 2 < d.size(); ++i)
    if (((uint32_t{d[i]} << 16 | uint32_t{d[i + 1]} << 8 | d[i + 2]) & mask) == 0x80) out.push_back(i);
  return out;
}

int64_t DecodeAll(const std::vector<uint8_t>& data, const std::vector<size_t>& starts, int codec_type) {
  fennik::C263_Decode dec(codec_type);
  int64_t pictures = 0;
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : data.size();
    pictures += dec.DecodePicture(data.data() + starts[i], end - starts[i], static_cast<uint32_t>(i));
  }
  return pictures;
}

void DecodeFixture(benchmark::State& state, const char* name, int codec_type) {
  const auto data = LoadFile(std::string(FENNIK_TEST_DATA) + "/h263/" + name);
  const auto starts = Starts(data, codec_type == fennik::kCodecTypeSorenson);
  int64_t pictures = 0;
  for (auto _ : state) pictures += DecodeAll(data, starts, codec_type);
  state.counters["fps"] = benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
}
BENCHMARK_CAPTURE(DecodeFixture, baseline_sqcif, "base_sqcif.263", fennik::kCodecTypeH263);
BENCHMARK_CAPTURE(DecodeFixture, plus_custom, "plus_custom.263", fennik::kCodecTypeH263);
BENCHMARK_CAPTURE(DecodeFixture, advanced_prediction, "ap_sqcif.263", fennik::kCodecTypeH263);

void Idct(benchmark::State& state) {
  int16_t coef[64] = {320, -24, 16, 0, 8, 0, 0, 0, 40, -8, 0, 0, 0, 0, 0, 0, -16, 8};
  uint8_t block[64] = {};
  for (auto _ : state) {
    fennik::Idct8x8Add(coef, block, 8);
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(Idct);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--stream") == 0) {
    const bool sorenson = argc >= 4 && std::strcmp(argv[3], "--sorenson") == 0;
    const auto data = LoadFile(argv[2]);
    const auto starts = Starts(data, sorenson);
    const auto t0 = std::chrono::steady_clock::now();
    const int64_t pictures = DecodeAll(data, starts, sorenson ? fennik::kCodecTypeSorenson : fennik::kCodecTypeH263);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%lld %.4f\n", static_cast<long long>(pictures), seconds);
    return pictures > 0 ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
