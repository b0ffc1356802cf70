#include "codec/audio/CGSM_Parser.h"

#include <algorithm>
#include <string>

#include "codec/audio/AudioViews.h"

namespace fennik {

size_t CGSM_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  // Walk the packets that hold the unconsumed bytes; a packet may start before them when a
  // previous call consumed only part of it.
  const size_t start = buffer->Consumed();
  size_t packetStart = 0;
  size_t offset = 0;  // from the first unconsumed byte
  for (const AnarizePacket& packet : buffer->Packets()) {
    const size_t packetEnd = packetStart + packet.payloadSize;
    if (packetEnd > start + offset) {
      size_t left = packetEnd - (start + offset);
      while (left > 0) {
        const size_t size = std::min(left, GsmFrameRecord::kBytes);
        FrameEntry entry;
        entry.size = static_cast<uint32_t>(size);
        entry.frameNumber = static_cast<uint32_t>(frames_.GetCount());
        entry.streamId = streamId_;
        if (!AddFrame(streamId, offset, entry, descriptor)) return offset;
        offset += size;
        left -= size;
      }
    }
    packetStart = packetEnd;
  }
  return offset;
}

void CGSM_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("GSM AUDIO INFORMATION");
  PrintCommonAudioFrameBlock(*this, index, tree);
}

void CGSM_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  (void)index;  // the views decode the frame before showing it
  if (Records().empty()) return;
  const GsmFrameRecord& r = Records().front();
  tree.Title("FILTER PARAMETERS");
  tree.Field(1, "Magic number", 4, kModeHex, colour::kField, r.signature, r.signature);
  for (int i = 0; i < 8; ++i) {
    tree.Field(1, "Log. Area ratios " + std::to_string(i + 1), GsmFrameRecord::kLarBits[i], kModeDecimal,
               colour::kField, r.lar[i], r.lar[i]);
  }
  for (int k = 0; k < 4; ++k) {
    const GsmSubFrame& s = r.sub[k];
    tree.Title("Sub-frame no." + std::to_string(k + 1));
    tree.Field(1, "LTP lag", 7, kModeDecimal, colour::kField, s.ltpLag, s.ltpLag);
    tree.Field(1, "LTP gain", 2, kModeDecimal, colour::kField, s.ltpGain, s.ltpGain);
    tree.Field(1, "RPE grid position", 2, kModeDecimal, colour::kField, s.gridPosition, s.gridPosition);
    tree.Field(1, "Block amplitude", 6, kModeDecimal, colour::kField, s.blockAmplitude, s.blockAmplitude);
    for (int p = 0; p < 13; ++p) {
      tree.Field(1, "RPE-pulse no." + std::to_string(p + 1), 3, kModeDecimal, colour::kField, s.pulses[p],
                 s.pulses[p]);
    }
  }
}

}  // namespace fennik
