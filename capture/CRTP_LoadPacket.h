// The packet decoder: turns one capture record into a PacketRecord, decides whether it is an
// RTP packet of interest, and hands SDP text found in any UDP or TCP payload to the
// capture's list of session descriptions.
#pragma once

#include <cstdint>

#include "capture/PacketRecord.h"
#include "sdp/MediaDescription.h"

namespace fennik {

class CRTP_LoadPacket {
 public:
  // Decodes the record (`length` bytes from its record header; the frame starts at
  // `frameOffset`). Returns the offset of the RTP payload from the record's first byte, or
  // 0 when the record is not an RTP packet. `packet` is filled as far as decoding got.
  // With `sdpSearch` false the SDP search is skipped (re-reads of known packets).
  uint32_t Decode(const uint8_t* record, uint32_t length, uint32_t frameOffset,
                  PacketRecord& packet, bool sdpSearch = true);

  MediaDescriptionList& Descriptions() { return descriptions_; }
  const MediaDescriptionList& Descriptions() const { return descriptions_; }

 private:
  void SearchSdp(const uint8_t* data, uint32_t available);

  MediaDescriptionList descriptions_;
};

// Finds "v=0" in a payload; returns its position or -1. The match must lie wholly inside
// the payload and not end on its last byte (a text needs more than the version line).
long FindSdpStart(const uint8_t* data, uint32_t available);

}  // namespace fennik
