// RFC 6184 depacketization shared by the capture's frame assembler, the H.264 RTP stream
// parser and the decoder: single NAL unit packets (5.6), STAP-A aggregation packets (5.7.1)
// and FU-A fragmentation units (5.8) turned back into whole NAL units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "h264/H264Nal.h"

namespace fennik {

// Payload type of an RTP payload: its first byte AND 0x9F (forbidden_zero_bit kept, so a
// payload with that bit set matches no type).
inline int RtpPayloadType(const uint8_t* payload, size_t size) { return size == 0 ? -1 : NalTypeOf(payload[0]); }

// True for an FU-A payload whose FU header has the start bit.
inline bool IsFuAStart(const uint8_t* payload, size_t size) {
  return size >= 2 && NalTypeOf(payload[0]) == kNalFuA && (payload[1] & 0x80) != 0;
}

// Calls visit(nal, size) for every NAL unit of a STAP-A payload:
//   byte 0        STAP-A NAL header (F, NRI, type 24)
//   then repeated 16-bit big-endian NALU size, NAL unit of that size
// Returns false when a size runs past the payload or is 0 (the units before it were visited).
template <class Visit>
bool ForEachStapAUnit(const uint8_t* payload, size_t size, Visit&& visit) {
  size_t pos = 1;
  while (size >= pos + 2) {
    const size_t n = (size_t{payload[pos]} << 8) | payload[pos + 1];
    pos += 2;
    if (n == 0 || n > size - pos) return false;
    visit(payload + pos, n);
    pos += n;
  }
  return pos == size;
}

// The NAL units of an SDP sprop-parameter-sets value (RFC 6184 8.1): base64 units separated
// by commas. A unit that is not valid base64 is left out; returns the units decoded.
std::vector<std::vector<uint8_t>> DecodeSpropParameterSets(std::string_view value);

// Turns RTP payloads into NAL units. FU-A fragments are joined in a reassembly buffer of at
// most kMaxNalUnit bytes. A continuation fragment whose start fragment is missing, or that
// follows a lost packet (`continuous` false), discards the partial unit instead of
// appending to it; later fragments of that unit are discarded too.
class CH264Depacketizer {
 public:
  static constexpr size_t kMaxNalUnit = 0x400000;

  // One payload. Calls visit(nal, size) for each complete NAL unit it yields: the payload
  // itself for a single NAL unit packet (and for the types it does not unpack: STAP-B, MTAP,
  // FU-B), each unit of a STAP-A, the joined unit when an FU-A end fragment arrives.
  template <class Visit>
  void Feed(const uint8_t* payload, size_t size, bool continuous, Visit&& visit) {
    if (size == 0) return;
    if (!continuous) Abandon();
    const int type = NalTypeOf(payload[0]);
    if (type == kNalFuA) {
      if (AddFragment(payload, size)) visit(buffer_.data(), fill_);
      return;
    }
    Abandon();  // a non-fragment packet ends any unit still open
    if (type == kNalStapA) {
      if (!ForEachStapAUnit(payload, size, visit)) ++discarded_;
      return;
    }
    visit(payload, size);
  }

  // Forgets a partly joined unit (a new decode, a jump).
  void Reset() { open_ = false, fill_ = 0; }
  // Fragments and malformed aggregation packets dropped so far.
  uint32_t Discarded() const { return discarded_; }
  // True while an FU-A unit has started and not ended.
  bool InFragment() const { return open_; }

 private:
  // Adds one FU-A payload; true when it completed a NAL unit (buffer_[0 .. fill_)).
  bool AddFragment(const uint8_t* payload, size_t size);
  void Abandon() {
    if (open_) ++discarded_;
    Reset();
  }

  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;
  bool open_ = false;
  uint32_t discarded_ = 0;
};

}  // namespace fennik
