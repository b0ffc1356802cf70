// Opus packets (RFC 6716) for the information view and decoding through the module
// xcopus_x64.so. RTP carries one Opus packet per RTP packet (RFC 7587); the decoder runs
// at 48 kHz, the RTP clock of Opus, so that a stream decodes to one rate whatever
// bandwidth its packets switch between.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/audio/CModuleDecoder.h"
#include "codec/audio/OpusToc.h"

namespace fennik {

class COpus_Decode : public CModuleDecoder<OpusPacketInfo> {
 public:
  static constexpr int32_t kCodecType = 113;
  static constexpr uint32_t kDecodeRate = 48000;

  COpus_Decode();

  // The stream's channels: 2 when the first packet is stereo (or the SDP says stereo=1).
  void SetChannels(uint32_t channels);
  // Unpacks the packet's TOC and frame lengths, then decodes it through the module.
  // "OpusHead" and "OpusTags" packets (Ogg mapping) are shown but not decoded.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);
};

// True for an Ogg Opus identification ("OpusHead") or comment ("OpusTags") packet.
bool IsOpusHeaderPacket(const uint8_t* data, size_t length, const char* magic);

}  // namespace fennik
