// The marker table: at most 256 marked list items, process-wide, in insertion order
// without gaps. An item is identified by its file address or by its three keys.
#pragma once

#include <array>
#include <cstdint>

#include "view/CListModel.h"

namespace fennik {

struct MarkerEntry {
  uint64_t address = ~uint64_t{0};  // all ones: empty (and the end of the table)
  uint32_t keys[3] = {~0u, ~0u, ~0u};
};

class CMarkerTable : public CMarkerQuery {
 public:
  static constexpr int kEntries = 256;

  static CMarkerTable& Instance();

  void Clear();
  // Removes the entry of the item when present, else appends it; false when the table is
  // full and nothing changed.
  bool Toggle(uint64_t address, uint32_t key0 = ~0u, uint32_t key1 = ~0u, uint32_t key2 = ~0u);
  void Remove(int index);
  int Count() const;
  const MarkerEntry& At(int index) const { return entries_[static_cast<size_t>(index)]; }

  // CMarkerQuery: the packet lists ask by file offset or packet number, the frame lists by
  // file offset only.
  bool IsMarked(uint64_t fileOffset, uint32_t key) const override;

 private:
  std::array<MarkerEntry, kEntries> entries_{};
};

}  // namespace fennik
