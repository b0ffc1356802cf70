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
  if (decoder.Descriptions().Size() > 1000) decoder.Descriptions().Clear();
  fennik::PacketRecord packet;
  uint32_t offset = decoder.Decode(record.data(), static_cast<uint32_t>(record.size()), 16, packet);
  if (offset > record.size()) __builtin_trap();
  // The media a codec gets starts at or after the payload and never claims more than the
  // UDP length announces.
  if (offset != 0 && (packet.mediaOffset < offset || packet.mediaLength > packet.payloadLength)) {
    __builtin_trap();
  }
  return 0;
}
