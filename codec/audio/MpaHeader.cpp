#include "codec/audio/MpaHeader.h"

#include "codec/audio/MpaTables.h"

namespace fennik {

uint32_t MpaHeader::SizeForBitRate(uint32_t rate) const {
  if (sampleRate == 0 || rate == 0) return 4;
  const uint64_t r = rate;
  uint64_t size;
  if (layer == 1) {
    size = (12 * r / sampleRate + paddingBit) * 4;
  } else if (layer == 3 && Lsf()) {
    size = 72 * r / sampleRate + paddingBit;
  } else {
    size = 144 * r / sampleRate + paddingBit;
  }
  return size == 0 ? 4 : static_cast<uint32_t>(size);
}

bool ParseMpaHeader(uint32_t bits, MpaHeader& h) {
  if ((bits & 0xFFE00000u) != 0xFFE00000u) return false;
  h = MpaHeader();
  h.bits = bits;
  h.version = static_cast<uint8_t>((bits >> 19) & 3);
  h.layerCode = static_cast<uint8_t>((bits >> 17) & 3);
  h.protectionBit = static_cast<uint8_t>((bits >> 16) & 1);
  h.bitrateIndex = static_cast<uint8_t>((bits >> 12) & 15);
  h.samplingFrequency = static_cast<uint8_t>((bits >> 10) & 3);
  h.paddingBit = static_cast<uint8_t>((bits >> 9) & 1);
  h.privateBit = static_cast<uint8_t>((bits >> 8) & 1);
  h.mode = static_cast<uint8_t>((bits >> 6) & 3);
  h.modeExtension = static_cast<uint8_t>((bits >> 4) & 3);
  h.copyright = static_cast<uint8_t>((bits >> 3) & 1);
  h.original = static_cast<uint8_t>((bits >> 2) & 1);
  h.emphasis = static_cast<uint8_t>(bits & 3);
  if (h.layerCode == 0 || h.bitrateIndex == 15 || h.samplingFrequency == 3) return false;

  h.packed = 0x7FFu | uint32_t{h.version} << 11 | uint32_t{h.layerCode} << 13 |
             uint32_t{h.protectionBit} << 15 | uint32_t{h.bitrateIndex} << 16 |
             uint32_t{h.samplingFrequency} << 20 | uint32_t{h.paddingBit} << 22 |
             uint32_t{h.privateBit} << 23 | uint32_t{h.mode} << 24 |
             uint32_t{h.modeExtension} << 26 | uint32_t{h.copyright} << 28 |
             uint32_t{h.original} << 29 | uint32_t{h.emphasis} << 30;
  h.layer = static_cast<uint8_t>(4 - h.layerCode);
  h.channels = h.mode == kMpaSingleChannel ? 1 : 2;
  h.bound = h.mode == kMpaJointStereo ? static_cast<uint8_t>((h.modeExtension + 1) * 4) : 32;
  h.headerLength = h.protectionBit == 0 ? 6 : 4;
  h.samplingIndex = static_cast<uint8_t>(h.samplingFrequency + (h.version == kMpaVersion1 ? 0
                                                                : h.version == kMpaVersion2 ? 3
                                                                                            : 6));
  if (h.version != kMpaVersionReserved) {
    h.sampleRate = kMpaSampleRate[h.samplingIndex];
    h.bitRate = uint32_t{kMpaBitrateKbps[h.Lsf() ? 1 : 0][h.layer - 1][h.bitrateIndex]} * 1000;
  }
  h.frameSize = h.SizeForBitRate(h.bitRate);
  // ISO/IEC 13818-3: a Layer III frame of the lower sampling rates has one granule.
  h.samples = h.layer == 1 ? 384 : (h.layer == 3 && h.Lsf() ? 576 : 1152);
  return true;
}

uint32_t MpaFreeFormatSize(const uint8_t* data, size_t length, const MpaHeader& h) {
  const uint32_t fixed = h.bits & kMpaFixedHeaderMask;
  // A free-format frame is at least as long as the header and side information.
  for (size_t i = 16; i + 4 <= length; ++i) {
    const uint32_t w = uint32_t{data[i]} << 24 | uint32_t{data[i + 1]} << 16 |
                       uint32_t{data[i + 2]} << 8 | data[i + 3];
    if ((w & kMpaFixedHeaderMask) == fixed && ((w >> 12) & 15) == 0) return static_cast<uint32_t>(i);
  }
  return 0;
}

}  // namespace fennik
