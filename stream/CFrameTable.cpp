#include "stream/CFrameTable.h"

namespace fennik {

int CFrameTable::Add(uint64_t address, const FrameEntry& entry, uint64_t row) {
  if (source_ != nullptr && full_.GetCount() == 0 && row <= UINT32_MAX) {
    uint64_t rebuiltAddress = 0;
    FrameEntry rebuilt;
    if (source_->PacketFrame(row, static_cast<uint32_t>(rows_.size()), &rebuiltAddress, &rebuilt) &&
        rebuiltAddress == address && rebuilt == entry) {
      rows_.push_back(static_cast<uint32_t>(row));
      return 1;
    }
  }
  return full_.Add(address, entry);
}

int CFrameTable::Get(uint64_t index, uint64_t* address, FrameEntry* entry) const {
  if (index < rows_.size()) {
    uint64_t at = 0;
    FrameEntry e;
    if (source_ != nullptr && source_->PacketFrame(rows_[index], static_cast<uint32_t>(index), &at, &e)) {
      if (address) *address = at;
      if (entry) *entry = e;
      return 1;
    }
    if (address) *address = kNoAddress;
    return 0;
  }
  return full_.Get(index - rows_.size(), address, entry);
}

int CFrameTable::AddToSize(uint64_t index, uint32_t bytes) {
  if (index < rows_.size()) return 0;
  FrameEntry* e = full_.GetMutableEntry(index - rows_.size());
  if (e == nullptr) return 0;
  e->size += bytes;
  return 1;
}

void CFrameTable::Clear() {
  rows_.clear();
  full_.Clear();
}

uint64_t CFrameTable::FindByPacket(uint32_t packetNumber, uint64_t* address, FrameEntry* entry) const {
  // Frames are in packet order, so the first one at or after the packet is found by a
  // binary search over the table.
  FrameEntry e;
  uint64_t lo = 0, hi = GetCount();
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    if (Get(mid, nullptr, &e) && e.packetNumber < packetNumber) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return Get(lo, address, entry) ? lo : kNoRow;
}

uint32_t CFrameTable::FindByAddress(uint64_t position, bool withOffset) const {
  const uint64_t count = GetCount();
  if (count == 0) return 0xFFFFFFFF;
  const bool addOffset = withOffset && Mode() == 1;
  auto positionOf = [&](uint64_t i) {
    uint64_t address = 0;
    FrameEntry e;
    Get(i, &address, &e);
    return address + (addOffset ? e.frameOffset : 0);
  };
  // The first frame whose position is not below the target: that frame when it is equal
  // (the first of frames sharing a position), else the one before it.
  uint64_t lo = 0, hi = count;
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
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
