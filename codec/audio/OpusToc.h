// The Opus packet framing of RFC 6716 3.1-3.2: the TOC byte (configuration, stereo flag,
// frame-count code) and the frame lengths of codes 0-3, with the packet's validity by the
// rules R1-R7 of 3.4.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennik {

enum class OpusMode : uint8_t { kSilk, kHybrid, kCelt };

struct OpusPacketInfo {
  static constexpr int kMaxFrames = 48;
  bool valid = false;       // the packet follows RFC 6716 3.4
  uint8_t config = 0;       // TOC bits 7-3
  uint8_t stereo = 0;       // TOC bit 2
  uint8_t code = 0;         // TOC bits 1-0
  OpusMode mode = OpusMode::kSilk;
  uint32_t bandwidthRate = 0;  // 8000 NB, 12000 MB, 16000 WB, 24000 SWB, 48000 FB
  uint32_t frameDuration48k = 0;  // samples per frame at 48 kHz (120 = 2.5 ms ... 2880 = 60 ms)
  // Code 3: the frame count byte.
  uint8_t vbr = 0, padding = 0;
  uint32_t paddingLength = 0;  // bytes of padding at the end (code 3 with padding)
  uint32_t frameCount = 0;  // 0 for a code 3 packet whose count breaks rule R5
  uint16_t frameLengths[kMaxFrames] = {};

  uint32_t SamplesAt(uint32_t rate) const {
    return static_cast<uint32_t>(uint64_t{frameDuration48k} * frameCount * rate / 48000);
  }
};

// Reads the TOC and frame lengths of one packet. An empty packet gives valid == false.
OpusPacketInfo ParseOpusPacket(const uint8_t* packet, size_t length);

const char* OpusModeName(OpusMode mode);
const char* OpusBandwidthName(uint32_t bandwidthRate);

}  // namespace fennik
