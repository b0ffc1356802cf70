// The MPEG audio frame header (ISO/IEC 11172-3 2.4.2.3, 13818-3 2.4.2.3, and MPEG-2.5's
// lower sampling rates): validation and the values derived from it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennik {

enum MpaVersion : uint8_t {  // the two version ID bits
  kMpaVersion25 = 0,
  kMpaVersionReserved = 1,
  kMpaVersion2 = 2,
  kMpaVersion1 = 3,
};

enum MpaMode : uint8_t { kMpaStereo = 0, kMpaJointStereo = 1, kMpaDualChannel = 2, kMpaSingleChannel = 3 };

struct MpaHeader {
  uint32_t bits = 0;    // the 32 header bits as transmitted (syncword first)
  // The fields packed from the least significant bit up in header order: syncword 0-10,
  // version ID 11-12, layer 13-14, protection_bit 15, bitrate_index 16-19,
  // sampling_frequency 20-21, padding_bit 22, private_bit 23, mode 24-25,
  // mode_extension 26-27, copyright 28, original/home 29, emphasis 30-31.
  uint32_t packed = 0;
  uint8_t version = 0;         // MpaVersion
  uint8_t layerCode = 0;       // 3 Layer I, 2 Layer II, 1 Layer III
  uint8_t protectionBit = 0;   // 0: a CRC follows the header
  uint8_t bitrateIndex = 0;
  uint8_t samplingFrequency = 0;
  uint8_t paddingBit = 0;
  uint8_t privateBit = 0;
  uint8_t mode = 0;            // MpaMode
  uint8_t modeExtension = 0;
  uint8_t copyright = 0;
  uint8_t original = 0;
  uint8_t emphasis = 0;
  uint16_t crc = 0;            // with protectionBit 0, when read

  // Derived.
  uint8_t layer = 0;           // 1..3
  uint8_t bound = 32;          // Layers I/II: first sub-band coded jointly (32: none)
  uint8_t channels = 0;
  uint8_t headerLength = 4;    // 6 with a CRC
  uint8_t samplingIndex = 0;   // sampling_frequency + 3 (MPEG-2) or + 6 (MPEG-2.5)
  uint32_t bitRate = 0;        // bit/s, 0 for free format
  uint32_t sampleRate = 0;     // Hz, 0 for the reserved version
  uint32_t frameSize = 0;      // bytes; 4 when not derivable (free format)
  uint32_t samples = 0;        // per channel: 384, 1152, or 576 for MPEG-2/2.5 Layer III

  bool Lsf() const { return version != kMpaVersion1; }
  bool FreeFormat() const { return bitrateIndex == 0; }
  // The frame size a free-format frame of `bitRate` has (also used to derive its rate).
  uint32_t SizeForBitRate(uint32_t rate) const;
};

// True when `bits` (big-endian header word) is a valid header: 11 sync bits set, layer
// not 00, bitrate_index not 15, sampling_frequency not 3. Fills `h`.
bool ParseMpaHeader(uint32_t bits, MpaHeader& h);

// Fixed header fields that stay the same over a stream (sync, version, layer,
// sampling_frequency): a mask over the header word for finding the next frame.
constexpr uint32_t kMpaFixedHeaderMask = 0xFFFE0C00u;

// The size of the free-format frame at `data` (header valid, bitrate_index 0): the
// distance to the next header of the same stream within `length`, padding allowed for;
// 0 when none is found.
uint32_t MpaFreeFormatSize(const uint8_t* data, size_t length, const MpaHeader& h);

}  // namespace fennik
