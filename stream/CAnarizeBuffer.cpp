#include "stream/CAnarizeBuffer.h"

#include <algorithm>

#include "base/DebugPrint.h"

namespace fennik {

bool CAnarizeBuffer::Append(const uint8_t* payload, uint32_t size, const AnarizePacket& packet) {
  if (packets_.size() >= kMaxPackets) return false;
  if (bytes_.size() + size > kMaxBytes) {
    DebugPrint("[ERROR] CAnarizeBuffer buffer overflow\n");
    return false;
  }
  bytes_.insert(bytes_.end(), payload, payload + size);
  AnarizePacket stored = packet;
  stored.payloadSize = size;
  packets_.push_back(stored);
  return true;
}

void CAnarizeBuffer::Consume(size_t n) { consumed_ = std::min(bytes_.size(), consumed_ + n); }

void CAnarizeBuffer::Compact() {
  size_t dropBytes = 0;
  size_t dropPackets = 0;
  while (dropPackets < packets_.size() &&
         dropBytes + packets_[dropPackets].payloadSize <= consumed_) {
    dropBytes += packets_[dropPackets].payloadSize;
    ++dropPackets;
  }
  if (dropPackets == 0) return;
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(dropBytes));
  packets_.erase(packets_.begin(), packets_.begin() + static_cast<std::ptrdiff_t>(dropPackets));
  consumed_ -= dropBytes;
}

}  // namespace fennik
