// G.722 (64 kbit/s sub-band ADPCM) decoder: per octet a 6-bit lower-band and a 2-bit
// higher-band code, decoded and recombined by the receive QMF into two 16 kHz samples.
// At a format sample rate of 16000 Hz both samples are output; at any other rate (the RTP
// clock rate of G.722 is 8000) only the first of the two, one sample per octet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CAudioDecoder.h"
#include "codec/audio/G722Kernel.h"

namespace fennik {

// What one octet decoded to.
struct G722OctetRecord {
  int32_t ih;       // 2-bit higher-band code
  int32_t il;       // 6-bit lower-band code
  int32_t rl;       // lower sub-band reconstructed signal
  int32_t rh;       // higher sub-band reconstructed signal
  int32_t xout[2];  // the two QMF outputs
};

class CG722_Decode : public CAudioDecoder<G722OctetRecord> {
 public:
  static constexpr int32_t kCodecType = 107;

  CG722_Decode();
  // SetAudioFormat (the common rule): the sample rate decides between one and two outputs
  // per octet.

  // Clears the sub-band and QMF state to G.722's reset values.
  void Reset();

  // Decodes octets while all of an octet's output samples fit into capacityBytes ÷ 2.
  // Returns the PCM bytes written; 0 when there is no input or no room.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);

 private:
  G722BandState low_;
  G722BandState high_;
  G722QmfState qmf_;
};

}  // namespace fennik
