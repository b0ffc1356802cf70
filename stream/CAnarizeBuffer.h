// The per-stream payload buffer of the analysis pass: the RTP payloads of one stream that its
// stream object has not yet cut into frames, with one packet-list entry per stored payload.
// Stream objects see the buffers through the payload descriptor (CPayloadDescriptor).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fennik {

struct AnarizePacket {
  uint64_t fileOffset;        // record offset of the packet in the capture file
  uint64_t rtpTimestamp;
  uint32_t payloadOffset;     // RTP payload, from the start of the record
  uint32_t packetNumber;
  uint32_t payloadSize;       // payload bytes stored for this packet
  uint32_t firstOfAccessUnit; // 1 when the RTP timestamp changed at this packet
  uint64_t packetRow = ~uint64_t{0};  // row in the capture's packet table; all ones: not listed
  uint32_t sequence = 0xFFFFFFFF;     // RTP sequence number; all ones: not known
};

class CAnarizeBuffer {
 public:
  // At most this many packets wait to be cut into frames, and at most kMaxBytes bytes; the
  // buffer drops what the stream object has consumed (Compact), so these bound only the
  // backlog, never the length of a stream.
  static constexpr size_t kMaxPackets = 10000;
  static constexpr size_t kMaxBytes = 32u << 20;

  explicit CAnarizeBuffer(uint32_t streamId) : streamId_(streamId) {}

  uint32_t StreamId() const { return streamId_; }

  // Stores one packet's payload; returns false (with a debug line for the byte limit) when
  // the backlog is full and the payload is dropped.
  bool Append(const uint8_t* payload, uint32_t size, const AnarizePacket& packet);

  // Unconsumed bytes: [Data() + Consumed(), Data() + Used()).
  const uint8_t* Data() const { return bytes_.data(); }
  size_t Used() const { return bytes_.size(); }
  size_t Consumed() const { return consumed_; }
  size_t Pending() const { return bytes_.size() - consumed_; }
  // Advances the consumed position, capped at the bytes used.
  void Consume(size_t n);
  // Replaces the last stored byte (H.263 payloads that share a byte across packets).
  void SetLastByte(uint8_t value) {
    if (!bytes_.empty()) bytes_.back() = value;
  }

  // The packet list covering Data()[0 .. Used()); packet i's payload begins where packets
  // 0..i-1 end.
  const std::vector<AnarizePacket>& Packets() const { return packets_; }

  // Drops the consumed bytes and the packets that lie wholly inside them. A packet that is
  // only partly consumed stays, and the bytes before the consumed position within it stay
  // too, so the packet list keeps describing the buffer from its first byte.
  void Compact();

 private:
  uint32_t streamId_;
  std::vector<uint8_t> bytes_;
  size_t consumed_ = 0;
  std::vector<AnarizePacket> packets_;
};

// The set of analysis buffers handed to stream objects. Mode 1: frame addresses are the file
// offsets of packet records.
class CPayloadDescriptor {
 public:
  uint32_t Mode() const { return 1; }
  // The first buffer added for a stream id is the one Find returns. Ids of the analysis
  // pass (up to 65535) are found by index, as every packet asks for its stream's buffer.
  void Add(CAnarizeBuffer* buffer) {
    const uint32_t id = buffer->StreamId();
    if (id >= kIndexedIds) {
      others_.push_back(buffer);
      return;
    }
    if (id >= byId_.size()) byId_.resize(id + 1, nullptr);
    if (byId_[id] == nullptr) byId_[id] = buffer;
  }
  CAnarizeBuffer* Find(uint32_t streamId) const {
    if (streamId < kIndexedIds) return streamId < byId_.size() ? byId_[streamId] : nullptr;
    for (CAnarizeBuffer* b : others_) {
      if (b->StreamId() == streamId) return b;
    }
    return nullptr;
  }
  void Clear() {
    byId_.clear();
    others_.clear();
  }

 private:
  static constexpr uint32_t kIndexedIds = 65536;
  std::vector<CAnarizeBuffer*> byId_;
  std::vector<CAnarizeBuffer*> others_;
};

}  // namespace fennik
