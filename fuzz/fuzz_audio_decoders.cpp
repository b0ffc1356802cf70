// Feeds arbitrary frames to every audio decoder. The first input byte picks the
// configuration (G.726 rate, packing and rounding, G.722 sample rate, L16 sample width,
// channels and byte order), the second the output capacity; the rest is cut into frames by
// their own first bytes, so the decoders' state also carries across frames of odd sizes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CADPCM_Decode.h"
#include "codec/audio/CG722_Decode.h"
#include "codec/audio/CG726_Decode.h"
#include "codec/audio/CPCM_Decode.h"

using namespace fennik;

namespace {

// Decodes into a buffer with a guard word behind the stated capacity; a decoder that
// writes past its capacity or reports more than it had room for stops the run.
template <typename Decoder>
void DecodeChecked(Decoder& decoder, const uint8_t* data, size_t size,
                   std::vector<int16_t>& pcm, size_t capacityBytes) {
  const size_t guardIndex = (capacityBytes + 1) / 2;
  pcm[guardIndex] = 0x5A5A;
  const size_t produced = decoder.Decode(data, size, pcm.data(), capacityBytes);
  if (produced > capacityBytes || pcm[guardIndex] != 0x5A5A) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t config = data[0];
  const size_t capacityBytes = (config & 0x80) ? size_t{data[1]} * 3 : 65536;
  data += 2;
  size -= 2;

  static const uint32_t kRates[4] = {16000, 24000, 32000, 40000};
  CG726_Decode g726((config & 1) != 0, kRates[(config >> 1) & 3]);
  if (config & 8) g726.SetRounding(G726Rounding::kLibavcodec);
  CG722_Decode g722;
  if (config & 16) g722.SetAudioFormat(8000, 8, 1, 64000);
  CADPCM_Decode adpcm;
  CPCM_Decode pcm;
  pcm.SetAudioFormat(44100, (config & 32) ? 8 : 16, (config & 64) ? 1 : 2, 0);
  pcm.SetHostByteOrder((config & 2) != 0);

  std::vector<int16_t> buffer(capacityBytes / 2 + 2);
  size_t offset = 0;
  while (offset < size) {
    const size_t length = std::min<size_t>(size - offset, 1 + data[offset] % 200);
    const uint8_t* frame = data + offset;
    DecodeChecked(g726, frame, length, buffer, capacityBytes);
    DecodeChecked(g722, frame, length, buffer, capacityBytes);
    DecodeChecked(adpcm, frame, length, buffer, capacityBytes);
    DecodeChecked(pcm, frame, length, buffer, capacityBytes);
    offset += length;
  }
  return 0;
}
