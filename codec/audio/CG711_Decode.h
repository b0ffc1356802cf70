// G.711 A-law and u-law decoding by 256-entry tables (ITU-T G.711). Each code decodes to
// the lower edge of its interval (no half-step offset), scaled to 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CAudioDecoder.h"

namespace fennik {

// One decoded code.
struct G711SampleRecord {
  uint32_t input;   // the code
  int16_t output;   // the decoded 16-bit sample
};

class CG711_Decode : public CAudioDecoder<G711SampleRecord> {
 public:
  static constexpr int32_t kCodecALaw = 105;
  static constexpr int32_t kCodecULaw = 106;
  using SampleRecord = G711SampleRecord;

  explicit CG711_Decode(bool aLaw);

  // The linear value of a code before scaling: 13-bit (A-law) or 14-bit (u-law).
  static int16_t ALawValue(uint8_t code);
  static int16_t ULawValue(uint8_t code);

  // Decodes min(length, capacityBytes / 2) codes; returns the PCM bytes written.
  size_t DecodeSamples(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);
  // The law of the codec type (-1: u-law, the default of a stream without one).
  void SetCodecType(int32_t codecType) { format_.codecType = codecType == -1 ? kCodecULaw : codecType; }
};

}  // namespace fennik
