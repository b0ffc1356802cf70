#include "capture/CRTP_LoadStream.h"

#include <cstring>

#include "base/ByteOrder.h"
#include "base/DebugPrint.h"
#include "base/CAvFile.h"

namespace fennik {

CRTP_LoadStream::CRTP_LoadStream(CAvFile& file, const CaptureFormatInfo& format,
                                 std::vector<uint32_t> linkTypes, const Endpoints& endpoints,
                                 bool lengthPrefix)
    : file_(file),
      format_(format),
      linkTypes_(std::move(linkTypes)),
      endpoints_(endpoints),
      lengthPrefix_(lengthPrefix),
      chunk_(std::make_unique_for_overwrite<uint8_t[]>(kChunkSize)) {}

CRTP_LoadStream::Record CRTP_LoadStream::RecordAt(const uint8_t* chunk, uint32_t valid,
                                                  uint32_t pos) const {
  const bool big = format_.bigEndian;
  const uint8_t* p = chunk + pos;
  if (format_.format == CaptureFormat::kPcap) {
    if (valid - pos < kPcapRecordHeader) return {};
    const uint64_t length = uint64_t{Read32(p + 8, big)} + kPcapRecordHeader;
    if (length > valid - pos) return {};
    const uint32_t link = linkTypes_.empty() ? kLinkUnknown : linkTypes_[0];
    return {static_cast<uint32_t>(length), kPcapRecordHeader, static_cast<uint32_t>(length), link};
  }
  if (valid - pos < 12) return {};
  const uint32_t type = Read32(p, big);
  const uint32_t length = Read32(p + 4, big);
  if (length < 12 || (length & 3) != 0 || length > valid - pos) return {};
  // Only Enhanced Packet Blocks carry packets the analysis listed; other blocks are
  // stepped over.
  if (type != 6 || length < kEnhancedPacketHeader + 4) return {length, 0, 0, 0};
  const uint32_t captured = Read32(p + 20, big);
  const uint32_t room = length - kEnhancedPacketHeader - 4;
  const uint32_t interfaceId = Read32(p + 8, big);
  const uint32_t link = interfaceId < linkTypes_.size() ? linkTypes_[interfaceId] : kLinkUnknown;
  return {length, kEnhancedPacketHeader, kEnhancedPacketHeader + (captured < room ? captured : room),
          link};
}

uint32_t CRTP_LoadStream::Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted,
                               uint64_t address) {
  const uint64_t size = file_.FileSize();
  uint32_t written = 0;
  uint64_t gathered = 0;
  bool haveTimestamp = false;
  uint32_t timestamp = 0;
  H263Depacketizer h263(h263Format_);
  bool havePrevious = false;
  uint16_t previous = 0;
  while (address < size) {
    const uint32_t valid = file_.ReadAt(address, chunk_.get(), kChunkSize);
    if (valid == 0) return written;
    uint32_t pos = 0;
    while (pos < valid) {
      const Record r = RecordAt(chunk_.get(), valid, pos);
      if (r.length == 0) break;
      const uint32_t start = pos;
      pos += r.length;
      if (r.frameOffset == 0) continue;
      PacketRecord packet;
      const uint8_t* rec = chunk_.get() + start;
      const uint32_t payloadOffset =
          decoder_.Decode(rec, r.usable, r.frameOffset, packet, r.linkType, false);
      if (payloadOffset == 0 || payloadOffset >= r.usable) continue;
      if (packet.sourceAddress != endpoints_.sourceAddress ||
          packet.destinationAddress != endpoints_.destinationAddress ||
          packet.sourcePort != endpoints_.sourcePort ||
          packet.destinationPort != endpoints_.destinationPort) {
        continue;
      }
      if (!haveTimestamp) {
        timestamp = packet.timestamp;
        haveTimestamp = true;
      } else if (packet.timestamp != timestamp) {
        return written;
      }
      const uint32_t captured = r.usable - payloadOffset;
      const uint32_t length = packet.payloadLength < captured ? packet.payloadLength : captured;
      const uint32_t prefix = lengthPrefix_ ? 4 : h263Format_ != H263PayloadFormat::kNone ? 2 : 0;
      if (uint64_t{written} + prefix + length > capacity) {
        DebugPrint("[RTP] stream load buffer overflow !! size=%u read_len=%llu payload_len=%u\n",
                   capacity, static_cast<unsigned long long>(gathered), length);
        return kTooLarge;
      }
      if (h263Format_ != H263PayloadFormat::kNone) {
        // As the analysis pass stored it: without the payload header, joined at SBIT/EBIT.
        if (havePrevious && static_cast<uint16_t>(previous + 1) != packet.sequenceNumber) h263.Reset();
        previous = packet.sequenceNumber;
        havePrevious = true;
        const long end = h263.Append(rec + payloadOffset, length, buffer, written, capacity);
        if (end >= 0) {
          gathered += static_cast<uint64_t>(end) - written;
          written = static_cast<uint32_t>(end);
        }
        if (gathered >= wanted) return written;
        continue;
      }
      if (lengthPrefix_ && havePrevious && packet.sequenceNumber != static_cast<uint16_t>(previous + 1)) {
        // A zero length marks packets lost (or reordered) before this payload, so that a
        // fragmented NAL unit is not joined across the gap.
        if (uint64_t{written} + 4 + prefix + length > capacity) return kTooLarge;
        WriteBE32(buffer + written, 0);
        written += 4;
      }
      previous = packet.sequenceNumber;
      havePrevious = true;
      if (lengthPrefix_) {
        WriteBE32(buffer + written, length);
        written += 4;
      }
      std::memcpy(buffer + written, rec + payloadOffset, length);
      written += length;
      gathered += length;
      if (gathered >= wanted) return written;
    }
    if (pos == 0) {
      DebugPrint("[RTP] stream load buffer size small !! (data_size=%u)\n", valid);
      return written;
    }
    address += pos;
  }
  return written;
}

}  // namespace fennik
