#include "codec/audio/CG711_Decode.h"

#include <array>

namespace fennik {
namespace {

// G.711 table 1a (A-law): x = code XOR 0x55, segment in bits 4-6, mantissa in bits 0-3;
// bit 7 of x set means positive. Values are in units of 1/8 of the 16-bit scale.
std::array<int16_t, 256> BuildALaw() {
  std::array<int16_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int x = c ^ 0x55;
    const int segment = (x >> 4) & 7;
    int t = (x & 0x0F) * 16;
    if (segment > 0) t = (t + 256) << (segment - 1);
    const int value = t / 8;
    table[c] = static_cast<int16_t>((x & 0x80) ? value : -value);
  }
  return table;
}

// G.711 table 2a (u-law): x = NOT code, exponent in bits 4-6, mantissa in bits 0-3;
// magnitude (2m + 33) * 2^e - 33 in half steps; bit 7 of x set means negative.
std::array<int16_t, 256> BuildULaw() {
  std::array<int16_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int x = ~c & 0xFF;
    const int exponent = (x >> 4) & 7;
    const int magnitude = ((2 * (x & 0x0F) + 34) << exponent) - 34;
    table[c] = static_cast<int16_t>((x & 0x80) ? -magnitude - 1 : magnitude);
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
