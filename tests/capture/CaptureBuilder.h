// Builds small captures in memory for the capture tests: frames (Ethernet or loopback,
// IPv4, UDP or TCP, RTP) and classic pcap / pcapng files around them, in either byte order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace fennik::test {

using Bytes = std::vector<uint8_t>;

inline void PutBE(Bytes& b, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutLE(Bytes& b, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Put(Bytes& b, uint64_t v, int bytes, bool bigEndian) {
  bigEndian ? PutBE(b, v, bytes) : PutLE(b, v, bytes);
}
inline uint32_t Ip(int a, int b, int c, int d) {
  return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | uint32_t(d);
}

struct RtpFields {
  uint8_t payloadType = 0;
  uint8_t marker = 0;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0x11223344;
  uint8_t version = 2;
  std::vector<uint32_t> csrc;
};

// RTP header + payload.
inline Bytes RtpPacket(const RtpFields& f, const Bytes& payload) {
  Bytes b;
  b.push_back(static_cast<uint8_t>((f.version << 6) | f.csrc.size()));  // V P X CC
  b.push_back(static_cast<uint8_t>((f.marker << 7) | f.payloadType));   // M PT
  PutBE(b, f.sequence, 2);
  PutBE(b, f.timestamp, 4);
  PutBE(b, f.ssrc, 4);
  for (uint32_t c : f.csrc) PutBE(b, c, 4);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

enum class Link { kEthernet, kLoopback, kVlan };

// Link + IPv4 (20 bytes) + UDP (8 bytes) or TCP (20 bytes) + data.
inline Bytes IpFrame(uint32_t src, uint32_t dst, uint16_t sport, uint16_t dport, const Bytes& data,
                     uint8_t protocol = 17, Link link = Link::kEthernet) {
  Bytes b;
  if (link == Link::kLoopback) {
    PutLE(b, 2, 4);  // AF_INET, host order of the capturing machine
  } else {
    for (int i = 0; i < 6; ++i) b.push_back(0x02);  // destination MAC
    for (int i = 0; i < 6; ++i) b.push_back(0x04);  // source MAC
    if (link == Link::kVlan) {
      PutBE(b, 0x8100, 2);  // 802.1Q tag
      PutBE(b, 0x0064, 2);  // VLAN 100
    }
    PutBE(b, 0x0800, 2);  // ethertype IPv4
  }
  const size_t transport = protocol == 6 ? 20 : 8;
  b.push_back(0x45);                           // version 4, IHL 5
  b.push_back(0x00);                           // TOS
  PutBE(b, 20 + transport + data.size(), 2);   // total length
  PutBE(b, 0x1234, 2);                         // identification
  PutBE(b, 0x4000, 2);                         // flags DF, fragment offset 0
  b.push_back(64);                             // TTL
  b.push_back(protocol);
  PutBE(b, 0, 2);                              // checksum (not verified)
  PutBE(b, src, 4);
  PutBE(b, dst, 4);
  PutBE(b, sport, 2);
  PutBE(b, dport, 2);
  if (protocol == 6) {
    PutBE(b, 1, 4);      // sequence
    PutBE(b, 0, 4);      // acknowledgement
    b.push_back(0x50);   // data offset 5 words
    b.push_back(0x18);   // PSH ACK
    PutBE(b, 65535, 2);  // window
    PutBE(b, 0, 4);      // checksum, urgent pointer
  } else {
    PutBE(b, 8 + data.size(), 2);  // UDP length
    PutBE(b, 0, 2);                // checksum
  }
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

struct Frame {
  int64_t timestampUs;
  Bytes bytes;
};

inline Bytes ClassicPcap(const std::vector<Frame>& frames, bool bigEndian = false,
                         bool nanosecond = false) {
  Bytes b;
  Put(b, nanosecond ? 0xA1B23C4D : 0xA1B2C3D4, 4, bigEndian);  // magic
  Put(b, 2, 2, bigEndian);                                      // major version
  Put(b, 4, 2, bigEndian);                                      // minor version
  Put(b, 0, 4, bigEndian);                                      // time-zone correction
  Put(b, 0, 4, bigEndian);                                      // accuracy
  Put(b, 65535, 4, bigEndian);                                  // snapshot length
  Put(b, 1, 4, bigEndian);                                      // link type Ethernet
  for (const Frame& f : frames) {
    Put(b, static_cast<uint64_t>(f.timestampUs / 1000000), 4, bigEndian);
    uint64_t fraction = static_cast<uint64_t>(f.timestampUs % 1000000);
    Put(b, nanosecond ? fraction * 1000 : fraction, 4, bigEndian);
    Put(b, f.bytes.size(), 4, bigEndian);  // captured length
    Put(b, f.bytes.size(), 4, bigEndian);  // original length
    b.insert(b.end(), f.bytes.begin(), f.bytes.end());
  }
  return b;
}

// pcapng: Section Header, one Interface Description (with if_tsresol unless it is 6) and one
// Enhanced Packet Block per frame, timestamps in units of the resolution.
inline Bytes Pcapng(const std::vector<Frame>& frames, bool bigEndian = false, uint8_t tsresol = 6) {
  Bytes b;
  Put(b, 0x0A0D0D0A, 4, bigEndian);  // SHB type
  Put(b, 28, 4, bigEndian);          // total length
  Put(b, 0x1A2B3C4D, 4, bigEndian);  // byte-order magic
  Put(b, 1, 2, bigEndian);           // major
  Put(b, 0, 2, bigEndian);           // minor
  Put(b, ~uint64_t{0}, 8, bigEndian);  // section length unknown
  Put(b, 28, 4, bigEndian);
  const bool option = tsresol != 6;
  const uint32_t idbLength = option ? 32 : 20;
  Put(b, 1, 4, bigEndian);            // IDB type
  Put(b, idbLength, 4, bigEndian);
  Put(b, 1, 2, bigEndian);            // link type Ethernet
  Put(b, 0, 2, bigEndian);            // reserved
  Put(b, 0, 4, bigEndian);            // snap length
  if (option) {
    Put(b, 9, 2, bigEndian);          // if_tsresol
    Put(b, 1, 2, bigEndian);
    b.insert(b.end(), {tsresol, 0, 0, 0});
    Put(b, 0, 4, bigEndian);          // opt_endofopt
  }
  Put(b, idbLength, 4, bigEndian);
  for (const Frame& f : frames) {
    uint64_t ticks;
    if (tsresol & 0x80) {
      ticks = static_cast<uint64_t>(static_cast<__int128>(f.timestampUs) << (tsresol & 0x7F)) / 1000000;
    } else {
      ticks = static_cast<uint64_t>(f.timestampUs);
      for (int i = 6; i < tsresol; ++i) ticks *= 10;
    }
    const uint32_t padded = static_cast<uint32_t>((f.bytes.size() + 3) & ~size_t{3});
    const uint32_t length = 32 + padded;
    Put(b, 6, 4, bigEndian);          // EPB type
    Put(b, length, 4, bigEndian);
    Put(b, 0, 4, bigEndian);          // interface id
    Put(b, ticks >> 32, 4, bigEndian);
    Put(b, ticks & 0xFFFFFFFF, 4, bigEndian);
    Put(b, f.bytes.size(), 4, bigEndian);  // captured length
    Put(b, f.bytes.size(), 4, bigEndian);  // original length
    b.insert(b.end(), f.bytes.begin(), f.bytes.end());
    b.resize(b.size() + (padded - f.bytes.size()), 0);
    Put(b, length, 4, bigEndian);
  }
  return b;
}

// A temporary file holding `bytes`, removed with the object.
class TempFile {
 public:
  explicit TempFile(const Bytes& bytes, const char* suffix = ".pcap") : path_(std::string("capture") + suffix) {
    WriteFile(path_.Path(), std::string(bytes.begin(), bytes.end()));
  }
  const std::string& Path() const { return path_.Path(); }

 private:
  TempPath path_;
};

// A G.711-like stream: `count` packets 20 ms apart, 160-byte payloads, timestamps +160.
inline std::vector<Frame> AudioStream(uint32_t src, uint16_t sport, uint32_t dst, uint16_t dport,
                                      int count, int64_t startUs = 1'700'000'000'000'000,
                                      uint8_t payloadType = 0, uint16_t firstSeq = 100) {
  std::vector<Frame> frames;
  for (int i = 0; i < count; ++i) {
    RtpFields r;
    r.payloadType = payloadType;
    r.sequence = static_cast<uint16_t>(firstSeq + i);
    r.timestamp = 8000 + 160u * static_cast<uint32_t>(i);
    Bytes payload(160, static_cast<uint8_t>(0xD5 ^ i));
    frames.push_back({startUs + 20000LL * i, IpFrame(src, dst, sport, dport, RtpPacket(r, payload))});
  }
  return frames;
}

}  // namespace fennik::test
