// The decoded link, IPv4, UDP and RTP header fields of one captured packet.
#pragma once

#include <cstdint>

#include "base/IpAddress.h"

namespace fennik {

struct PacketRecord {
  uint8_t destinationMac[6];  // zero for loopback frames
  uint8_t sourceMac[6];
  uint16_t ethertype;         // 0x0800, or zero for loopback frames
  // IPv4
  uint8_t ipVersion;
  uint8_t ihl;
  uint8_t typeOfService;
  uint16_t totalLength;
  uint16_t identification;
  uint8_t flags;
  uint16_t fragmentOffset;
  uint8_t timeToLive;
  uint8_t protocol;
  uint16_t headerChecksum;
  uint32_t sourceAddress;       // first octet most significant; IPv6: a handle (IpAddress.h)
  uint32_t destinationAddress;
  // IPv6 (ipVersion 6): the fixed header's fields; the addresses' octets are in the table.
  uint32_t flowLabel;
  uint8_t trafficClass;
  uint8_t nextHeader;           // of the fixed header (the transport's is `protocol`)
  uint16_t ipv6PayloadLength;
  uint8_t hopLimit;
  uint8_t extensionHeaders;     // IPv6 extension headers stepped over
  // UDP
  uint16_t sourcePort;
  uint16_t destinationPort;
  uint16_t udpLength;
  uint16_t udpChecksum;
  uint32_t rtcpOffset;          // record offset of the UDP payload when it starts like RTCP (0: not)
  // RTP
  uint8_t rtpVersion;
  uint8_t padding;
  uint8_t extension;
  uint8_t csrcCount;
  uint8_t marker;
  uint8_t payloadType;
  uint16_t sequenceNumber;
  uint32_t timestamp;
  uint32_t payloadLength;       // from the UDP length, not from the captured bytes
  // RFC 3550 5.3.1 header extension (when the X bit is set): profile, length in 32-bit
  // words, and the record offset of its first data word.
  uint16_t extensionProfile;
  uint16_t extensionWords;
  uint32_t extensionOffset;
  uint8_t paddingLength;        // the last payload octet when the P bit is set (0 unknown)
  uint16_t vlanCount;           // 802.1Q / 802.1ad tags stepped over
  uint16_t vlanIds[2];          // the outer two VLAN identifiers
  // The media a codec gets: the payload without the header extension and the padding,
  // bounded by the UDP length (record offset; length 0 when the header fields do not fit).
  uint32_t mediaOffset;
  uint32_t mediaLength;
  uint32_t ssrc;
  uint32_t csrc[15];
};

// "a.b.c.d" of an IPv4 address held first octet most significant, or the IPv6 text of an
// address handle (base/IpAddress.h).
using Ipv4Text = IpText;
inline Ipv4Text FormatIpv4(uint32_t address) { return FormatIpAddress(address); }

}  // namespace fennik
