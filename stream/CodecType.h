// Codec types: the signed 32-bit numbers naming a stream's codec, which the SDP mapping and
// the static payload-type table assign and the codec registry turns into stream objects.
#pragma once

#include <cstdint>

namespace fennik {

enum CodecType : int32_t {
  kCodecUnknown = 0,
  kCodecMpeg4Visual = 5,     // MPEG-4 Visual ("MP4V-ES"); 28 as well
  kCodecH263 = 6,            // "H263"; 7 and 8 are H.263 variants
  kCodecH263Variant7 = 7,
  kCodecH263Variant8 = 8,
  kCodecH264 = 9,            // Annex B byte stream
  kCodecH264Mp4 = 10,        // 4-byte length-prefixed NAL units
  kCodecH264Rtp = 11,        // RTP payloads of RFC 6184 ("H264")
  kCodecMpeg4VisualAlt = 28,
  kCodecMpegAudio = 81,      // 81..87: MPEG audio, 82..87 once the layer is known
  kCodecAc3 = 88,
  kCodecAac = 89,            // 90 ADIF, 91 ADTS, 92 LATM/LOAS once the transport is known
  kCodecL16 = 94,
  kCodecDvi4 = 103,
  kCodecVorbis = 104,
  kCodecPcmA = 105,
  kCodecPcmU = 106,
  kCodecG722 = 107,
  kCodecG726 = 108,          // RTP bit order
  kCodecG726Aal2 = 109,      // AAL2 bit order
  kCodecG729 = 110,
  kCodecFlac = 111,
  kCodecOpus = 113,
  kCodecSpeex = 114,
  kCodecGsm = 115,
  kCodecIlbc = 116,
  kCodecLpc = 117,
};

inline bool IsH264Codec(int32_t t) { return t == kCodecH264 || t == kCodecH264Mp4 || t == kCodecH264Rtp; }
inline bool IsH263Codec(int32_t t) { return t == kCodecH263 || t == kCodecH263Variant7 || t == kCodecH263Variant8; }
inline bool IsMpeg4VisualCodec(int32_t t) { return t == kCodecMpeg4Visual || t == kCodecMpeg4VisualAlt; }

}  // namespace fennik
