// Decoding one record into its header fields, RTP acceptance and the SDP search.
#include "capture/CRTP_LoadPacket.h"

#include <gtest/gtest.h>

#include "tests/capture/CaptureBuilder.h"

namespace fennik {
namespace {

using namespace fennik::test;

// A classic record: 16 bytes of record header (zeros do for the decoder) + the frame.
Bytes Record(const Bytes& frame) {
  Bytes r(16, 0);
  r.insert(r.end(), frame.begin(), frame.end());
  return r;
}

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

TEST(PacketDecoder, LoopbackFramesHaveNoMacAndVlanFramesAreNotDecoded) {
  CRTP_LoadPacket d;
  PacketRecord p;
  RtpFields f;
  Bytes rtp = RtpPacket(f, Bytes(20, 0));
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, rtp, 17, Link::kLoopback), p),
            16u + 4 + 20 + 8 + 12);
  EXPECT_EQ(p.ethertype, 0);
  EXPECT_EQ(p.sourceMac[0], 0);
  EXPECT_EQ(DecodeFrame(d, IpFrame(kSrc, kDst, 5004, 6000, rtp, 17, Link::kVlan), p), 0u);
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
}

}  // namespace
}  // namespace fennik
