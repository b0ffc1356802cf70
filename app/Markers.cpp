#include "app/Markers.h"

namespace fennik {

CMarkerTable& CMarkerTable::Instance() {
  static CMarkerTable table;
  return table;
}

void CMarkerTable::Clear() { entries_.fill(MarkerEntry{}); }

int CMarkerTable::Count() const {
  int n = 0;
  while (n < kEntries && entries_[static_cast<size_t>(n)].address != ~uint64_t{0}) ++n;
  return n;
}

void CMarkerTable::Remove(int index) {
  const int count = Count();
  if (index < 0 || index >= count) return;
  for (int i = index; i + 1 < count; ++i) entries_[static_cast<size_t>(i)] = entries_[static_cast<size_t>(i) + 1];
  entries_[static_cast<size_t>(count) - 1] = MarkerEntry{};
}

bool CMarkerTable::Toggle(uint64_t address, uint32_t key0, uint32_t key1, uint32_t key2) {
  const int count = Count();
  for (int i = 0; i < count; ++i) {
    const MarkerEntry& e = entries_[static_cast<size_t>(i)];
    const bool sameKeys = key0 != ~0u && e.keys[0] == key0 && e.keys[1] == key1 && e.keys[2] == key2;
    if (e.address == address || sameKeys) {
      Remove(i);
      return true;
    }
  }
  if (count == kEntries) return false;
  MarkerEntry& e = entries_[static_cast<size_t>(count)];
  e.address = address;
  e.keys[0] = key0;
  e.keys[1] = key1;
  e.keys[2] = key2;
  return true;
}

bool CMarkerTable::IsMarked(uint64_t fileOffset, uint32_t key) const {
  for (const MarkerEntry& e : entries_) {
    if (e.address == ~uint64_t{0}) break;
    if (e.address == fileOffset || (e.keys[0] != ~0u && e.keys[0] == key)) return true;
  }
  return false;
}

}  // namespace fennik
