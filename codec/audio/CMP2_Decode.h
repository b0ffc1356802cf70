// MPEG audio Layer II decoder (ISO/IEC 11172-3 2.4.3.3, 13818-3 for the lower sampling
// rates): bit allocation by the table the bit rate and sampling rate select, scfsi and
// scalefactors, grouped and ungrouped samples in 12 granules of 3, then the synthesis
// filter bank. 1152 samples per channel and frame.
#pragma once

#include "codec/audio/CMPA_Common.h"

namespace fennik {

class CMP2_Decode : public CMPA_Common {
 public:
  bool DecodeFrame(BitReader& reader, const MpaHeader& h, const uint8_t* frame, size_t size) override;

 protected:
  uint32_t FrameSamples() const override { return 1152; }
};

}  // namespace fennik
