#include "codec/audio/OpusToc.h"

namespace fennik {
namespace {

// RFC 6716 3.2.1: a frame length in one byte (0-251) or two (252-255: first + 4 × second).
bool ReadFrameLength(const uint8_t* p, size_t end, size_t& at, uint32_t& length) {
  if (at >= end) return false;
  const uint32_t first = p[at++];
  if (first < 252) {
    length = first;
    return true;
  }
  if (at >= end) return false;
  length = first + 4 * uint32_t{p[at++]};
  return true;
}

}  // namespace

const char* OpusModeName(OpusMode mode) {
  switch (mode) {
    case OpusMode::kSilk: return "SILK-only";
    case OpusMode::kHybrid: return "Hybrid";
    default: return "CELT-only";
  }
}

const char* OpusBandwidthName(uint32_t rate) {
  switch (rate) {
    case 8000: return "narrowband";
    case 12000: return "medium-band";
    case 16000: return "wideband";
    case 24000: return "super-wideband";
    default: return "fullband";
  }
}

OpusPacketInfo ParseOpusPacket(const uint8_t* p, size_t length) {
  OpusPacketInfo info;
  if (p == nullptr || length == 0) return info;
  info.config = static_cast<uint8_t>(p[0] >> 3);
  info.stereo = static_cast<uint8_t>((p[0] >> 2) & 1);
  info.code = static_cast<uint8_t>(p[0] & 3);
  // RFC 6716 Table 2.
  static constexpr uint32_t kSilkDurations[4] = {480, 960, 1920, 2880};
  static constexpr uint32_t kCeltDurations[4] = {120, 240, 480, 960};
  const int c = info.config;
  if (c < 12) {
    info.mode = OpusMode::kSilk;
    info.bandwidthRate = c < 4 ? 8000 : c < 8 ? 12000 : 16000;
    info.frameDuration48k = kSilkDurations[c & 3];
  } else if (c < 16) {
    info.mode = OpusMode::kHybrid;
    info.bandwidthRate = c < 14 ? 24000 : 48000;
    info.frameDuration48k = kSilkDurations[c & 1];
  } else {
    info.mode = OpusMode::kCelt;
    static constexpr uint32_t kRates[4] = {8000, 16000, 24000, 48000};
    info.bandwidthRate = kRates[(c - 16) >> 2];
    info.frameDuration48k = kCeltDurations[c & 3];
  }

  size_t at = 1;
  size_t end = length;
  switch (info.code) {
    case 0:  // one frame
      info.frameCount = 1;
      info.frameLengths[0] = static_cast<uint16_t>(length - 1 > 0xFFFF ? 0xFFFF : length - 1);
      info.valid = length - 1 <= 1275;  // R2
      return info;
    case 1: {  // two frames of equal size
      info.frameCount = 2;
      const size_t each = (length - 1) / 2;
      info.frameLengths[0] = info.frameLengths[1] = static_cast<uint16_t>(each > 0xFFFF ? 0xFFFF : each);
      info.valid = (length - 1) % 2 == 0 && each <= 1275;  // R3
      return info;
    }
    case 2: {  // two frames, the first's length coded
      info.frameCount = 2;
      uint32_t first = 0;
      if (!ReadFrameLength(p, end, at, first) || first > end - at) return info;  // R4
      info.frameLengths[0] = static_cast<uint16_t>(first);
      const size_t second = end - at - first;
      info.frameLengths[1] = static_cast<uint16_t>(second > 0xFFFF ? 0xFFFF : second);
      info.valid = first <= 1275 && second <= 1275;
      return info;
    }
    default: break;
  }
  // Code 3: the frame count byte, optional padding and the frame lengths (RFC 6716 3.2.5).
  if (at >= end) return info;  // R6
  const uint8_t countByte = p[at++];
  info.vbr = static_cast<uint8_t>(countByte >> 7);
  info.padding = static_cast<uint8_t>((countByte >> 6) & 1);
  const uint32_t count = countByte & 0x3F;
  if (count == 0 || count * info.frameDuration48k > 5760) return info;  // R5: at most 120 ms
  info.frameCount = count;
  if (info.padding) {
    // Each byte of 255 means 254 bytes of padding and another length byte follows.
    uint32_t padding = 0;
    for (;;) {
      if (at >= end) return info;
      const uint8_t b = p[at++];
      padding += b == 255 ? 254 : b;
      if (b != 255) break;
    }
    if (padding > end - at) return info;  // R7
    info.paddingLength = padding;
    end -= padding;
  }
  if (info.vbr) {
    uint32_t total = 0;
    for (uint32_t i = 0; i + 1 < info.frameCount; ++i) {
      uint32_t n = 0;
      if (!ReadFrameLength(p, end, at, n)) return info;
      info.frameLengths[i] = static_cast<uint16_t>(n);
      total += n;
    }
    if (total > end - at) return info;  // R7
    const size_t last = end - at - total;
    info.frameLengths[info.frameCount - 1] = static_cast<uint16_t>(last > 0xFFFF ? 0xFFFF : last);
    info.valid = last <= 1275;
    for (uint32_t i = 0; i + 1 < info.frameCount; ++i) info.valid = info.valid && info.frameLengths[i] <= 1275;
    return info;
  }
  const size_t bytes = end - at;
  if (bytes % info.frameCount != 0) return info;  // R6
  const size_t each = bytes / info.frameCount;
  for (uint32_t i = 0; i < info.frameCount; ++i) info.frameLengths[i] = static_cast<uint16_t>(each > 0xFFFF ? 0xFFFF : each);
  info.valid = each <= 1275;
  return info;
}

}  // namespace fennik
