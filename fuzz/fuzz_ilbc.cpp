// Feeds arbitrary bytes to the iLBC decoder core and to the stream's unpacking. The first
// byte picks the mode (bit 0: 30 ms), the enhancer (bit 1) and whether a frame may be cut
// short; the rest is cut into frames whose lengths come from their own first byte, and an
// empty frame is a loss to conceal. At most 32 frames a run: enough for the decoder's state
// (codebook memories, enhancer history, concealment) to carry over, and keeps runs fast.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CiLBC_Decode.h"
#include "codec/audio/ilbc/IlbcDecoder.h"
#include "codec/audio/ilbc/IlbcFrame.h"

using namespace fennik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t config = data[0];
  ++data;
  --size;
  const int mode = (config & 1) ? 30 : 20;
  ilbc::Decoder decoder(mode, (config & 2) != 0);
  CiLBC_Decode stream;  // no module loaded: unpacking only
  std::vector<int16_t> pcm(241);
  size_t at = 0;
  for (int frames = 0; at < size && frames < 32; ++frames) {
    size_t length = static_cast<size_t>(ilbc::FrameBytes(mode));
    if (config & 4) length = data[at] % 64;
    length = std::min(length, size - at);
    pcm[240] = 0x5A5A;
    const int n = decoder.Decode(data + at, length, pcm.data());
    if (n != decoder.samples() || pcm[240] != 0x5A5A) __builtin_trap();
    ilbc::FrameParams params;
    if (ilbc::UnpackFrame(data + at, length, mode, params)) {
      uint8_t packed[ilbc::kFrameBytes30];
      ilbc::PackFrame(params, packed);
      for (size_t i = 0; i < static_cast<size_t>(ilbc::FrameBytes(mode)); ++i) {
        if (packed[i] != data[at + i]) __builtin_trap();
      }
    }
    stream.Decode(data + at, length, pcm.data(), 480);
    if (stream.Records().size() > CiLBC_Decode::kMaxShownFrames) __builtin_trap();
    at += length == 0 ? 1 : length;
  }
  return 0;
}
