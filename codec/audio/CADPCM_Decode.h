// IMA-ADPCM decoder for the RTP "DVI4" packing (RFC 3551 4.5.1): every frame starts with a
// 4-byte header (predictor, big-endian 16 bits; step index; a reserved byte) followed by
// 4-bit codes, the high nibble of each byte first. Frames are self-contained.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CAudioDecoder.h"
#include "codec/audio/ImaAdpcmKernel.h"

namespace fennik {

// The DVI4 frame header, as the frame carries it.
struct Dvi4Header {
  static constexpr size_t kSize = 4;
  uint16_t predictor;  // bytes 0-1, unsigned big-endian
  uint8_t stepIndex;   // byte 2 as coded (values above 88 are used as 88)
  uint8_t reserved;    // byte 3, ignored
  int32_t step;        // step size of the index in use
};

// Reads the header; false when the frame is shorter than the header.
bool ParseDvi4Header(const uint8_t* frame, size_t length, Dvi4Header& header);

struct AdpcmSampleRecord {
  uint32_t nibble;
  int32_t output;
};

class CADPCM_Decode : public CAudioDecoder<AdpcmSampleRecord> {
 public:
  static constexpr int32_t kCodecType = 103;

  CADPCM_Decode();
  void Reset();

  // Decodes one frame: two samples per byte after the header, as long as both fit into
  // capacityBytes ÷ 2. Frames of 4 bytes or less give nothing. Returns the PCM bytes
  // written.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);

  const ImaAdpcmState& State() const { return state_; }

 private:
  ImaAdpcmState state_;
};

}  // namespace fennik
