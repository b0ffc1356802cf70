// MPEG audio Layer I decoder (ISO/IEC 11172-3 2.4.3.2): bit allocation, scalefactors,
// 12 samples per sub-band with joint-stereo sub-bands above the bound shared, then the
// synthesis filter bank. 384 samples per channel and frame.
#pragma once

#include "codec/audio/CMPA_Common.h"

namespace fennik {

class CMP1_Decode : public CMPA_Common {
 public:
  bool DecodeFrame(BitReader& reader, const MpaHeader& h, const uint8_t* frame, size_t size) override;

 protected:
  uint32_t FrameSamples() const override { return 384; }
};

// Layer I/II scalefactor index -> multiplier (11172-3 Table B.1: 2.0 × 2^(-index/3)).
float MpaScalefactor(int index);
// Requantisation of a code `v` of a quantiser with `levels` steps (11172-3 2.4.3.2 and
// 2.4.3.3.3): the fraction (2v - levels + 1) / levels.
inline float MpaDequantize(uint32_t v, uint32_t levels) {
  return (2.0f * static_cast<float>(v) - static_cast<float>(levels) + 1.0f) / static_cast<float>(levels);
}

}  // namespace fennik
