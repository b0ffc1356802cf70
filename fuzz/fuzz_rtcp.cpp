// Fuzzes the RTCP compound parser and table: the input is a sequence of datagrams, each a
// 2-byte big-endian length and its bytes, handed to the table as one capture would in file
// order (so sender reports and the report blocks that refer to them meet), then matched to
// two made-up streams.
#include <cstdint>
#include <vector>

#include "capture/RtcpReports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fennik::RtcpTable table;
  fennik::RtcpEntry header;
  size_t at = 0;
  while (at + 2 <= size) {
    const size_t length = std::min<size_t>((size_t{data[at]} << 8) | data[at + 1], size - at - 2);
    // An exact-size copy, so that a read past the datagram is caught by the sanitizer.
    const std::vector<uint8_t> datagram(data + at + 2, data + at + 2 + length);
    header.packetNumber++;
    header.captureUs += 20000;
    const size_t before = table.Size();
    table.OnPacket(datagram.data(), static_cast<uint32_t>(datagram.size()), header);
    // A valid compound adds packets whose lengths add up to the datagram.
    uint32_t total = 0;
    for (size_t i = before; i < table.Size(); ++i) total += table.Entry(i).length;
    if (table.Size() > before && total != datagram.size()) __builtin_trap();
    at += 2 + length;
  }
  table.MatchStreams({0x5eed0001u, 0x4ece1e00u});
  for (const fennik::RtcpEntry& e : table.Entries()) {
    for (const fennik::RtcpReportBlock& r : e.reports) {
      if (r.haveRoundTrip && r.lsr == 0) __builtin_trap();
    }
  }
  return 0;
}
