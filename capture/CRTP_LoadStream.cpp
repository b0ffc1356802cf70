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

uint32_t CRTP_LoadStream::LinkType(uint32_t interfaceId) const {
  if (format_.format == CaptureFormat::kPcap) return linkTypes_.empty() ? kLinkUnknown : linkTypes_[0];
  return interfaceId < linkTypes_.size() ? linkTypes_[interfaceId] : kLinkUnknown;
}

uint32_t CRTP_LoadStream::Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted,
                               uint64_t address) {
  const uint64_t size = file_.FileSize();
  uint32_t written = 0;
  uint64_t gathered = 0;
  bool haveTimestamp = false;
  uint32_t timestamp = 0;
  struct Taken {
    uint16_t sequenceNumber;
    uint64_t digest;
  };
  std::vector<Taken> taken;
  H263Depacketizer h263(h263Format_);
  bool havePrevious = false;
  uint16_t previous = 0;
  while (address < size) {
    const uint32_t valid = file_.ReadAt(address, chunk_.get(), kChunkSize);
    if (valid == 0) return written;
    uint32_t pos = 0;
    while (pos < valid) {
      const RecordSpan r = ReadRecordSpan(chunk_.get() + pos, valid - pos, format_.format, format_.bigEndian);
      if (r.status != RecordSpan::kComplete) break;
      const uint32_t start = pos;
      pos += r.length;
      if (r.frameOffset == 0) continue;
      PacketRecord packet;
      const uint8_t* rec = chunk_.get() + start;
      const uint32_t payloadOffset =
          decoder_.Decode(rec, r.usable, r.frameOffset, packet, LinkType(r.interfaceId), false);
      if (payloadOffset == 0 || payloadOffset >= r.usable) continue;
      if (packet.sourceAddress != endpoints_.sourceAddress ||
          packet.destinationAddress != endpoints_.destinationAddress ||
          packet.sourcePort != endpoints_.sourcePort ||
          packet.destinationPort != endpoints_.destinationPort ||
          (endpoints_.payloadType >= 0 && packet.payloadType != endpoints_.payloadType)) {
        continue;
      }
      if (!haveTimestamp) {
        timestamp = packet.timestamp;
        haveTimestamp = true;
      } else if (packet.timestamp != timestamp) {
        return written;
      }
      const uint32_t captured = r.usable - payloadOffset;
      const uint64_t digest =
          PayloadDigest(rec + payloadOffset, packet.payloadLength < captured ? packet.payloadLength : captured);
      bool copy = false;
      for (const Taken& t : taken) copy = copy || (t.sequenceNumber == packet.sequenceNumber && t.digest == digest);
      if (copy) continue;
      taken.push_back({packet.sequenceNumber, digest});
      const uint32_t media = packet.mediaOffset;
      const uint32_t room = media < r.usable ? r.usable - media : 0;
      uint32_t length = packet.mediaLength < room ? packet.mediaLength : room;
      uint32_t skip = headerOwner_ != nullptr ? headerOwner_->PayloadHeaderLength(rec + media, length) : 0;
      if (skip > length) skip = length;
      length -= skip;
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
        const long end = h263.Append(rec + media + skip, length, buffer, written, capacity);
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
      std::memcpy(buffer + written, rec + media + skip, length);
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
