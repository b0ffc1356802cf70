// GSM 06.10 full-rate frames for the information view and decoding through the module
// xcgsm_x64.so. A frame is the 33-byte RTP packing (RFC 3551 4.5.8): the 4-bit signature
// 0xD, the eight log-area ratios and four sub-frames of long-term prediction and RPE
// parameters (GSM 06.10 table 1.1), most significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/audio/CModuleDecoder.h"

namespace fennik {

struct GsmSubFrame {
  uint8_t ltpLag;       // Nc, 7 bits
  uint8_t ltpGain;      // bc, 2 bits
  uint8_t gridPosition; // Mc, 2 bits
  uint8_t blockAmplitude;  // xmaxc, 6 bits
  uint8_t pulses[13];   // xMc, 3 bits each
};

struct GsmFrameRecord {
  static constexpr size_t kBytes = 33;
  static constexpr int kLarBits[8] = {6, 6, 5, 5, 4, 4, 3, 3};
  uint8_t signature;  // 0xD
  uint8_t lar[8];     // LARc[1..8]
  GsmSubFrame sub[4];
};

// Unpacks a 33-byte frame; false when it is shorter or its signature is not 0xD.
bool UnpackGsmFrame(const uint8_t* frame, size_t length, GsmFrameRecord& record);

class CGSM_Decode : public CModuleDecoder<GsmFrameRecord> {
 public:
  static constexpr int32_t kCodecType = 115;
  static constexpr uint32_t kFrameSamples = 160;

  CGSM_Decode();

  // Decodes a frame of at least 33 bytes whose unpack succeeds, with room for 160 samples;
  // anything else gives 0. The record holds the unpacked frame.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);
};

}  // namespace fennik
