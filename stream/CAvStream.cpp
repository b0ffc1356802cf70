#include "stream/CAvStream.h"

namespace fennik {

bool CAvStream::AddFrame(uint32_t streamId, size_t offset, FrameEntry entry,
                         CPayloadDescriptor& descriptor) {
  const CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Packets().empty()) return false;
  const size_t target = buffer->Consumed() + offset;
  size_t before = 0;
  for (const AnarizePacket& packet : buffer->Packets()) {
    if (before + packet.payloadSize > target) {
      const size_t inPacket = packet.payloadOffset + (target - before);
      entry.timestamp = packet.rtpTimestamp;
      entry.packetNumber = packet.packetNumber;
      entry.payloadOffset = static_cast<uint16_t>(packet.payloadOffset);
      entry.frameOffset = static_cast<uint16_t>(inPacket > 0xFFFF ? 0xFFFF : inPacket);
      if (!frames_.Add(packet.fileOffset, entry, packet.packetRow)) return false;
      if (listener_ != nullptr) {
        listener_->OnFrameAdded(static_cast<uint32_t>(frames_.GetCount() - 1), streamId,
                                packet.fileOffset, entry.size, entry.packetNumber, packet.packetRow);
      }
      return true;
    }
    before += packet.payloadSize;
  }
  return false;
}

size_t CAvStream::ParseWholeUnit(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  const size_t length = buffer->Pending();
  FrameEntry entry;
  entry.size = static_cast<uint32_t>(length);
  entry.frameNumber = static_cast<uint32_t>(frames_.GetCount());
  entry.streamId = streamId_;
  AddFrame(streamId, 0, entry, descriptor);
  return length;
}

}  // namespace fennik
