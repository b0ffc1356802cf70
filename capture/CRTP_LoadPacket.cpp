#include "capture/CRTP_LoadPacket.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "base/ByteOrder.h"

namespace fennik {
namespace {

constexpr uint32_t kEthernetHeader = 14;
constexpr uint32_t kLoopbackHeader = 4;
constexpr uint16_t kEthertypeIpv4 = 0x0800;
constexpr uint32_t kIpv4Header = 20;  // without options
constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
constexpr uint32_t kUdpHeader = 8;
constexpr uint32_t kRtpHeader = 12;
constexpr uint16_t kLowestRtpPort = 1000;

bool IsRtcpPacketType(uint8_t type) {
  // SR, RR, SDES, BYE, APP and XR. 205 and 206 (feedback) are not excluded.
  return (type >= 200 && type <= 204) || type == 207;
}

}  // namespace

Ipv4Text FormatIpv4(uint32_t a) {
  Ipv4Text t;
  std::snprintf(t.text, sizeof t.text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
                a & 0xFF);
  return t;
}

long FindSdpStart(const uint8_t* data, uint32_t available) {
  if (available < 4) return -1;
  const uint8_t* p = data;
  const uint8_t* last = data + (available - 4);  // the last position a match may start at
  while (p <= last) {
    p = static_cast<const uint8_t*>(std::memchr(p, 'v', static_cast<size_t>(last - p) + 1));
    if (p == nullptr) return -1;
    if (p[1] == '=' && p[2] == '0') return p - data;
    ++p;
  }
  return -1;
}

void CRTP_LoadPacket::SearchSdp(const uint8_t* data, uint32_t available) {
  long start = FindSdpStart(data, available);
  if (start >= 0) {
    descriptions_.Parse(data + start, available - static_cast<uint32_t>(start));
  }
}

// Frame layout:
//   link header (Ethernet II: destination MAC(6) source MAC(6) ethertype(2); see LinkHeader)
//   IPv4: ver/IHL(1) TOS(1) total length(2) id(2) flags/fragment(2) TTL(1) protocol(1)
//         checksum(2) source(4) destination(4) options(4 x (IHL - 5))
//   UDP: source port(2) destination port(2) length(2) checksum(2)
//   RTP: V/P/X/CC(1) M/PT(1) sequence(2) timestamp(4) SSRC(4) CSRC(4 x CC)
// The link header by the file's link type. When the type is not known, a frame that begins
// with 02 00 00 00 (AF_INET, little-endian) has a loopback header and any other frame is
// taken as Ethernet II.
uint32_t CRTP_LoadPacket::LinkHeader(const uint8_t* record, uint32_t length, uint32_t frameOffset,
                                     uint32_t linkType, PacketRecord& p) {
  auto ethernet = [&]() -> uint32_t {
    if (frameOffset + kEthernetHeader > length) return 0;
    std::memcpy(p.destinationMac, record + frameOffset, 6);
    std::memcpy(p.sourceMac, record + frameOffset + 6, 6);
    p.ethertype = ReadBE16(record + frameOffset + 12);
    return p.ethertype == kEthertypeIpv4 ? frameOffset + kEthernetHeader : 0;
  };
  auto loopback = [&](bool eitherOrder) -> uint32_t {
    if (frameOffset + kLoopbackHeader > length) return 0;
    const bool little = ReadLE32(record + frameOffset) == 2;
    const bool big = ReadBE32(record + frameOffset) == 2;
    return (little || (eitherOrder && big)) ? frameOffset + kLoopbackHeader : 0;
  };
  switch (linkType) {
    case kLinkEthernet: return ethernet();
    case kLinkNull: return loopback(true);
    case kLinkLoop: return loopback(true);
    case kLinkRaw:
    case kLinkIpv4: return frameOffset < length && (record[frameOffset] >> 4) == 4 ? frameOffset : 0;
    case kLinkLinuxSll:  // packet type(2) ARPHRD(2) address length(2) address(8) protocol(2)
      if (frameOffset + 16 > length) return 0;
      p.ethertype = ReadBE16(record + frameOffset + 14);
      return p.ethertype == kEthertypeIpv4 ? frameOffset + 16 : 0;
    case kLinkLinuxSll2:  // protocol(2) reserved(2) interface(4) ARPHRD(2) type(1) length(1) address(8)
      if (frameOffset + 20 > length) return 0;
      p.ethertype = ReadBE16(record + frameOffset);
      return p.ethertype == kEthertypeIpv4 ? frameOffset + 20 : 0;
    default:
      if (frameOffset + kLoopbackHeader > length) return 0;
      return loopback(false) ? frameOffset + kLoopbackHeader : ethernet();
  }
}

uint32_t CRTP_LoadPacket::Decode(const uint8_t* record, uint32_t length, uint32_t frameOffset,
                                 PacketRecord& p, uint32_t linkType, bool sdpSearch) {
  // The CSRC list is filled up to the CSRC count only; everything before it is cleared.
  std::memset(&p, 0, offsetof(PacketRecord, csrc));
  const uint32_t ipOffset = LinkHeader(record, length, frameOffset, linkType, p);
  if (ipOffset == 0 || ipOffset + kIpv4Header >= length) return 0;
  const uint8_t* ip = record + ipOffset;
  p.ipVersion = ip[0] >> 4;
  p.ihl = ip[0] & 0x0F;
  p.typeOfService = ip[1];
  p.totalLength = ReadBE16(ip + 2);
  p.identification = ReadBE16(ip + 4);
  p.flags = ip[6] >> 5;
  p.fragmentOffset = ReadBE16(ip + 6) & 0x1FFF;
  p.timeToLive = ip[8];
  p.protocol = ip[9];
  p.headerChecksum = ReadBE16(ip + 10);
  p.sourceAddress = ReadBE32(ip + 12);
  p.destinationAddress = ReadBE32(ip + 16);
  // The transport header follows the options, if any; an IHL below 5 is not IPv4.
  if (p.ihl < 5) return 0;
  const uint32_t transportOffset = ipOffset + 4u * p.ihl;
  if (transportOffset >= length) return 0;

  if (p.protocol == kProtocolTcp) {
    if (transportOffset + 13 > length) return 0;
    uint32_t payload = transportOffset + 4u * (record[transportOffset + 12] >> 4);
    if (payload >= length || length - payload < 4) return 0;
    if (sdpSearch) SearchSdp(record + payload, length - payload);
    return 0;  // a TCP segment is never an RTP packet
  }
  if (p.protocol != kProtocolUdp) return 0;
  const uint32_t rtpOffset = transportOffset + kUdpHeader;
  if (rtpOffset >= length) return 0;
  p.sourcePort = ReadBE16(record + transportOffset);
  p.destinationPort = ReadBE16(record + transportOffset + 2);
  p.udpLength = ReadBE16(record + transportOffset + 4);
  p.udpChecksum = ReadBE16(record + transportOffset + 6);
  if (sdpSearch) SearchSdp(record + rtpOffset, length - rtpOffset);

  if (p.sourcePort < kLowestRtpPort || p.destinationPort < kLowestRtpPort) return 0;
  if (rtpOffset + 1 < length && IsRtcpPacketType(record[rtpOffset + 1])) return 0;
  // The fixed header and the CSRC list must lie inside the record.
  if (rtpOffset + kRtpHeader > length) return 0;
  const uint8_t* rtp = record + rtpOffset;
  p.rtpVersion = rtp[0] >> 6;
  p.padding = (rtp[0] >> 5) & 1;
  p.extension = (rtp[0] >> 4) & 1;
  p.csrcCount = rtp[0] & 0x0F;
  p.marker = rtp[1] >> 7;
  p.payloadType = rtp[1] & 0x7F;
  p.sequenceNumber = ReadBE16(rtp + 2);
  p.timestamp = ReadBE32(rtp + 4);
  p.ssrc = ReadBE32(rtp + 8);
  const uint32_t headerBytes = kUdpHeader + kRtpHeader + 4u * p.csrcCount;
  if (rtpOffset + kRtpHeader + 4u * p.csrcCount > length) return 0;
  for (uint32_t k = 0; k < p.csrcCount; ++k) p.csrc[k] = ReadBE32(rtp + kRtpHeader + 4 * k);
  p.payloadLength = p.udpLength >= headerBytes ? p.udpLength - headerBytes : 0;
  if (p.rtpVersion != 2) return 0;
  return rtpOffset + kRtpHeader + 4u * p.csrcCount;
}

}  // namespace fennik
