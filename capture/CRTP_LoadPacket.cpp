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
constexpr uint16_t kEthertypeIpv6 = 0x86DD;
constexpr uint32_t kIpv6Header = 40;
constexpr uint16_t kEthertypeVlan = 0x8100;     // IEEE 802.1Q customer tag
constexpr uint16_t kEthertypeQinQ = 0x88A8;     // IEEE 802.1ad service tag
constexpr uint16_t kEthertypeQinQOld = 0x9100;  // pre-standard service tag, still in use
constexpr uint32_t kVlanTag = 4;
constexpr uint32_t kMaxVlanTags = 8;
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

uint64_t PayloadDigest(const uint8_t* data, uint32_t length) {
  // Eight bytes a step: every packet of the analysis pass is digested, and a byte-wise loop
  // was a quarter of the pass's time.
  uint64_t h = 0xCBF29CE484222325ull ^ length;
  uint32_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    h = (h ^ word) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 32;
  }
  for (; i < length; ++i) h = (h ^ data[i]) * 0x100000001B3ull;
  return h;
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
uint32_t CRTP_LoadPacket::LinkHeader(const uint8_t* rec, uint32_t n, uint32_t f, uint32_t linkType,
                                     PacketRecord& p) {
  // VLAN tags (802.1Q, and 802.1ad QinQ stacks) between the link header and its payload
  // are stepped over: `at` is the offset of an ethertype field.
  auto skipTags = [&](uint32_t at) -> uint32_t {
    p.ethertype = ReadBE16(rec + at);
    for (uint32_t k = 0; k < kMaxVlanTags; ++k) {
      if (p.ethertype != kEthertypeVlan && p.ethertype != kEthertypeQinQ &&
          p.ethertype != kEthertypeQinQOld) {
        break;
      }
      if (at + 2 + kVlanTag > n) return 0;
      if (p.vlanCount < 2) p.vlanIds[p.vlanCount] = ReadBE16(rec + at + 2) & 0x0FFF;
      ++p.vlanCount;
      at += kVlanTag;
      p.ethertype = ReadBE16(rec + at);
    }
    return p.ethertype == kEthertypeIpv4 || p.ethertype == kEthertypeIpv6 ? at + 2 : 0;
  };
  auto ethernet = [&]() -> uint32_t {
    if (f + kEthernetHeader > n) return 0;
    std::memcpy(p.destinationMac, rec + f, 6);
    std::memcpy(p.sourceMac, rec + f + 6, 6);
    return skipTags(f + 12);
  };
  // The address family: 2 is AF_INET everywhere; AF_INET6 is 10 (Linux), 24, 28 or 30
  // (the BSDs, macOS), taken only where the link type says the header is there.
  auto loopback = [&](bool eitherOrder) -> uint32_t {
    if (f + kLoopbackHeader > n) return 0;
    auto known = [&](uint32_t family) {
      return family == 2 || (eitherOrder && (family == 10 || family == 24 || family == 28 || family == 30));
    };
    const bool little = known(ReadLE32(rec + f));
    const bool big = known(ReadBE32(rec + f));
    return (little || (eitherOrder && big)) ? f + kLoopbackHeader : 0;
  };
  switch (linkType) {
    case kLinkEthernet: return ethernet();
    case kLinkNull: return loopback(true);
    case kLinkLoop: return loopback(true);
    case kLinkRaw: return f < n && ((rec[f] >> 4) == 4 || (rec[f] >> 4) == 6) ? f : 0;
    case kLinkIpv4: return f < n && (rec[f] >> 4) == 4 ? f : 0;
    case kLinkIpv6: return f < n && (rec[f] >> 4) == 6 ? f : 0;
    case kLinkLinuxSll:  // packet type(2) ARPHRD(2) address length(2) address(8) protocol(2)
      if (f + 16 > n) return 0;
      return skipTags(f + 14);
    case kLinkLinuxSll2:  // protocol(2) reserved(2) interface(4) ARPHRD(2) type(1) length(1) address(8)
      if (f + 20 > n) return 0;
      p.ethertype = ReadBE16(rec + f);
      return p.ethertype == kEthertypeIpv4 || p.ethertype == kEthertypeIpv6 ? f + 20 : 0;
    default:
      if (f + kLoopbackHeader > n) return 0;
      return loopback(false) ? f + kLoopbackHeader : ethernet();
  }
}

uint32_t CRTP_LoadPacket::Decode(const uint8_t* rec, uint32_t n, uint32_t f, PacketRecord& p,
                                 uint32_t linkType, bool sdpSearch) {
  // The CSRC list is filled up to the CSRC count only; everything before it is cleared.
  std::memset(&p, 0, offsetof(PacketRecord, csrc));
  const uint32_t i = LinkHeader(rec, n, f, linkType, p);
  if (i == 0 || i >= n) return 0;
  // The link's protocol field decides where it has one (loopback and raw links: the
  // version nibble); a packet that contradicts it is not decoded.
  const bool v6 = p.ethertype == kEthertypeIpv6 || (p.ethertype == 0 && (rec[i] >> 4) == 6);
  if (v6 && (rec[i] >> 4) != 6) return 0;
  uint32_t t = 0;
  if (v6) {
    t = Ipv6Header(rec, n, i, p, sdpSearch);
    if (t == 0) return 0;
  } else {
    t = Ipv4Header(rec, n, i, p, sdpSearch);
    if (t == 0) return 0;
  }
  return Transport(rec, n, t, p, sdpSearch);
}

// IPv4: the transport header follows the options, if any. Returns its offset, or 0.
uint32_t CRTP_LoadPacket::Ipv4Header(const uint8_t* rec, uint32_t n, uint32_t i, PacketRecord& p,
                                     bool sdpSearch) {
  if (i + kIpv4Header >= n) return 0;
  const uint8_t* ip = rec + i;
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
  const uint32_t t = i + 4u * p.ihl;
  if (t >= n) return 0;
  // A fragment other than the first carries no transport header: its bytes continue a
  // datagram (often the SDP of a large SIP message), never an RTP packet.
  if (p.fragmentOffset != 0) {
    if (sdpSearch) SearchSdp(rec + t, n - t);
    return 0;
  }
  return t;
}

// IPv6 (RFC 8200): the fixed header, then extension headers up to the transport header.
// Hop-by-hop, routing, destination options and fragment headers are stepped over; a
// fragment other than the first ends the walk (no transport header), and so does any
// header the walk cannot step over (ESP, no next header, unknown).
uint32_t CRTP_LoadPacket::Ipv6Header(const uint8_t* rec, uint32_t n, uint32_t i, PacketRecord& p,
                                     bool sdpSearch) {
  if (i + kIpv6Header >= n) return 0;
  const uint8_t* ip = rec + i;
  p.ipVersion = 6;
  p.trafficClass = static_cast<uint8_t>((ReadBE16(ip) >> 4) & 0xFF);
  p.flowLabel = ReadBE32(ip) & 0xFFFFF;
  p.ipv6PayloadLength = ReadBE16(ip + 4);
  p.nextHeader = ip[6];
  p.hopLimit = ip[7];
  p.sourceAddress = InternIpv6(ip + 8);
  p.destinationAddress = InternIpv6(ip + 24);
  if (p.sourceAddress == kNoIpHandle || p.destinationAddress == kNoIpHandle) return 0;
  uint8_t next = ip[6];
  uint32_t at = i + kIpv6Header;
  for (int k = 0; k < 16; ++k) {
    if (next != 0 && next != 43 && next != 44 && next != 60) break;
    if (at + 8 > n) return 0;
    const uint8_t following = rec[at];
    uint32_t length = 8u * (rec[at + 1] + 1u);
    if (next == 44) {  // fragment header: always 8 octets
      length = 8;
      p.fragmentOffset = ReadBE16(rec + at + 2) >> 3;
      p.flags = rec[at + 3] & 1;
      p.identification = static_cast<uint16_t>(ReadBE32(rec + at + 4));
      if (p.fragmentOffset != 0) {
        if (sdpSearch && at + 8 < n) SearchSdp(rec + at + 8, n - at - 8);
        return 0;
      }
    }
    next = following;
    at += length;
    ++p.extensionHeaders;
  }
  p.protocol = next;
  return at < n ? at : 0;
}

// UDP (and RTP in it), or TCP for the SDP search; `t` is the transport header's offset.
uint32_t CRTP_LoadPacket::Transport(const uint8_t* rec, uint32_t n, uint32_t t, PacketRecord& p,
                                    bool sdpSearch) {
  if (p.protocol == kProtocolTcp) {
    if (t + 13 > n) return 0;
    uint32_t payload = t + 4u * (rec[t + 12] >> 4);
    if (payload >= n || n - payload < 4) return 0;
    if (sdpSearch) SearchSdp(rec + payload, n - payload);
    return 0;  // a TCP segment is never an RTP packet
  }
  if (p.protocol != kProtocolUdp) return 0;
  const uint32_t u = t + kUdpHeader;
  if (u >= n) return 0;
  p.sourcePort = ReadBE16(rec + t);
  p.destinationPort = ReadBE16(rec + t + 2);
  p.udpLength = ReadBE16(rec + t + 4);
  p.udpChecksum = ReadBE16(rec + t + 6);
  if (sdpSearch) SearchSdp(rec + u, n - u);

  if (p.sourcePort < kLowestRtpPort || p.destinationPort < kLowestRtpPort) return 0;
  if (u + 1 < n && IsRtcpPacketType(rec[u + 1])) return 0;
  // The fixed header and the CSRC list must lie inside the record.
  if (u + kRtpHeader > n) return 0;
  const uint8_t* rtp = rec + u;
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
  if (u + kRtpHeader + 4u * p.csrcCount > n) return 0;
  for (uint32_t k = 0; k < p.csrcCount; ++k) p.csrc[k] = ReadBE32(rtp + kRtpHeader + 4 * k);
  p.payloadLength = p.udpLength >= headerBytes ? p.udpLength - headerBytes : 0;
  if (p.rtpVersion != 2) return 0;
  const uint32_t payload = u + kRtpHeader + 4u * p.csrcCount;
  MediaBounds(rec, n, payload, p);
  return payload;
}

// The header extension (RFC 3550 5.3.1) follows the CSRC list inside the payload that the
// UDP length announces; the padding count is the datagram's last octet. Either is removed
// from the media only when it is consistent with the UDP length, so a malformed packet
// loses no bytes (its media length is 0 when the extension runs past the datagram).
void CRTP_LoadPacket::MediaBounds(const uint8_t* rec, uint32_t n, uint32_t payload, PacketRecord& p) {
  uint32_t media = payload;
  uint32_t end = payload + p.payloadLength;  // the datagram's end, from its UDP length
  p.mediaOffset = media;
  p.mediaLength = 0;
  if (p.extension) {
    if (media + 4 > end || media + 4 > n) return;
    p.extensionProfile = ReadBE16(rec + media);
    p.extensionWords = ReadBE16(rec + media + 2);
    p.extensionOffset = media + 4;
    const uint64_t after = uint64_t{media} + 4 + 4u * uint64_t{p.extensionWords};
    if (after > end) return;
    media = static_cast<uint32_t>(after);
  }
  if (p.padding && end > media && end - 1 < n) {
    const uint8_t count = rec[end - 1];
    if (count != 0 && count <= end - media) {
      p.paddingLength = count;
      end -= count;
    }
  }
  p.mediaOffset = media;
  p.mediaLength = end - media;
}

}  // namespace fennik
