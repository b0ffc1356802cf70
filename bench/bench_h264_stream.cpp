// H.264 RTP streams in captures: the analysis pass with and without the H.264 frame
// building, the random-access walk (time to the picture of frame K) against decoding every
// frame from the random-access point, and stepping forward frame by frame.
//
//   bench_h264_stream analysis FILE [--no-video]   analysis pass; with --no-video no H.264
//                                                  stream objects (the analysis before them)
//   bench_h264_stream access FILE [COUNT]          COUNT random frames (default 200), stepping
//
// Peak memory comes from the caller (bench/bench-h264-stream runs this under /usr/bin/time).
#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "codec/video/C264_Parser.h"
#include "codec/video/VideoCodecs.h"

namespace {

// CPU time of the process: on a machine shared with other work the wall clock also counts
// the time the benchmark waited for a core, so both are reported.
struct Clock {
  struct time_point {
    std::chrono::steady_clock::time_point wall;
    double cpuMs;
  };
  static time_point now() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return {std::chrono::steady_clock::now(), ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6};
  }
};
struct Span {
  double wallMs, cpuMs;
};
Span operator-(const Clock::time_point& a, const Clock::time_point& b) {
  return {std::chrono::duration<double, std::milli>(a.wall - b.wall).count(), a.cpuMs - b.cpuMs};
}
double Ms(Span d) { return d.cpuMs; }

fennik::C264_Parser* FindH264(fennik::CRTP_Parser& capture) {
  for (uint32_t s = 0; s < capture.Streams().size(); ++s)
    if (auto* h = dynamic_cast<fennik::C264_Parser*>(capture.StreamObject(s))) return h;
  return nullptr;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_h264_stream analysis|access FILE [--no-video|COUNT]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const bool video = !(argc > 3 && std::strcmp(argv[3], "--no-video") == 0);
  if (video) fennik::RegisterVideoCodecs();
  fennik::CRTP_Parser capture;
  const auto t0 = Clock::now();
  if (capture.Open(argv[2]) != fennik::OpenResult::kOk || !capture.Analyse(nullptr)) {
    std::fprintf(stderr, "cannot analyse %s\n", argv[2]);
    return 1;
  }
  const Span analysis = Clock::now() - t0;
  fennik::C264_Parser* stream = FindH264(capture);
  std::printf("analysis: %.1f ms CPU (%.1f ms wall), %zu streams, H.264 frames: %llu\n", analysis.cpuMs,
              analysis.wallMs, capture.Streams().size(),
              stream ? static_cast<unsigned long long>(stream->Frames().GetCount()) : 0ULL);
  if (mode != "access") return 0;
  if (stream == nullptr) return 1;
  stream->AttachView(nullptr);
  const uint32_t frames = static_cast<uint32_t>(stream->Frames().GetCount());
  fennik::CVideoFrame picture;

  // Stepping forward: each frame after the one before it (the first 600).
  const uint32_t steps = std::min<uint32_t>(frames, 601) - 1;
  auto t = Clock::now();
  stream->DecodeFrame(0);
  for (uint32_t k = 1; k <= steps; ++k) stream->GetFramePicture(k, picture);
  const Span step = Clock::now() - t;
  std::printf("stepping: %u frames in %.0f ms CPU = %.1f frames/s (wall %.1f frames/s)\n", steps, step.cpuMs,
              steps * 1000.0 / step.cpuMs, steps * 1000.0 / step.wallMs);

  // Random access to COUNT frames, against decoding every frame from the random-access point.
  const int count = argc > 3 ? std::max(1, std::atoi(argv[3])) : 200;
  std::mt19937 random(264);
  std::vector<double> walk, direct;
  for (int i = 0; i < count; ++i) {
    const uint32_t k = random() % frames;
    if (k == stream->CurrentFrame() + 1 || k == stream->CurrentFrame()) continue;  // not a jump
    t = Clock::now();
    stream->GetFramePicture(k, picture);
    walk.push_back(Ms(Clock::now() - t));
    fennik::FrameEntry e;
    stream->Frames().Get(k, nullptr, &e);
    uint32_t start = fennik::H264Fields(e).randomAccessIndex;
    t = Clock::now();
    stream->ResetDecoder();
    for (uint32_t j = start; j <= k; ++j) {
      uint32_t size = 0;
      const uint8_t* data = stream->GetFrameData(j, &size, nullptr);
      if (data != nullptr) stream->Decoder().Decode(data, size, j);
    }
    stream->Decoder().GetCurrentPicture(picture);
    direct.push_back(Ms(Clock::now() - t));
  }
  std::printf("random access (%zu jumps, CPU time): walk median %.1f ms, worst %.1f ms; decoding every frame "
              "from the random-access point: median %.1f ms, worst %.1f ms\n",
              walk.size(), Median(walk), *std::max_element(walk.begin(), walk.end()), Median(direct),
              *std::max_element(direct.begin(), direct.end()));
  return 0;
}
