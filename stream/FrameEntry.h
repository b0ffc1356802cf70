// The frame entry of a stream's frame table, and the codec-specific fields that the video
// parsers keep in its 20-byte codec area.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace fennik {

struct FrameEntry {
  uint64_t timestamp = 0;      // RTP timestamp of the packet in which the frame starts
  uint32_t size = 0;           // frame length in payload bytes
  uint32_t packetNumber = 0;   // captured packet in which the frame starts
  uint32_t frameNumber = 0;    // index of this frame in the stream's frame table
  uint32_t streamId = 0;
  uint16_t frameOffset = 0;    // frame's first byte, from the start of the captured packet
  uint16_t payloadOffset = 0;  // RTP payload, from the start of the captured packet
  uint8_t codec[20] = {};      // codec-specific values

  bool operator==(const FrameEntry&) const = default;
};

// H.264 codec fields.
struct H264FrameFields {
  uint32_t randomAccessIndex;
  int16_t poc;                 // picture order count modulo MaxPicOrderCntLsb
  uint16_t frameNum;
  uint16_t reserved;
  uint16_t flags;              // H264FrameFlag values
};
enum H264FrameFlag : uint16_t {
  kH264PictureTypeMask = 0x0007,  // 1 I, 2 P, 3 B, 4 SI, 5 SP
  kH264Idr = 0x0008,
  kH264Reference = 0x0010,
  kH264RandomAccess = 0x0020,
  kH264SpsBefore = 0x0040,
  kH264PpsBefore = 0x0080,
  kH264StructureShift = 8,        // 1 top field, 2 bottom field, 3 frame
};

// H.263 codec fields.
struct H263FrameFields {
  uint32_t randomAccessIndex;
  uint16_t temporalReference;
  uint16_t reserved;
  uint16_t flags;  // bits 0-2 picture type: 1 I, 2 P, 3 B, 4 PB, 5 EI, 6 EP
};

// MPEG-4 Visual codec fields.
struct M4vFrameFields {
  uint32_t randomAccessIndex;
  uint16_t reserved[3];
  uint16_t flags;  // bits 0-2 vop_coding_type + 1: 1 I, 2 P, 3 B, 4 S
};

template <class Fields>
Fields GetCodecFields(const FrameEntry& entry) {
  static_assert(std::is_trivially_copyable_v<Fields> && sizeof(Fields) <= sizeof entry.codec);
  Fields f;
  std::memcpy(&f, entry.codec, sizeof f);
  return f;
}
template <class Fields>
void SetCodecFields(FrameEntry& entry, const Fields& f) {
  static_assert(std::is_trivially_copyable_v<Fields> && sizeof(Fields) <= sizeof entry.codec);
  std::memcpy(entry.codec, &f, sizeof f);
}

}  // namespace fennik
