// The packet decoder: turns one capture record into a PacketRecord, decides whether it is an
// RTP packet of interest, and hands SDP text found in any UDP or TCP payload to the
// capture's list of session descriptions.
#pragma once

#include <cstdint>

#include "capture/PacketRecord.h"
#include "sdp/MediaDescription.h"

namespace fennik {

// Link-layer types of the capture file (the pcap LINKTYPE_ values) that the decoder knows.
enum LinkType : uint32_t {
  kLinkNull = 0,          // 4-byte address family in the capturing host's byte order
  kLinkEthernet = 1,
  kLinkRaw = 101,         // the frame is the IP packet
  kLinkLoop = 108,        // 4-byte address family, big-endian
  kLinkLinuxSll = 113,    // Linux "any" device, 16-byte header
  kLinkIpv4 = 228,
  kLinkIpv6 = 229,
  kLinkLinuxSll2 = 276,   // 20-byte header
  kLinkUnknown = 0xFFFFFFFF,  // classify the frame by its first bytes
};

// The link type in four bits (the packet table keeps it so): 1 to 8 for the types above,
// 0 for every other type, which the decoder treats alike (as kLinkUnknown).
uint8_t LinkTypeCode(uint32_t linkType);
uint32_t LinkTypeOfCode(uint8_t code);

class CRTP_LoadPacket {
 public:
  // Decodes the record (`length` bytes from its record header; the frame starts at
  // `frameOffset`). Returns the offset of the RTP payload from the record's first byte, or
  // 0 when the record is not an RTP packet. `packet` is filled as far as decoding got; a
  // UDP datagram that starts like RTCP has its payload's offset in `packet.rtcpOffset`.
  // With `sdpSearch` false the SDP search is skipped (re-reads of known packets).
  uint32_t Decode(const uint8_t* record, uint32_t length, uint32_t frameOffset,
                  PacketRecord& packet, uint32_t linkType = kLinkUnknown, bool sdpSearch = true);

  MediaDescriptionList& Descriptions() { return descriptions_; }
  const MediaDescriptionList& Descriptions() const { return descriptions_; }

 private:
  void SearchSdp(const uint8_t* data, uint32_t available);
  // Each step below takes the record, its length and the offset (from the record's first
  // byte) of the header it decodes, and returns the offset of the next header or 0.
  uint32_t Ipv4Header(const uint8_t* record, uint32_t length, uint32_t ipOffset,
                      PacketRecord& packet, bool sdpSearch);
  uint32_t Ipv6Header(const uint8_t* record, uint32_t length, uint32_t ipOffset,
                      PacketRecord& packet, bool sdpSearch);
  uint32_t Transport(const uint8_t* record, uint32_t length, uint32_t transportOffset,
                     PacketRecord& packet, bool sdpSearch);
  // Fills the extension, padding and media fields of an RTP packet whose payload (after the
  // CSRC list) starts at record offset `payload`.
  static void MediaBounds(const uint8_t* record, uint32_t length, uint32_t payload,
                          PacketRecord& packet);
  // Offset of the IP header from the record's first byte, or 0 when the frame does not
  // carry IPv4 or IPv6 (802.1Q and 802.1ad VLAN tags are stepped over); fills the link
  // fields.
  static uint32_t LinkHeader(const uint8_t* record, uint32_t length, uint32_t frameOffset,
                             uint32_t linkType, PacketRecord& packet);

  MediaDescriptionList descriptions_;
};

// A 64-bit digest of payload bytes, to recognise exact duplicate packets (compared only
// between packets whose headers already agree).
uint64_t PayloadDigest(const uint8_t* data, uint32_t length);

// Finds "v=0" in a payload; returns its position or -1. The match must lie wholly inside
// the payload and not end on its last byte (a text needs more than the version line).
long FindSdpStart(const uint8_t* data, uint32_t available);

}  // namespace fennik
