// Fuzzes the packet decoder on one record: the input is the frame, placed after a 16-byte
// classic record header in a buffer of exactly the record's size.
#include <cstdint>
#include <cstring>
#include <vector>

#include "capture/CRTP_LoadPacket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 70000) return 0;
  std::vector<uint8_t> record(16 + size);
  std::memcpy(record.data() + 16, data, size);
  static fennik::CRTP_LoadPacket decoder;
  fennik::PacketRecord packet;
  uint32_t offset = decoder.Decode(record.data(), static_cast<uint32_t>(record.size()), 16, packet);
  if (offset > record.size()) __builtin_trap();
  // The media a codec gets starts at or after the payload and never claims more than the
  // UDP length announces.
  if (offset != 0 && (packet.mediaOffset < offset || packet.mediaLength > packet.payloadLength)) {
    __builtin_trap();
  }
  // Each input starts without the descriptions earlier inputs found: a run then frees what
  // it allocated (descriptions kept across inputs made libFuzzer's leak check scan the heap
  // after nearly every input, 93% of the time) and a finding does not depend on its history.
  decoder.Descriptions().Clear();
  return 0;
}
