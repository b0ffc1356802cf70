// Per-packet timing of the analysis pass: jitter against a per-stream reference packet,
// sequence checks, the one-second bit-rate window, and the values derived from consecutive
// rows (capture gap, RTP gap, RTP time).
#pragma once

#include <cstdint>
#include <vector>

#include "capture/RtpTables.h"

namespace fennik {

// Fills the entry's jitter and error flags and moves the stream's reference as needed.
// `firstPacket` is true for the stream's first packet.
void ApplyPacketTiming(RtpStreamEntry& stream, RtpPacketEntry& entry, bool firstPacket);

// Payload bytes of one stream captured within the last 1000 ms.
class BitrateWindow {
 public:
  // Adds a packet and returns the window's sum (this packet included). A sequence error
  // empties the window first.
  uint32_t Add(uint64_t captureTimeMs, uint32_t payloadLength, bool sequenceError);

 private:
  struct Slot {
    uint64_t time;
    uint32_t length;
  };
  // A ring that grows when more than its capacity of packets fall within one second.
  std::vector<Slot> ring_ = std::vector<Slot>(1000);
  uint32_t oldest_ = 0;
  uint32_t count_ = 0;
  uint32_t sum_ = 0;
  void Grow();
};

// RTP timestamp difference in milliseconds, truncated toward zero; 0 for clock rate 0.
int64_t RtpGapMs(uint32_t timestamp, uint32_t previous, uint32_t clockRate);
// RTP timestamp as milliseconds (not relative to the stream's start); 0 for clock rate 0.
uint64_t RtpTimeMs(uint32_t timestamp, uint32_t clockRate);
// " h:mm:ss.mmm" as the lists show times: a space and "%2d:%02d:%02d.%03d"; hours grow
// beyond two (and three) digits rather than wrapping or clamping.
void FormatListTime(uint64_t milliseconds, char* out, size_t size);

}  // namespace fennik
