#include "stream/CFrameTable.h"

namespace fennik {

const FrameEntry* CFrameTable::FindByPacket(uint32_t packetNumber, uint64_t* address) const {
  // Frames are in packet order, so the first one at or after the packet is found by a
  // binary search over the table.
  uint64_t lo = 0, hi = GetCount();
  while (lo < hi) {
    uint64_t mid = lo + (hi - lo) / 2;
    if (GetEntry(mid, nullptr)->packetNumber < packetNumber) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return GetEntry(lo, address);
}

uint32_t CFrameTable::FindByAddress(uint64_t position, bool withOffset) const {
  const uint64_t count = GetCount();
  if (count == 0) return 0xFFFFFFFF;
  const bool addOffset = withOffset && Mode() == 1;
  auto positionOf = [&](uint64_t i) {
    uint64_t address;
    const FrameEntry* e = GetEntry(i, &address);
    return address + (addOffset ? e->frameOffset : 0);
  };
  // The first frame whose position is not below the target: that frame when it is equal
  // (the first of frames sharing a position), else the one before it.
  uint64_t lo = 0, hi = count;
  while (lo < hi) {
    uint64_t mid = lo + (hi - lo) / 2;
    if (positionOf(mid) < position) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  if (lo < count && positionOf(lo) == position) return static_cast<uint32_t>(lo);
  return lo == 0 ? 0 : static_cast<uint32_t>(lo - 1);
}

}  // namespace fennik
