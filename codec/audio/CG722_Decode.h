// G.722 (64 kbit/s sub-band ADPCM) decoder: per octet a 6-bit lower-band and a 2-bit
// higher-band code, decoded and recombined by the receive QMF into two 16 kHz samples.
// Both samples are always output (two per octet): the format's sample rate stays 16000 even
// though G.722's RTP clock rate is 8000 (RFC 3551 4.5.2).
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
  // The common rule, then the sample rate fixed at 16000 whatever the stream's clock says.
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                      int32_t bitRate);

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
