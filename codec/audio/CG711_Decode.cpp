#include "codec/audio/CG711_Decode.h"

#include <array>

namespace fennik {
namespace {

// G.711 table 1a (A-law): x = code XOR 0x55, segment in bits 4-6, step in bits 0-3; bit 7
// of x set means positive. Each code decodes to the middle of its quantisation interval (the
// "decoder output value" column): 2m + 1 in segment 0, (2m + 33) * 2^(segment - 1) above, in
// units of 1/8 of the 16-bit scale.
std::array<int16_t, 256> BuildALaw() {
  std::array<int16_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int x = c ^ 0x55;
    const int segment = (x >> 4) & 7;
    const int step = x & 0x0F;
    const int value = segment == 0 ? 2 * step + 1 : (2 * step + 33) << (segment - 1);
    table[c] = static_cast<int16_t>((x & 0x80) ? value : -value);
  }
  return table;
}

// G.711 table 2a (u-law): x = NOT code, segment in bits 4-6, step in bits 0-3; bit 7 of x set
// means negative. Decoder output value (2m + 33) * 2^segment - 33, in units of 1/4 of the
// 16-bit scale; both signs are symmetric (0x7F and 0xFF both decode to 0).
std::array<int16_t, 256> BuildULaw() {
  std::array<int16_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int x = ~c & 0xFF;
    const int segment = (x >> 4) & 7;
    const int magnitude = ((2 * (x & 0x0F) + 33) << segment) - 33;
    table[c] = static_cast<int16_t>((x & 0x80) ? -magnitude : magnitude);
  }
  return table;
}

const std::array<int16_t, 256> kALaw = BuildALaw();
const std::array<int16_t, 256> kULaw = BuildULaw();

}  // namespace

CG711_Decode::CG711_Decode(bool aLaw) : CAudioDecoder("[G711]") {
  format_.codecType = aLaw ? kCodecALaw : kCodecULaw;
  format_.channels = 1;
  format_.sampleRate = 8000;
  format_.bitsPerSample = 8;
  format_.bitRate = 64000;
  format_.frameSize = 160;
  format_.samples = 160;
  format_.channelPositions[0] = kChannelCenter;
}

int16_t CG711_Decode::ALawValue(uint8_t code) { return kALaw[code]; }
int16_t CG711_Decode::ULawValue(uint8_t code) { return kULaw[code]; }

size_t CG711_Decode::DecodeSamples(const uint8_t* in, size_t length, int16_t* out,
                                   size_t capacityBytes) {
  if (!BeginFrame(in, length, out)) return 0;
  const bool aLaw = format_.codecType == kCodecALaw;
  const size_t count = length < capacityBytes / 2 ? length : capacityBytes / 2;
  records_.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const int16_t sample = aLaw ? static_cast<int16_t>(kALaw[in[i]] * 8)
                                : static_cast<int16_t>(kULaw[in[i]] * 4);
    out[i] = sample;
    records_[i] = {in[i], sample};
  }
  return EndFrame(count);
}

}  // namespace fennik
