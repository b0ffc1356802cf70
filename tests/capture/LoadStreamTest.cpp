// The payload loader reading access units back from captures built in memory.
#include "capture/CRTP_LoadStream.h"

#include <gtest/gtest.h>

#include "base/CAvFile.h"
#include "tests/capture/CaptureBuilder.h"

namespace fennik {
namespace {

using namespace fennik::test;

const uint32_t kA = Ip(10, 1, 1, 1), kB = Ip(10, 1, 1, 2);

Frame Packet(uint16_t sport, uint16_t seq, uint32_t timestamp, const Bytes& payload, int64_t us) {
  RtpFields f;
  f.payloadType = 96;
  f.sequence = seq;
  f.timestamp = timestamp;
  return {us, IpFrame(kA, kB, sport, 6000, RtpPacket(f, payload))};
}

struct Loader {
  explicit Loader(const Bytes& capture, bool prefix = false, bool pcapng = false)
      : file(capture, pcapng ? ".pcapng" : ".pcap") {
    EXPECT_TRUE(av.OpenFile(file.Path(), CAvFile::kRead));
    CaptureFormatInfo info;
    av.ReadWindow(0);
    EXPECT_TRUE(DetectCaptureFormat(av.Window().Data(), av.Window().Valid(), info));
    loader = std::make_unique<CRTP_LoadStream>(av, info, std::vector<uint32_t>{kLinkEthernet},
                                               CRTP_LoadStream::Endpoints{kA, kB, 5000, 6000}, prefix);
  }
  Bytes Read(uint64_t address, uint32_t wanted = 1u << 20, uint32_t capacity = 1u << 20) {
    Bytes out(capacity);
    uint32_t n = loader->Read(out.data(), capacity, wanted, address);
    if (n == CAvLoadStream::kTooLarge) return Bytes{0xEE};
    out.resize(n);
    return out;
  }
  TempFile file;
  CAvFile av;
  std::unique_ptr<CRTP_LoadStream> loader;
};

const uint64_t kFirstRecord = 24;  // after the classic global header

TEST(LoadStream, AccessUnitSkipsOtherStreamsAndEndsAtTheNextTimestamp) {
  Bytes a(100, 0xA1), b(50, 0xB2), c(70, 0xC3), other(30, 0x55), next(10, 0x99);
  Bytes capture = ClassicPcap({Packet(5000, 1, 900, a, 0), Packet(5002, 7, 900, other, 1),
                               Packet(5000, 2, 900, b, 2), Packet(5002, 8, 900, other, 3),
                               Packet(5000, 3, 900, c, 4), Packet(5000, 4, 1800, next, 5)});
  Loader l(capture);
  Bytes expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  expected.insert(expected.end(), c.begin(), c.end());
  EXPECT_EQ(l.Read(kFirstRecord), expected);
  // A wanted count smaller than the unit ends after the packet that reaches it.
  EXPECT_EQ(l.Read(kFirstRecord, 120).size(), 150u);
  // The buffer too small for the unit.
  EXPECT_EQ(l.Read(kFirstRecord, 1u << 20, 200), Bytes{0xEE});
  // At or past the end of the file: nothing.
  EXPECT_TRUE(l.Read(capture.size()).empty());
}

TEST(LoadStream, LastPacketOfTheFileAndLengthPrefixes) {
  Bytes first(1000, 1), second(500, 2);
  Bytes capture = ClassicPcap({Packet(5000, 1, 900, first, 0), Packet(5000, 2, 900, second, 1)});
  Loader l(capture, true);
  Bytes got = l.Read(kFirstRecord);
  ASSERT_EQ(got.size(), 1508u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), (Bytes{0x00, 0x00, 0x03, 0xE8}));
  EXPECT_EQ(Bytes(got.begin() + 1004, got.begin() + 1008), (Bytes{0x00, 0x00, 0x01, 0xF4}));
  // The second packet's record ends exactly at the end of the file.
  const uint64_t secondRecord = kFirstRecord + 16 + 14 + 20 + 8 + 12 + 1000;
  EXPECT_EQ(l.Read(secondRecord).size(), 504u);
}

TEST(LoadStream, PcapngBlocksAndUnitsAcrossChunks) {
  // 60 packets of 1400 bytes sharing one timestamp span two 64 KiB chunks.
  std::vector<Frame> frames;
  Bytes expected;
  for (int i = 0; i < 60; ++i) {
    Bytes payload(1400, static_cast<uint8_t>(i));
    frames.push_back(Packet(5000, static_cast<uint16_t>(i), 777, payload, i));
    expected.insert(expected.end(), payload.begin(), payload.end());
  }
  Loader l(Pcapng(frames), false, true);
  const uint64_t firstBlock = 28 + 20;  // section header, interface description
  EXPECT_EQ(l.Read(firstBlock), expected);
}

}  // namespace
}  // namespace fennik
