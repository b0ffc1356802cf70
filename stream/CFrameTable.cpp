#include "stream/CFrameTable.h"

namespace fennik {

void CPacketRowList::Add(uint32_t row) {
  if (count_ % kBlock == 0) {
    blocks_.push_back({row, static_cast<uint32_t>(bytes_.size())});
  } else if ((blocks_.back().at & kWide) == 0 && row - last_ <= 0xFF) {  // backward: above 255
    bytes_.push_back(static_cast<uint8_t>(row - last_));
  } else {
    if ((blocks_.back().at & kWide) == 0) Widen(blocks_.back());
    PutWide(row);
  }
  last_ = row;
  ++count_;
}

void CPacketRowList::PutWide(uint32_t row) {
  for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(row >> shift));
}

void CPacketRowList::Widen(Block& block) {
  const size_t from = block.at;
  std::vector<uint32_t> rows;
  uint32_t row = block.first;
  for (size_t i = from; i < bytes_.size(); ++i) rows.push_back(row += bytes_[i]);
  bytes_.resize(from);
  block.at |= kWide;
  for (uint32_t r : rows) PutWide(r);
}

uint32_t CPacketRowList::operator[](uint64_t index) const {
  const Block& block = blocks_[index / kBlock];
  const uint32_t k = static_cast<uint32_t>(index % kBlock);
  if (k == 0) return block.first;
  if ((block.at & kWide) != 0) {
    auto byte = bytes_.begin() + (block.at & ~kWide) + 4 * (k - 1);
    return uint32_t{byte[0]} | uint32_t{byte[1]} << 8 | uint32_t{byte[2]} << 16 | uint32_t{byte[3]} << 24;
  }
  uint32_t row = block.first;
  auto step = bytes_.begin() + block.at;
  for (uint32_t i = 0; i < k; ++i, ++step) row += *step;
  return row;
}

void CPacketRowList::clear() {
  blocks_.clear();
  bytes_.clear();
  count_ = 0;
}

int CFrameTable::Add(uint64_t address, const FrameEntry& entry, uint64_t row) {
  if (source_ != nullptr && full_.GetCount() == 0 && row <= UINT32_MAX) {
    uint64_t rebuiltAddress = 0;
    FrameEntry rebuilt;
    if (source_->PacketFrame(row, static_cast<uint32_t>(rows_.size()), &rebuiltAddress, &rebuilt) &&
        rebuiltAddress == address && rebuilt == entry) {
      rows_.Add(static_cast<uint32_t>(row));
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
