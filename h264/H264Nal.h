// H.264 NAL unit framing shared by the capture analysis, the stream parsers and the decoder:
// the NAL unit types (H.264 Table 7-1, RFC 6184 Table 1), Annex B start-code splitting,
// 4-byte length splitting and the emulation-prevention removal that turns a NAL unit into
// its RBSP (H.264 7.3.1, 7.4.1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fennik {

enum H264NalType : int {
  kNalSlice = 1,
  kNalSliceDpa = 2,
  kNalSliceDpb = 3,
  kNalSliceDpc = 4,
  kNalIdrSlice = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
  kNalAud = 9,
  kNalEndOfSequence = 10,
  kNalEndOfStream = 11,
  kNalFiller = 12,
  // RFC 6184 payload structures (nal_unit_type values 24..29 of an RTP payload).
  kNalStapA = 24,
  kNalStapB = 25,
  kNalMtap16 = 26,
  kNalMtap24 = 27,
  kNalFuA = 28,
  kNalFuB = 29,
};

// One NAL unit inside a larger buffer: `offset` is its first byte (the NAL header),
// `prefix` the length of the start code or length field in front of it.
struct NalSpan {
  size_t offset = 0;
  size_t size = 0;
  size_t prefix = 0;
};

// Splits an Annex B byte stream at its 3- and 4-byte start codes. Bytes before the first
// start code are skipped. The last unit runs to the end of the data.
std::vector<NalSpan> SplitAnnexB(const uint8_t* data, size_t size);

// Splits 4-byte big-endian length-prefixed NAL units. The walk stops at a length for which
// length + 4 exceeds kMaxNalLengthField; a unit running past the data is cut at its end.
std::vector<NalSpan> SplitLengthPrefixed(const uint8_t* data, size_t size);
constexpr uint32_t kMaxNalLengthField = 0x3FFFFF;

// Emulation-prevention removal: copies src into dst, dropping every 0x03 that follows two or
// more zero bytes (whatever byte follows it). Copies at most dst_capacity bytes; returns the
// RBSP length.
size_t UnescapeRbsp(const uint8_t* src, size_t size, uint8_t* dst, size_t dst_capacity);

// nal_unit_type of a NAL header byte, as the decoder classifies it (first byte AND 0x9F,
// so a set forbidden_zero_bit yields a type it does not know).
inline int NalTypeOf(uint8_t header) { return header & 0x9F; }

}  // namespace fennik
