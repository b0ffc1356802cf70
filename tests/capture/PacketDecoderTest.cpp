// Decoding one record into its header fields, RTP acceptance and the SDP search.
#include "capture/CRTP_LoadPacket.h"

#include <gtest/gtest.h>

#include "tests/capture/CaptureBuilder.h"

namespace fennik::test {

// A classic record: 16 bytes of record header (zeros do for the decoder) + the frame.
Bytes Record(const Bytes& frame) {
  Bytes r(16, 0);
  r.insert(r.end(), frame.begin(), frame.end());
  return r;
}

}  // namespace fennik::test

namespace fennik {
namespace {

using namespace fennik::test;

uint32_t DecodeFrame(CRTP_LoadPacket& d, const Bytes& frame, PacketRecord& p) {
  Bytes r = Record(frame);
  return d.Decode(r.data(), static_cast<uint32_t>(r.size()), 16, p);
}

const uint32_t kSrc = Ip(10, 0, 0, 1), kDst = Ip(10, 0, 0, 2);

TEST(PacketDecoder, EthernetRtpPacketFields) {
  RtpFields f;
  f.payloadType = 8;
  f.marker = 1;
  f.sequence = 0xBEEF;
  f.timestamp = 0x01020304;
  f.ssrc = 0xCAFEBABE;
  CRTP_LoadPacket d;
  PacketRecord p;
  uint32_t offset = DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, RtpPacket(f, Bytes(160, 1))), p);
  EXPECT_EQ(offset, 16u + 14 + 20 + 8 + 12);
  EXPECT_EQ(p.ethertype, 0x0800);
  EXPECT_EQ(p.sourceMac[0], 0x04);
  EXPECT_EQ(p.ipVersion, 4);
  EXPECT_EQ(p.ihl, 5);
  EXPECT_EQ(p.flags, 2);  // DF
  EXPECT_EQ(p.timeToLive, 64);
  EXPECT_EQ(p.sourceAddress, kSrc);
  EXPECT_EQ(p.destinationPort, 6000);
  EXPECT_EQ(p.udpLength, 8 + 12 + 160);
  EXPECT_EQ(p.marker, 1);
  EXPECT_EQ(p.payloadType, 8);
  EXPECT_EQ(p.sequenceNumber, 0xBEEF);
  EXPECT_EQ(p.timestamp, 0x01020304u);
  EXPECT_EQ(p.ssrc, 0xCAFEBABEu);
  EXPECT_EQ(p.payloadLength, 160u);
  EXPECT_STREQ(FormatIpv4(kSrc).text, "10.0.0.1");
}

TEST(PacketDecoder, LoopbackFramesHaveNoMacAndVlanTagsAreSteppedOver) {
  CRTP_LoadPacket d;
  PacketRecord p;
  RtpFields f;
  Bytes rtp = RtpPacket(f, Bytes(20, 0));
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, rtp, 17, Link::kLoopback), p),
            16u + 4 + 20 + 8 + 12);
  EXPECT_EQ(p.ethertype, 0);
  EXPECT_EQ(p.sourceMac[0], 0);
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, rtp, 17, Link::kVlan), p),
            16u + 14 + 4 + 20 + 8 + 12);
  EXPECT_EQ(p.vlanCount, 1);
  EXPECT_EQ(p.ethertype, 0x0800);
}

TEST(PacketDecoder, PortsBelow1000AndRtcpAreNotRtp) {
  CRTP_LoadPacket d;
  PacketRecord p;
  RtpFields f;
  Bytes rtp = RtpPacket(f, Bytes(20, 0));
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 999, rtp), p), 0u);
  EXPECT_NE(DecodeFrame(d, IpFrame(kSrc, kDst, 1000, 1000, rtp), p), 0u);
  for (uint8_t type : {200, 201, 202, 203, 204, 207}) {
    Bytes rtcp = rtp;
    rtcp[1] = type;
    EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5005, 6001, rtcp), p), 0u) << int(type);
  }
  // Feedback messages (205, 206) are not excluded: they read as marker 1, PT 77 / 78.
  Bytes feedback = rtp;
  feedback[1] = 205;
  EXPECT_NE(DecodeFrame(d, IpFrame(kSrc, kDst, 5005, 6001, feedback), p), 0u);
  EXPECT_EQ(p.marker, 1);
  EXPECT_EQ(p.payloadType, 77);
  Bytes version1 = rtp;
  version1[0] = 0x40;
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, version1), p), 0u);
}

TEST(PacketDecoder, CsrcListMovesThePayloadAndMustFitTheRecord) {
  CRTP_LoadPacket d;
  PacketRecord plain, withCsrc;
  RtpFields f;
  uint32_t base = DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, RtpPacket(f, Bytes(40, 0))), plain);
  f.csrc = {1, 2, 3};
  uint32_t moved = DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, RtpPacket(f, Bytes(28, 0))), withCsrc);
  EXPECT_EQ(moved, base + 12);
  EXPECT_EQ(withCsrc.csrcCount, 3);
  EXPECT_EQ(withCsrc.csrc[2], 3u);
  EXPECT_EQ(withCsrc.payloadLength, 28u);

  // A CSRC count of 15 in a packet that holds only the fixed header: rejected, no read past.
  Bytes frame = IpFrame(kSrc, kDst, 5004, 6000, RtpPacket(RtpFields{}, {}));
  frame[14 + 20 + 8] = 0x8F;
  Bytes record = Record(frame);
  std::vector<uint8_t> exact(record.begin(), record.end());  // heap block of exact size
  PacketRecord p;
  EXPECT_EQ(d.Decode(exact.data(), static_cast<uint32_t>(exact.size()), 16, p), 0u);
}

TEST(PacketDecoder, PayloadLengthComesFromTheUdpLength) {
  CRTP_LoadPacket d;
  PacketRecord p;
  Bytes frame = IpFrame(kSrc, kDst, 5004, 6000, RtpPacket(RtpFields{}, Bytes(10, 0)));
  frame[14 + 20 + 4] = 0;
  frame[14 + 20 + 5] = 19;  // UDP length below 20
  DecodeFrame(d, frame, p);
  EXPECT_EQ(p.payloadLength, 0u);
}

TEST(PacketDecoder, TooShortFramesAreRejectedWithoutReadingPastTheRecord) {
  CRTP_LoadPacket d;
  Bytes full = IpFrame(kSrc, kDst, 5004, 6000, RtpPacket(RtpFields{}, Bytes(4, 0)));
  for (size_t cut = 0; cut < full.size(); ++cut) {
    Bytes record = Record(Bytes(full.begin(), full.begin() + static_cast<long>(cut)));
    std::vector<uint8_t> exact(record.begin(), record.end());
    PacketRecord p;
    uint32_t r = d.Decode(exact.data(), static_cast<uint32_t>(exact.size()), 16, p);
    // A payload offset at the record end means "no payload": callers treat it as not RTP.
    EXPECT_TRUE(r == 0 || r <= exact.size()) << cut;
  }
}

std::string SdpBody(int port) {
  return "v=0\r\no=- 1 1 IN IP4 10.0.0.1\r\ns=-\r\nc=IN IP4 10.0.0.1\r\nt=0 0\r\nm=audio " +
         std::to_string(port) + " RTP/AVP 96\r\na=rtpmap:96 PCMA/8000\r\n";
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(PacketDecoder, SdpInSipOverUdpAndTcpIsParsedAndSipIsNotRtp) {
  CRTP_LoadPacket d;
  PacketRecord p;
  std::string sip = "INVITE sip:b@10.0.0.2 SIP/2.0\r\nContent-Type: application/sdp\r\n\r\n";
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5060, 5060, Text(sip + SdpBody(4000))), p), 0u);
  EXPECT_EQ(d.Descriptions().Size(), 1u);
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 40000, 5060, Text(sip + SdpBody(4002)), 6), p), 0u);
  ASSERT_EQ(d.Descriptions().Size(), 2u);
  EXPECT_EQ(d.Descriptions().At(0).mediaPort, 4002u);  // newest first
  EXPECT_EQ(d.Descriptions().At(1).connectionAddress, kSrc);
}

TEST(PacketDecoder, SdpStartSearch) {
  auto find = [](const std::string& s) {
    return FindSdpStart(reinterpret_cast<const uint8_t*>(s.data()), static_cast<uint32_t>(s.size()));
  };
  EXPECT_EQ(find("xxv=0\r\n"), 2);
  EXPECT_EQ(find("abcv=0"), -1);   // nothing after the version: not found
  EXPECT_EQ(find("v=0x"), 0);
  EXPECT_EQ(find("vv=v=1v=0\n"), 6);
  EXPECT_EQ(find("v="), -1);
  // Across and after the 16-position steps, and the last position a match may start at.
  for (size_t at : {0u, 14u, 15u, 16u, 17u, 31u, 33u, 40u}) {
    std::string s(44, 'v');
    s.replace(at, 3, "v=0");
    EXPECT_EQ(find(s), at + 3 < s.size() ? static_cast<long>(at) : -1) << at;
  }
}

}  // namespace
}  // namespace fennik

namespace fennik {
namespace {

using namespace fennik::test;

TEST(PacketDecoder, TheFilesLinkTypeDecidesTheLinkHeader) {
  CRTP_LoadPacket d;
  PacketRecord p;
  RtpFields f;
  Bytes ip = IpFrame(Ip(1, 2, 3, 4), Ip(5, 6, 7, 8), 5004, 6000, RtpPacket(f, Bytes(20, 7)),
                     17, Link::kLoopback);
  ip.erase(ip.begin(), ip.begin() + 4);  // the bare IPv4 packet
  const uint32_t rtpAfterIp = 20 + 8 + 12;

  // An Ethernet frame whose destination MAC begins 02 00 00 00 (locally administered) is
  // Ethernet when the file says so; without a link type it reads as a loopback header.
  Bytes ethernet = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x08, 0x00};
  ethernet.insert(ethernet.end(), ip.begin(), ip.end());
  Bytes record = Record(ethernet);
  EXPECT_EQ(d.Decode(record.data(), uint32_t(record.size()), 16, p, kLinkEthernet), 16 + 14 + rtpAfterIp);
  EXPECT_EQ(p.sourceAddress, Ip(1, 2, 3, 4));
  EXPECT_EQ(d.Decode(record.data(), uint32_t(record.size()), 16, p), 0u);

  // Linux cooked capture (tcpdump -i any): 16-byte header, protocol in its last two bytes.
  Bytes sll = {0x00, 0x00, 0x00, 0x01, 0x00, 0x06, 1, 2, 3, 4, 5, 6, 0, 0, 0x08, 0x00};
  sll.insert(sll.end(), ip.begin(), ip.end());
  record = Record(sll);
  EXPECT_EQ(d.Decode(record.data(), uint32_t(record.size()), 16, p, kLinkLinuxSll), 16 + 16 + rtpAfterIp);
  sll[14] = 0x86;  // IPv6
  sll[15] = 0xDD;
  record = Record(sll);
  EXPECT_EQ(d.Decode(record.data(), uint32_t(record.size()), 16, p, kLinkLinuxSll), 0u);

  // Raw IP: the frame is the packet.
  record = Record(ip);
  EXPECT_EQ(d.Decode(record.data(), uint32_t(record.size()), 16, p, kLinkRaw), 16 + rtpAfterIp);

  // BSD loopback (NULL) written on a big-endian host.
  Bytes null = {0, 0, 0, 2};
  null.insert(null.end(), ip.begin(), ip.end());
  record = Record(null);
  EXPECT_EQ(d.Decode(record.data(), uint32_t(record.size()), 16, p, kLinkNull), 16 + 4 + rtpAfterIp);
  // The packet table's four-bit code gives every known type back; others decode as unknown.
  for (uint32_t type : {kLinkNull, kLinkEthernet, kLinkRaw, kLinkLoop, kLinkLinuxSll, kLinkIpv4, kLinkIpv6,
                        kLinkLinuxSll2}) {
    EXPECT_EQ(LinkTypeOfCode(LinkTypeCode(type)), type);
  }
  EXPECT_EQ(LinkTypeOfCode(LinkTypeCode(105)), kLinkUnknown);
}

TEST(PacketDecoder, IpOptionsMoveTheTransportHeader) {
  CRTP_LoadPacket d;
  PacketRecord p;
  Bytes frame = IpFrame(Ip(1, 2, 3, 4), Ip(5, 6, 7, 8), 5004, 6000, RtpPacket(RtpFields{}, Bytes(20, 7)));
  // IHL 6: four bytes of options (router alert) after the 20-byte header.
  frame[14] = 0x46;
  const Bytes option = {0x94, 0x04, 0x00, 0x00};
  frame.insert(frame.begin() + 14 + 20, option.begin(), option.end());
  Bytes record = Record(frame);
  EXPECT_EQ(d.Decode(record.data(), uint32_t(record.size()), 16, p, kLinkEthernet),
            16u + 14 + 24 + 8 + 12);
  EXPECT_EQ(p.sourcePort, 5004);
  frame[14] = 0x44;  // IHL below 5 is not a valid header
  record = Record(frame);
  EXPECT_EQ(d.Decode(record.data(), uint32_t(record.size()), 16, p, kLinkEthernet), 0u);
}

}  // namespace
}  // namespace fennik

namespace fennik {
namespace {

using namespace fennik::test;

// The header extension and padding bound the media a codec gets; fields that do not fit
// the datagram remove nothing (the media length is 0 when the extension overruns it).
TEST(PacketDecoder, ExtensionAndPaddingBoundTheMedia) {
  CRTP_LoadPacket d;
  PacketRecord p;
  RtpFields f;
  // X and P set: extension 0xBEDE with 1 word, 6 media octets, 2 octets of padding.
  Bytes rtp = RtpPacket(f, {0xBE, 0xDE, 0, 1, 0x10, 0x7F, 0, 0, 1, 2, 3, 4, 5, 6, 0, 2});
  rtp[0] |= 0x30;
  const uint32_t payload = DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, rtp), p);
  ASSERT_EQ(payload, 16u + 14 + 20 + 8 + 12);
  EXPECT_EQ(p.payloadLength, 16u);  // the listed length keeps extension and padding
  EXPECT_EQ(p.extensionProfile, 0xBEDE);
  EXPECT_EQ(p.extensionWords, 1);
  EXPECT_EQ(p.extensionOffset, payload + 4);
  EXPECT_EQ(p.paddingLength, 2);
  EXPECT_EQ(p.mediaOffset, payload + 8);
  EXPECT_EQ(p.mediaLength, 6u);

  // Padding count 0, or larger than what follows the extension: nothing removed.
  rtp.back() = 0;
  DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, rtp), p);
  EXPECT_EQ(p.paddingLength, 0);
  EXPECT_EQ(p.mediaLength, 8u);
  rtp.back() = 9;
  DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, rtp), p);
  EXPECT_EQ(p.mediaLength, 8u);
  // An extension length running past the datagram: still RTP, but no media.
  rtp[15] = 200;
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, rtp), p), payload);
  EXPECT_EQ(p.mediaLength, 0u);
  EXPECT_EQ(p.payloadLength, 16u);
}

// A fragment other than the first continues a datagram: its first bytes are not a UDP
// header. The first fragment (offset 0, more-fragments set) is decoded.
TEST(PacketDecoder, OnlyFirstFragmentsCanBeRtp) {
  CRTP_LoadPacket d;
  PacketRecord p;
  Bytes frame = IpFrame(kSrc, kDst, 5004, 6000, RtpPacket(RtpFields{}, Bytes(40, 0)));
  frame[14 + 6] = 0x20;  // more fragments, offset 0
  frame[14 + 7] = 0x00;
  EXPECT_NE(DecodeFrame(d, frame, p), 0u);
  frame[14 + 7] = 0x05;  // offset 5 x 8 octets
  EXPECT_EQ(DecodeFrame(d, frame, p), 0u);
  EXPECT_EQ(p.fragmentOffset, 5);
}

// QinQ: an 802.1ad service tag over an 802.1Q customer tag.
TEST(PacketDecoder, StackedVlanTagsAreSteppedOver) {
  CRTP_LoadPacket d;
  PacketRecord p;
  Bytes frame = IpFrame(kSrc, kDst, 5004, 6000, RtpPacket(RtpFields{}, Bytes(20, 0)));
  const Bytes tags = {0x88, 0xA8, 0x00, 0xC8, 0x81, 0x00, 0x00, 0x14};
  frame.insert(frame.begin() + 12, tags.begin(), tags.end());
  EXPECT_EQ(DecodeFrame(d, frame, p), 16u + 14 + 8 + 20 + 8 + 12);
  EXPECT_EQ(p.vlanCount, 2);
  EXPECT_EQ(p.vlanIds[0], 200);
  EXPECT_EQ(p.vlanIds[1], 20);
  // A frame that ends inside its tags is no packet.
  frame.resize(12 + 6);
  EXPECT_EQ(DecodeFrame(d, frame, p), 0u);
}

}  // namespace
}  // namespace fennik
