// Stream-object speed on the large benchmark capture (bench/make-bench-capture; the path is
// taken from FENNIK_BENCH_CAPTURE, default bench/data/bench-1100.pcap):
//   - fetching a random frame of a random stream (GetFrameData), median and 99th percentile;
//   - decoding 60 seconds of a G.711 stream to a WAV file, as a multiple of real time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "codec/audio/AudioCodecs.h"
#include "media/CWavFile.h"
#include "stream/CAudio_Stream.h"

namespace {

using Clock = std::chrono::steady_clock;

fennik::CRTP_Parser* Capture() {
  static fennik::CRTP_Parser* capture = [] {
    fennik::RegisterAudioCodecs();
    const char* env = std::getenv("FENNIK_BENCH_CAPTURE");
    const std::string path = env ? env : FENNIK_SOURCE_DIR "/bench/data/bench-1100.pcap";
    auto* c = new fennik::CRTP_Parser;
    if (c->Open(path) != fennik::OpenResult::kOk) {
      std::fprintf(stderr, "cannot open %s (run bench/make-bench-capture)\n", path.c_str());
      std::exit(1);
    }
    c->Analyse(nullptr);
    return c;
  }();
  return capture;
}

void BM_GetFrameDataRandom(benchmark::State& state) {
  fennik::CRTP_Parser& c = *Capture();
  std::mt19937 random(42);
  std::vector<double> micros;
  for (auto _ : state) {
    const uint32_t s = random() % c.Streams().size();
    fennik::CAvStream* stream = c.StreamObject(s);
    const uint32_t frame = random() % stream->Frames().GetCount();
    uint32_t size = 0;
    const auto start = Clock::now();
    const uint8_t* data = stream->GetFrameData(frame, &size, nullptr);
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    benchmark::DoNotOptimize(data);
    if (data == nullptr) state.SkipWithError("frame unreadable");
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_GetFrameDataRandom)->Iterations(20000)->Unit(benchmark::kMicrosecond);

void BM_DecodeG711MinuteToWav(benchmark::State& state) {
  fennik::CRTP_Parser& c = *Capture();
  auto* stream = dynamic_cast<fennik::CAudio_Stream*>(c.StreamObject(0));
  const uint32_t frames = 3000;  // 60 s of 20 ms frames
  double audioSeconds = 0;
  for (auto _ : state) {
    fennik::CWavFile wav;
    wav.Create("/tmp/fennik-bench.wav", 1, 8000);
    for (uint32_t i = 0; i < frames; ++i) {
      stream->DecodeFrame(i);
      wav.Write(stream->Pcm(), stream->PcmBytes() / 2);
    }
    wav.Close();
    audioSeconds += frames * 0.020;
  }
  state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
  std::remove("/tmp/fennik-bench.wav");
}
BENCHMARK(BM_DecodeG711MinuteToWav)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
