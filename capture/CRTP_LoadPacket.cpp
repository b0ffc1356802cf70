#include "capture/CRTP_LoadPacket.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "base/ByteOrder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// Indexed by LinkTypeCode().
constexpr uint32_t kCodedLinkTypes[] = {kLinkUnknown, kLinkNull, kLinkEthernet, kLinkRaw, kLinkLoop,
                                        kLinkLinuxSll, kLinkIpv4, kLinkIpv6, kLinkLinuxSll2};
constexpr uint16_t kLowestRtpPort = 1000;

bool IsRtcpPacketType(uint8_t type) {
  // SR, RR, SDES, BYE, APP and XR. 205 and 206 (feedback) are not excluded.
  return (type >= 200 && type <= 204) || type == 207;
}

bool IsIpEthertype(uint16_t ethertype) {
  return ethertype == kEthertypeIpv4 || ethertype == kEthertypeIpv6;
}

}  // namespace

namespace {

inline uint64_t MixWord(uint64_t h, const uint8_t* at) {
  uint64_t word;
  std::memcpy(&word, at, 8);
  h = (h ^ word) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 32);
}

}  // namespace

uint64_t PayloadDigest(const uint8_t* data, uint32_t length) {
  // Every packet of the analysis pass is digested: four independent 64-bit lanes take 32
  // bytes a step, so the scalar multiplications overlap instead of waiting on each other.
  uint64_t h0 = 0xCBF29CE484222325ull ^ length, h1 = 0x84222325CBF29CE4ull;
  uint64_t h2 = 0x243F6A8885A308D3ull, h3 = 0x13198A2E03707344ull;
  uint32_t i = 0;
  for (; i + 32 <= length; i += 32) {
    h0 = MixWord(h0, data + i);
    h1 = MixWord(h1, data + i + 8);
    h2 = MixWord(h2, data + i + 16);
    h3 = MixWord(h3, data + i + 24);
    // Keeps the lanes in general registers: the vectorised form emulates the 64-bit
    // multiplication with three and is slower.
    __asm__("" : "+r"(h0), "+r"(h1), "+r"(h2), "+r"(h3));
  }
  for (; i + 8 <= length; i += 8) h0 = MixWord(h0, data + i);
  uint64_t h = (h0 ^ (h1 * 3) ^ (h2 * 5) ^ (h3 * 7)) * 0x9E3779B97F4A7C15ull;
  for (; i < length; ++i) h = (h ^ data[i]) * 0x100000001B3ull;
  return h ^ (h >> 29);
}

// "v=0" at any position a match may start at (0 .. available - 4). With SSE2 sixteen
// positions are tested a step by comparing the three bytes at once, so the common payload
// (speech or video bytes, many a 'v' among them) costs a few instructions per 16 bytes.
long FindSdpStart(const uint8_t* data, uint32_t available) {
  if (available < 4) return -1;
  const uint32_t starts = available - 3;
  uint32_t i = 0;
#if defined(__SSE2__)
  const __m128i v = _mm_set1_epi8('v');
  const __m128i equals = _mm_set1_epi8('=');
  const __m128i zero = _mm_set1_epi8('0');
  for (; i + 16 <= starts; i += 16) {  // reads up to byte i + 17, inside the payload
    const __m128i a = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), v);
    const __m128i b = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1)), equals);
    const __m128i c = _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 2)), zero);
    const int mask = _mm_movemask_epi8(_mm_and_si128(_mm_and_si128(a, b), c));
    if (mask != 0) return static_cast<long>(i) + __builtin_ctz(static_cast<unsigned>(mask));
  }
#endif
  for (; i < starts; ++i) {
    if (data[i] == 'v' && data[i + 1] == '=' && data[i + 2] == '0') return static_cast<long>(i);
  }
  return -1;
}

uint8_t LinkTypeCode(uint32_t linkType) {
  for (uint8_t code = 1; code < std::size(kCodedLinkTypes); ++code) {
    if (kCodedLinkTypes[code] == linkType) return code;
  }
  return 0;
}

uint32_t LinkTypeOfCode(uint8_t code) {
  return code < std::size(kCodedLinkTypes) ? kCodedLinkTypes[code] : kLinkUnknown;
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
                                     uint32_t linkType, PacketRecord& packet) {
  // VLAN tags (802.1Q, and 802.1ad QinQ stacks) between the link header and its payload
  // are stepped over: `at` is the offset of an ethertype field.
  auto skipTags = [&](uint32_t at) -> uint32_t {
    packet.ethertype = ReadBE16(record + at);
    for (uint32_t k = 0; k < kMaxVlanTags; ++k) {
      if (packet.ethertype != kEthertypeVlan && packet.ethertype != kEthertypeQinQ &&
          packet.ethertype != kEthertypeQinQOld) {
        break;
      }
      if (at + 2 + kVlanTag > length) return 0;
      if (packet.vlanCount < 2) {
        packet.vlanIds[packet.vlanCount] = ReadBE16(record + at + 2) & 0x0FFF;
      }
      ++packet.vlanCount;
      at += kVlanTag;
      packet.ethertype = ReadBE16(record + at);
    }
    return IsIpEthertype(packet.ethertype) ? at + 2 : 0;
  };
  auto ethernet = [&]() -> uint32_t {
    if (frameOffset + kEthernetHeader > length) return 0;
    std::memcpy(packet.destinationMac, record + frameOffset, 6);
    std::memcpy(packet.sourceMac, record + frameOffset + 6, 6);
    return skipTags(frameOffset + 12);
  };
  // The address family: 2 is AF_INET everywhere; AF_INET6 is 10 (Linux), 24, 28 or 30
  // (the BSDs, macOS), taken only where the link type says the header is there.
  auto loopback = [&](bool eitherOrder) -> uint32_t {
    if (frameOffset + kLoopbackHeader > length) return 0;
    auto known = [&](uint32_t family) {
      return family == 2 || (eitherOrder && (family == 10 || family == 24 || family == 28 || family == 30));
    };
    const bool little = known(ReadLE32(record + frameOffset));
    const bool big = known(ReadBE32(record + frameOffset));
    return (little || (eitherOrder && big)) ? frameOffset + kLoopbackHeader : 0;
  };
  // Raw IP links: the frame is the IP header, its version in the first nibble.
  auto ipVersionIs = [&](int version) {
    return frameOffset < length && (record[frameOffset] >> 4) == version;
  };
  switch (linkType) {
    case kLinkEthernet: return ethernet();
    case kLinkNull: return loopback(true);
    case kLinkLoop: return loopback(true);
    case kLinkRaw: return ipVersionIs(4) || ipVersionIs(6) ? frameOffset : 0;
    case kLinkIpv4: return ipVersionIs(4) ? frameOffset : 0;
    case kLinkIpv6: return ipVersionIs(6) ? frameOffset : 0;
    case kLinkLinuxSll:  // packet type(2) ARPHRD(2) address length(2) address(8) protocol(2)
      if (frameOffset + 16 > length) return 0;
      return skipTags(frameOffset + 14);
    case kLinkLinuxSll2:  // protocol(2) reserved(2) interface(4) ARPHRD(2) type(1) length(1) address(8)
      if (frameOffset + 20 > length) return 0;
      packet.ethertype = ReadBE16(record + frameOffset);
      return IsIpEthertype(packet.ethertype) ? frameOffset + 20 : 0;
    default:
      if (frameOffset + kLoopbackHeader > length) return 0;
      return loopback(false) ? frameOffset + kLoopbackHeader : ethernet();
  }
}

uint32_t CRTP_LoadPacket::Decode(const uint8_t* record, uint32_t length, uint32_t frameOffset,
                                 PacketRecord& packet, uint32_t linkType, bool sdpSearch) {
  // The CSRC list is filled up to the CSRC count only; everything before it is cleared.
  std::memset(&packet, 0, offsetof(PacketRecord, csrc));
  const uint32_t ipOffset = LinkHeader(record, length, frameOffset, linkType, packet);
  if (ipOffset == 0 || ipOffset >= length) return 0;
  // The link's protocol field decides where it has one (loopback and raw links: the
  // version nibble); a packet that contradicts it is not decoded.
  const uint8_t ipVersion = record[ipOffset] >> 4;
  const bool ipv6 = packet.ethertype == kEthertypeIpv6 || (packet.ethertype == 0 && ipVersion == 6);
  if (ipv6 && ipVersion != 6) return 0;
  uint32_t transportOffset = 0;
  if (ipv6) {
    transportOffset = Ipv6Header(record, length, ipOffset, packet, sdpSearch);
    if (transportOffset == 0) return 0;
  } else {
    transportOffset = Ipv4Header(record, length, ipOffset, packet, sdpSearch);
    if (transportOffset == 0) return 0;
  }
  return Transport(record, length, transportOffset, packet, sdpSearch);
}

// IPv4: the transport header follows the options, if any. Returns its offset, or 0.
uint32_t CRTP_LoadPacket::Ipv4Header(const uint8_t* record, uint32_t length, uint32_t ipOffset,
                                     PacketRecord& packet, bool sdpSearch) {
  if (ipOffset + kIpv4Header >= length) return 0;
  const uint8_t* ip = record + ipOffset;
  packet.ipVersion = ip[0] >> 4;
  packet.ihl = ip[0] & 0x0F;
  packet.typeOfService = ip[1];
  packet.totalLength = ReadBE16(ip + 2);
  packet.identification = ReadBE16(ip + 4);
  packet.flags = ip[6] >> 5;
  packet.fragmentOffset = ReadBE16(ip + 6) & 0x1FFF;
  packet.timeToLive = ip[8];
  packet.protocol = ip[9];
  packet.headerChecksum = ReadBE16(ip + 10);
  packet.sourceAddress = ReadBE32(ip + 12);
  packet.destinationAddress = ReadBE32(ip + 16);
  // The transport header follows the options, if any; an IHL below 5 is not IPv4.
  if (packet.ihl < 5) return 0;
  const uint32_t transportOffset = ipOffset + 4u * packet.ihl;
  if (transportOffset >= length) return 0;
  // A fragment other than the first carries no transport header: its bytes continue a
  // datagram (often the SDP of a large SIP message), never an RTP packet.
  if (packet.fragmentOffset != 0) {
    if (sdpSearch) SearchSdp(record + transportOffset, length - transportOffset);
    return 0;
  }
  return transportOffset;
}

// IPv6 (RFC 8200): the fixed header, then extension headers up to the transport header.
// Hop-by-hop, routing, destination options and fragment headers are stepped over; a
// fragment other than the first ends the walk (no transport header), and so does any
// header the walk cannot step over (ESP, no next header, unknown).
uint32_t CRTP_LoadPacket::Ipv6Header(const uint8_t* record, uint32_t length, uint32_t ipOffset,
                                     PacketRecord& packet, bool sdpSearch) {
  if (ipOffset + kIpv6Header >= length) return 0;
  const uint8_t* ip = record + ipOffset;
  packet.ipVersion = 6;
  packet.trafficClass = static_cast<uint8_t>((ReadBE16(ip) >> 4) & 0xFF);
  packet.flowLabel = ReadBE32(ip) & 0xFFFFF;
  packet.ipv6PayloadLength = ReadBE16(ip + 4);
  packet.nextHeader = ip[6];
  packet.hopLimit = ip[7];
  packet.sourceAddress = InternIpv6(ip + 8);
  packet.destinationAddress = InternIpv6(ip + 24);
  if (packet.sourceAddress == kNoIpHandle || packet.destinationAddress == kNoIpHandle) return 0;
  uint8_t next = ip[6];
  uint32_t at = ipOffset + kIpv6Header;
  for (int k = 0; k < 16; ++k) {
    if (next != 0 && next != 43 && next != 44 && next != 60) break;
    if (at + 8 > length) return 0;
    const uint8_t following = record[at];
    uint32_t headerLength = 8u * (record[at + 1] + 1u);
    if (next == 44) {  // fragment header: always 8 octets
      headerLength = 8;
      packet.fragmentOffset = ReadBE16(record + at + 2) >> 3;
      packet.flags = record[at + 3] & 1;
      packet.identification = static_cast<uint16_t>(ReadBE32(record + at + 4));
      if (packet.fragmentOffset != 0) {
        if (sdpSearch && at + 8 < length) SearchSdp(record + at + 8, length - at - 8);
        return 0;
      }
    }
    next = following;
    at += headerLength;
    ++packet.extensionHeaders;
  }
  packet.protocol = next;
  return at < length ? at : 0;
}

// UDP (and RTP in it), or TCP for the SDP search, at `transportOffset` in the record.
uint32_t CRTP_LoadPacket::Transport(const uint8_t* record, uint32_t length,
                                    uint32_t transportOffset, PacketRecord& packet,
                                    bool sdpSearch) {
  if (packet.protocol == kProtocolTcp) {
    if (transportOffset + 13 > length) return 0;
    uint32_t payload = transportOffset + 4u * (record[transportOffset + 12] >> 4);
    if (payload >= length || length - payload < 4) return 0;
    if (sdpSearch) SearchSdp(record + payload, length - payload);
    return 0;  // a TCP segment is never an RTP packet
  }
  if (packet.protocol != kProtocolUdp) return 0;
  const uint32_t rtpOffset = transportOffset + kUdpHeader;
  if (rtpOffset >= length) return 0;
  packet.sourcePort = ReadBE16(record + transportOffset);
  packet.destinationPort = ReadBE16(record + transportOffset + 2);
  packet.udpLength = ReadBE16(record + transportOffset + 4);
  packet.udpChecksum = ReadBE16(record + transportOffset + 6);
  // A datagram whose first byte lies in 128..191 is RTP or RTCP (the RFC 7983 ranges that
  // tell the protocols sharing a port apart) and carries no session description; every
  // other datagram is searched (SIP, SAP, a description sent bare, and others).
  if (sdpSearch && (record[rtpOffset] < 128 || record[rtpOffset] > 191)) {
    SearchSdp(record + rtpOffset, length - rtpOffset);
  }

  if (packet.sourcePort < kLowestRtpPort || packet.destinationPort < kLowestRtpPort) return 0;
  if (rtpOffset + 1 < length && IsRtcpPacketType(record[rtpOffset + 1])) {
    packet.rtcpOffset = rtpOffset;  // not an RTP packet; the caller may parse it as RTCP
    return 0;
  }
  // The fixed header and the CSRC list must lie inside the record.
  if (rtpOffset + kRtpHeader > length) return 0;
  const uint8_t* rtp = record + rtpOffset;
  packet.rtpVersion = rtp[0] >> 6;
  packet.padding = (rtp[0] >> 5) & 1;
  packet.extension = (rtp[0] >> 4) & 1;
  packet.csrcCount = rtp[0] & 0x0F;
  packet.marker = rtp[1] >> 7;
  packet.payloadType = rtp[1] & 0x7F;
  packet.sequenceNumber = ReadBE16(rtp + 2);
  packet.timestamp = ReadBE32(rtp + 4);
  packet.ssrc = ReadBE32(rtp + 8);
  const uint32_t headerBytes = kUdpHeader + kRtpHeader + 4u * packet.csrcCount;
  if (rtpOffset + kRtpHeader + 4u * packet.csrcCount > length) return 0;
  for (uint32_t k = 0; k < packet.csrcCount; ++k) {
    packet.csrc[k] = ReadBE32(rtp + kRtpHeader + 4 * k);
  }
  packet.payloadLength = packet.udpLength >= headerBytes ? packet.udpLength - headerBytes : 0;
  if (packet.rtpVersion != 2) return 0;
  const uint32_t payload = rtpOffset + kRtpHeader + 4u * packet.csrcCount;
  MediaBounds(record, length, payload, packet);
  return payload;
}

// The header extension (RFC 3550 5.3.1) follows the CSRC list inside the payload that the
// UDP length announces; the padding count is the datagram's last octet. Either is removed
// from the media only when it is consistent with the UDP length, so a malformed packet
// loses no bytes (its media length is 0 when the extension runs past the datagram).
void CRTP_LoadPacket::MediaBounds(const uint8_t* record, uint32_t length, uint32_t payload,
                                  PacketRecord& packet) {
  uint32_t media = payload;
  uint32_t end = payload + packet.payloadLength;  // the datagram's end, from its UDP length
  packet.mediaOffset = media;
  packet.mediaLength = 0;
  if (packet.extension) {
    if (media + 4 > end || media + 4 > length) return;
    packet.extensionProfile = ReadBE16(record + media);
    packet.extensionWords = ReadBE16(record + media + 2);
    packet.extensionOffset = media + 4;
    const uint64_t after = uint64_t{media} + 4 + 4u * uint64_t{packet.extensionWords};
    if (after > end) return;
    media = static_cast<uint32_t>(after);
  }
  if (packet.padding && end > media && end - 1 < length) {
    const uint8_t count = record[end - 1];
    if (count != 0 && count <= end - media) {
      packet.paddingLength = count;
      end -= count;
    }
  }
  packet.mediaOffset = media;
  packet.mediaLength = end - media;
}

}  // namespace fennik
