// G.726 ADPCM decoder (16, 24, 32 and 40 kbit/s) for the two RTP packings: "G726-xx"
// (RFC 3551: code words packed from the least significant bit of each octet up) and
// "AAL2-G726-xx" (ITU-T I.366.2: packed from the most significant bit down). Produces
// 16-bit PCM at 8000 Hz and keeps, per decoded sample, the decoder state for the info view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CAudioDecoder.h"
#include "codec/audio/G726Kernel.h"

namespace fennik {

// One decoded sample with the state it was decoded from: the state values are those before
// the code word was applied, dq/output/tr are this sample's.
struct G726SampleRecord {
  uint32_t code;   // the code word
  int32_t output;  // the 16-bit output sample
  int32_t se;      // signal estimate
  int32_t dq;      // quantized difference (signed)
  int32_t y;       // quantizer scale factor
  int32_t yu;      // fast scale factor
  int32_t yl;      // slow scale factor
  int32_t dms;     // short-term average of F(I)
  int32_t dml;     // long-term average of F(I)
  uint32_t tr;     // transition detected for this sample
  uint32_t tdp;    // tone detector
};

class CG726_Decode : public CAudioDecoder<G726SampleRecord> {
 public:
  static constexpr int32_t kCodecTypeRtp = 108;   // "G726-xx", LSB-first packing
  static constexpr int32_t kCodecTypeAal2 = 109;  // "AAL2-G726-xx", MSB-first packing

  // aal2: MSB-first packing. bitRate selects the code word size (see SetBitRate).
  explicit CG726_Decode(bool aal2 = false, uint32_t bitRate = 40000);

  // Code word size from the bit rate: 3 bits for 24000, 4 for 32000, 5 for 40000 and 2 for
  // any other value. Also sets the format's bits per sample.
  void SetBitRate(uint32_t bitRate);
  int CodeBits() const { return tables_->codeBits; }
  bool IsAal2() const { return aal2_; }

  // Applies a stream's media description (the G.726 rule: a zero bit rate is taken as
  // channels × bits × rate, and the effective bit rate then picks the code word size).
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                      int32_t bitRate);

  // G.726's own arithmetic by default; kLibavcodec decodes streams from libavcodec's
  // encoder exactly as libavcodec does (see G726Rounding). Resets the decoder.
  void SetRounding(G726Rounding rounding);
  G726Rounding Rounding() const { return rounding_; }

  // Back to the initial state of G.726 (called on any jump in decoding order).
  void Reset();

  // Decodes one frame: ceil(8 × length ÷ code bits) samples, at most capacityBytes ÷ 2.
  // Returns the PCM bytes written; 0 when there is no input or no room.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);

  const G726State& State() const { return state_; }

 private:
  bool aal2_;
  G726Rounding rounding_ = G726Rounding::kStandard;
  const G726RateTables* tables_;
  G726State state_;
};

}  // namespace fennik
