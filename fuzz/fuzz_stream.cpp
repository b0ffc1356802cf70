// Fuzzes the stream side on an arbitrary capture: the analysis pass with the audio stream
// classes registered, then every frame fetched back through the payload loader and decoded.
#include <cstdint>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "codec/audio/AudioCodecs.h"
#include "stream/CAudio_Stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool registered = (fennik::RegisterAudioCodecs(), true);
  (void)registered;
  fennik::CRTP_Parser capture;
  if (capture.OpenBytes(data, size) != fennik::OpenResult::kOk) return 0;
  capture.Analyse(nullptr);
  std::vector<int16_t> pcm(8192);
  for (uint32_t s = 0; s < capture.Streams().size(); ++s) {
    fennik::CAvStream* stream = capture.StreamObject(s);
    if (stream == nullptr) continue;
    const uint64_t frames = stream->Frames().GetCount();
    for (uint32_t i = 0; i < frames && i < 64; ++i) {
      uint32_t frameSize = 0;
      uint64_t address = 0;
      const uint8_t* bytes = stream->GetFrameData(i, &frameSize, &address);
      if (bytes != nullptr && frameSize > 0 && (bytes[0] ^ bytes[frameSize - 1]) == 0x5A) {
        pcm[0] = 1;  // touch the first and last byte: ASan checks the range
      }
      fennik::AudioFrame frame;
      frame.samples = pcm.data();
      frame.capacityBytes = static_cast<uint32_t>(pcm.size() * 2);
      stream->GetAudioFrame(i, frame);
    }
  }
  return 0;
}
