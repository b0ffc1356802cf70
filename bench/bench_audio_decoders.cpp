// Decoder speed as a multiple of real time: each benchmark decodes one second of audio from
// the committed test vectors (tests/data/audio/) in 20 ms frames; the counter "x_realtime"
// is seconds of audio decoded per second of CPU time. The module-decoded codecs (GSM,
// G.729, Speex, Opus) decode the streams of tests/data/voice/voice-sip-udp.pcap through
// their stream objects (unpacking for the view included) and the modules built next to
// fennik-cli.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/audio/CADPCM_Decode.h"
#include "codec/audio/CG722_Decode.h"
#include "codec/audio/CG726_Decode.h"
#include "codec/audio/CPCM_Decode.h"
#include "codec/audio/ilbc/IlbcDecoder.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/CodecModules.h"
#include "capture/CRTP_Parser.h"
#include "stream/CAudio_Stream.h"

#ifdef FENNIK_BENCH_LIBAVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
}
#endif

namespace fennik {
namespace {

std::vector<uint8_t> Load(const std::string& name) {
  std::ifstream file(std::string(FENNIK_TEST_DATA) + "/audio/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

template <typename Decoder>
void DecodeStream(benchmark::State& state, Decoder& decoder, const std::vector<uint8_t>& stream,
                  size_t frameBytes, double streamSeconds) {
  if (stream.empty()) {
    state.SkipWithError("test vector missing");
    return;
  }
  std::vector<int16_t> pcm(8192);
  for (auto _ : state) {
    decoder.Reset();
    for (size_t offset = 0; offset < stream.size(); offset += frameBytes) {
      const size_t length = std::min(frameBytes, stream.size() - offset);
      benchmark::DoNotOptimize(
          decoder.Decode(stream.data() + offset, length, pcm.data(), pcm.size() * 2));
    }
    benchmark::ClobberMemory();
  }
  state.counters["x_realtime"] = benchmark::Counter(
      streamSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_G726Decode(benchmark::State& state) {
  const int kbit = static_cast<int>(state.range(0));
  const bool aal2 = state.range(1) != 0;
  const std::vector<uint8_t> stream =
      Load("g726-" + std::to_string(kbit) + (aal2 ? "-be" : "-le") + ".g726");
  CG726_Decode decoder(aal2, static_cast<uint32_t>(kbit * 1000));
  DecodeStream(state, decoder, stream, static_cast<size_t>(kbit * 20 / 8),
               static_cast<double>(stream.size()) * 8 / (kbit * 1000));
}
BENCHMARK(BM_G726Decode)->ArgsProduct({{16, 24, 32, 40}, {0, 1}})->ArgNames({"kbit", "aal2"});

void BM_G722Decode16k(benchmark::State& state) {
  const std::vector<uint8_t> stream = Load("g722.g722");
  CG722_Decode decoder;
  DecodeStream(state, decoder, stream, 160, static_cast<double>(stream.size()) / 8000);
}
BENCHMARK(BM_G722Decode16k);

void BM_AdpcmDecode(benchmark::State& state) {
  // 50 DVI4 frames of 84 bytes (160 samples, 20 ms at 8 kHz) with varied codes.
  std::vector<uint8_t> stream;
  uint32_t lcg = 12345;
  for (int frame = 0; frame < 50; ++frame) {
    stream.insert(stream.end(), {0x01, 0x00, 20, 0});
    for (int i = 0; i < 80; ++i) {
      lcg = lcg * 1103515245u + 12345u;
      stream.push_back(static_cast<uint8_t>(lcg >> 24));
    }
  }
  CADPCM_Decode decoder;
  DecodeStream(state, decoder, stream, 84, 1.0);
}
BENCHMARK(BM_AdpcmDecode);

void BM_L16Decode(benchmark::State& state) {
  const std::vector<uint8_t> stream = Load("l16-stereo.s16be");
  CPCM_Decode decoder;
  decoder.SetAudioFormat(44100, 16, 2, 0);
  DecodeStream(state, decoder, stream, 3528, static_cast<double>(stream.size()) / (44100 * 4));
}
BENCHMARK(BM_L16Decode);

// One stream of the voice capture, by source port: its frames' bytes read once, then
// decoded in order from a reset decoder per iteration.
void BM_VoiceDecode(benchmark::State& state) {
  static CRTP_Parser* capture = [] {
    RegisterAudioCodecs();
    LoadCodecModules(FENNIK_MODULE_DIR);
    auto* c = new CRTP_Parser;
    if (c->Open(std::string(FENNIK_TEST_DATA) + "/voice/voice-sip-udp.pcap") == OpenResult::kOk) c->Analyse(nullptr);
    return c;
  }();
  CAudio_Stream* audio = nullptr;
  for (uint32_t i = 0; i < capture->Streams().size(); ++i) {
    if (capture->Streams()[i].sourcePort == state.range(0)) audio = dynamic_cast<CAudio_Stream*>(capture->StreamObject(i));
  }
  if (audio == nullptr) {
    state.SkipWithError("voice capture or stream missing");
    return;
  }
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t i = 0; i < audio->Frames().GetCount(); ++i) {
    uint32_t size = 0;
    const uint8_t* data = audio->GetFrameData(i, &size, nullptr);
    if (data != nullptr) frames.emplace_back(data, data + size);
  }
  std::vector<int16_t> pcm(65536);
  double seconds = 0;
  for (auto _ : state) {
    audio->ResetDecoder();
    seconds = 0;
    for (const auto& f : frames) {
      const size_t bytes = audio->Decode(f.data(), f.size(), pcm.data(), pcm.size() * 2);
      AudioFormat format;
      audio->GetAudioFormat(format);
      seconds += static_cast<double>(bytes / 2) / std::max(1u, format.channels) / std::max(1u, format.sampleRate);
    }
    benchmark::ClobberMemory();
  }
  if (seconds == 0) state.SkipWithError("codec module not loaded");
  state.counters["x_realtime"] = benchmark::Counter(seconds * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}
// GSM (26104), G.729 (26114) and with Annex B (26124), Speex narrowband (26134) and wideband
// (36134), Opus mono 20 ms (26144), stereo 40 ms (36144), mono SILK 10 ms (26154), stereo
// 60 ms (36154).
BENCHMARK(BM_VoiceDecode)->ArgName("port")->Arg(26104)->Arg(26114)->Arg(26124)->Arg(26134)->Arg(36134)->Arg(26144)
    ->Arg(36144)->Arg(26154)->Arg(36154);

// iLBC: the speech of tests/data/ilbc (3.6 s) in 20 and 30 ms frames, decoded frame by
// frame by our RFC 3951 decoder (as the codec module runs it: with the enhancer; /enhancer:0
// without) and, in the same run, by ffmpeg's fixed-point iLBC decoder (libavcodec, which has
// no enhancer).
std::vector<uint8_t> IlbcFrames(int mode) {
  std::ifstream file(std::string(FENNIK_TEST_DATA) + "/ilbc/ilbc" + std::to_string(mode) + ".lbc",
                     std::ios::binary);
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (bytes.size() < 9) return {};
  bytes.erase(bytes.begin(), bytes.begin() + 9);  // the "#!iLBC20\n" storage header
  return bytes;
}

void BM_IlbcDecode(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const std::vector<uint8_t> frames = IlbcFrames(mode);
  if (frames.empty()) {
    state.SkipWithError("test vector missing");
    return;
  }
  const size_t bytes = static_cast<size_t>(ilbc::FrameBytes(mode));
  ilbc::Decoder decoder(mode, state.range(1) != 0);
  int16_t pcm[240];
  for (auto _ : state) {
    decoder.Reset();
    for (size_t at = 0; at + bytes <= frames.size(); at += bytes) {
      benchmark::DoNotOptimize(decoder.Decode(frames.data() + at, bytes, pcm));
    }
    benchmark::ClobberMemory();
  }
  const double seconds = static_cast<double>(frames.size() / bytes) * mode / 1000.0;
  state.counters["x_realtime"] =
      benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IlbcDecode)->ArgsProduct({{20, 30}, {1, 0}})->ArgNames({"mode", "enhancer"});

#ifdef FENNIK_BENCH_LIBAVCODEC
void BM_IlbcDecodeFfmpeg(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const std::vector<uint8_t> frames = IlbcFrames(mode);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_ILBC);
  if (frames.empty() || codec == nullptr) {
    state.SkipWithError("test vector or libavcodec's iLBC decoder missing");
    return;
  }
  const int bytes = ilbc::FrameBytes(mode);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::vector<uint8_t> padded(static_cast<size_t>(bytes) + AV_INPUT_BUFFER_PADDING_SIZE);
  for (auto _ : state) {
    // A new decoder per pass, as ours is reset per pass.
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->block_align = bytes;
    context->sample_rate = 8000;
    if (avcodec_open2(context, codec, nullptr) < 0) {
      state.SkipWithError("avcodec_open2 failed");
      avcodec_free_context(&context);
      break;
    }
    for (size_t at = 0; at + static_cast<size_t>(bytes) <= frames.size(); at += static_cast<size_t>(bytes)) {
      std::copy(frames.begin() + static_cast<long>(at), frames.begin() + static_cast<long>(at) + bytes, padded.begin());
      packet->data = padded.data();
      packet->size = bytes;
      if (avcodec_send_packet(context, packet) == 0) {
        while (avcodec_receive_frame(context, frame) == 0) benchmark::DoNotOptimize(frame->data[0]);
      }
    }
    avcodec_free_context(&context);
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  const double seconds = static_cast<double>(frames.size() / static_cast<size_t>(bytes)) * mode / 1000.0;
  state.counters["x_realtime"] =
      benchmark::Counter(seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IlbcDecodeFfmpeg)->Arg(20)->Arg(30)->ArgNames({"mode"});
#endif

}  // namespace
}  // namespace fennik

BENCHMARK_MAIN();
