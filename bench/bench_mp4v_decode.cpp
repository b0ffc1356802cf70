// MPEG-4 Visual decoder speed. `--stream FILE`: decodes the elementary stream FILE (.m4v)
// once through CMP4_Decode (the configuration headers read as met, each VOP up to the next
// start code) and prints the pictures output, the VOPs and the seconds, for the comparison
// with ffmpeg in bench/bench-mp4v-decode. Without arguments: Google Benchmark of the
// integer IDCT the decoder uses.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/video/CMP4_Decode.h"
#include "codec/video/M4VHeaders.h"
#include "codec/video/QIntDCT.h"

namespace {

std::vector<uint8_t> LoadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Pictures output and VOPs met.
std::pair<int64_t, int64_t> DecodeAll(const std::vector<uint8_t>& data) {
  fennik::CMP4_Decode dec;
  fennik::M4vVol vol;
  int64_t pictures = 0, vops = 0;
  const uint8_t* d = data.data();
  const size_t size = data.size();
  for (size_t pos = fennik::FindM4vStartCode(d, size, 0); pos + 4 <= size;) {
    const size_t next = fennik::FindM4vStartCode(d, size, pos + 4);
    const uint32_t code = d[pos + 3];
    if (code <= fennik::kM4vVolLast) {
      fennik::ReadM4vVol(d + pos, size - pos, 1, vol);
    } else if (code == fennik::kM4vVopStart) {
      dec.DecodeVop(d + pos, next - pos, vol, static_cast<uint32_t>(vops++));
      pictures += dec.TakeOutput() != nullptr;
    }
    pos = next;
  }
  dec.FlushOutput();
  pictures += dec.TakeOutput() != nullptr;
  return {pictures, vops};
}

void Idct(benchmark::State& state) {
  int16_t coef[64] = {320, -24, 16, 0, 8, 0, 0, 0, 40, -8, 0, 0, 0, 0, 0, 0, -16, 8};
  uint8_t block[64] = {};
  for (auto _ : state) {
    int16_t work[64];
    std::memcpy(work, coef, sizeof work);
    fennik::QIntDCT::InverseAdd(work, block, 8);
    benchmark::DoNotOptimize(block);
  }
}
BENCHMARK(Idct);

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--stream") == 0) {
    const auto data = LoadFile(argv[2]);
    const auto t0 = std::chrono::steady_clock::now();
    const auto [pictures, vops] = DecodeAll(data);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%lld %lld %.4f\n", static_cast<long long>(pictures), static_cast<long long>(vops), seconds);
    return pictures > 0 ? 0 : 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
