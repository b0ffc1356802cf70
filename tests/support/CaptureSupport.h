// A capture's streams as the library finds them, for tests that work out expected values
// from the payload bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture/CRTP_Parser.h"

namespace fennik::test {

// One stream: the id the tools give it (its index + 1), its source port and the RTP payload
// of each of its packets in stream order.
struct CapturedStream {
  uint32_t id = 0;
  uint16_t sourcePort = 0;
  std::vector<std::vector<uint8_t>> payloads;
};

// The RTP payload of one row of the packet table (without padding).
inline std::vector<uint8_t> RowPayload(CRTP_Parser& capture, uint64_t row) {
  uint64_t address = 0;
  RtpPacketEntry e{};
  EXPECT_TRUE(capture.Packets().Get(row, &address, &e));
  std::vector<uint8_t> record(e.RecordLength());
  capture.ReadAt(address, record.data(), e.RecordLength());
  return {record.begin() + e.payloadOffset, record.begin() + e.payloadOffset + e.capturedPayload};
}

inline std::vector<CapturedStream> CapturedStreams(const std::string& file) {
  CRTP_Parser capture;
  EXPECT_EQ(capture.Open(file), OpenResult::kOk) << file;
  capture.Analyse(nullptr);
  std::vector<CapturedStream> streams;
  for (uint32_t s = 0; s < capture.Streams().size(); ++s) {
    CapturedStream& stream = streams.emplace_back();
    stream.id = s + 1;
    stream.sourcePort = capture.Streams()[s].sourcePort;
    for (uint64_t row : capture.StreamPacketIndices(s)) stream.payloads.push_back(RowPayload(capture, row));
  }
  return streams;
}

// The stream sent from `sourcePort`.
inline CapturedStream StreamFrom(const std::string& file, uint16_t sourcePort) {
  for (CapturedStream& s : CapturedStreams(file)) {
    if (s.sourcePort == sourcePort) return s;
  }
  ADD_FAILURE() << "no stream from port " << sourcePort << " in " << file;
  return {};
}

}  // namespace fennik::test
