// Fuzzes the RFC 4733 telephone-event table: the input is a sequence of packets, each a
// 1-byte header (payload type offset from 96 in the low 5 bits, a watched / described
// payload type in bit 5, a stream bit in bit 6, a timestamp step in bit 7), a 1-byte length
// and that many payload bytes.
#include <cstdint>
#include <vector>

#include "capture/TelephoneEvents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using Mode = fennik::TelephoneEventTable::Mode;
  fennik::TelephoneEventTable table;
  uint32_t timestamp = 1000;
  uint32_t packetNumber = 0;
  size_t at = 0;
  while (at + 2 <= size) {
    const uint8_t head = data[at];
    const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
    const std::vector<uint8_t> payload(data + at + 2, data + at + 2 + length);
    const uint32_t stream = (head >> 6) & 1;
    const uint8_t pt = static_cast<uint8_t>(96 + (head & 0x1F));
    if (table.ModeOf(stream, pt) == Mode::kUnknown) {
      table.SetMode(stream, pt, (head & 0x20) ? Mode::kSdp : Mode::kWatched, (head & 0x20) ? 16000 : 0);
    }
    if (head & 0x80) timestamp += 160;
    ++packetNumber;
    table.OnPacket(stream, pt, 0x1234, timestamp, packetNumber, int64_t{packetNumber} * 20000,
                   payload.data(), static_cast<uint32_t>(payload.size()));
    at += 2 + length;
  }
  for (const fennik::TelephoneEvent& e : table.Events()) {
    // Every event has a packet; watched payload types keep DTMF codes and end packets only
    // among an event's packets.
    if (e.packets == 0 || e.endPackets > e.packets || (!e.fromSdp && e.event > 16)) __builtin_trap();
    if (fennik::TelephoneEventName(e.event).empty()) __builtin_trap();
  }
  return 0;
}
