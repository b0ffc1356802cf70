// The two-level table of (64-bit file address, entry) pairs used for every stream's frame
// table (Entry = FrameEntry) and for the capture's packet table (Entry = RtpPacketEntry).
// Up to 16384 pages of 16384 slots, each allocated on first use (the list of pages grows with
// them, so a small table costs one page); entries are appended in order and never move, so
// the table grows without copying.
#pragma once

#include <cstdint>
#include <cstring>
#include <sys/mman.h>

#include <memory>
#include <new>
#include <vector>

#include "base/DebugPrint.h"

namespace fennik {

constexpr uint64_t kNoAddress = ~uint64_t{0};

template <class Entry>
class CAddressList {
 public:
  static constexpr uint32_t kPageSlots = 16384;
  static constexpr uint32_t kPages = 16384;
  static constexpr uint64_t kCapacity = uint64_t{kPageSlots} * kPages;

  struct Slot {
    uint64_t address;
    Entry entry;
  };

  CAddressList() = default;
  CAddressList(const CAddressList&) = delete;
  CAddressList& operator=(const CAddressList&) = delete;
  CAddressList(CAddressList&&) = default;
  CAddressList& operator=(CAddressList&&) = default;
  virtual ~CAddressList() = default;

  // Appends a pair; returns 0 (with a debug line) when the table is full.
  int Add(uint64_t address, const Entry& entry) {
    if (count_ >= kCapacity) {
      DebugPrint("frame address table overflow!!\n");
      return 0;
    }
    const uint32_t page = static_cast<uint32_t>(count_ / kPageSlots);
    if (page == directory_.size()) directory_.push_back(AllocatePage(page));
    Slot& slot = directory_[page][count_ % kPageSlots];
    slot.address = address;
    slot.entry = entry;
    ++count_;
    return 1;
  }

  // Copies slot `index` out; returns 0 with address all ones when it does not exist.
  int Get(uint64_t index, uint64_t* address, Entry* entry) const {
    const Slot* slot = Find(index);
    if (slot == nullptr) {
      if (address) *address = kNoAddress;
      return 0;
    }
    if (address) *address = slot->address;
    if (entry) *entry = slot->entry;
    return 1;
  }

  // Pointer to the stored entry, or nullptr (address all ones).
  const Entry* GetEntry(uint64_t index, uint64_t* address) const {
    const Slot* slot = Find(index);
    if (address) *address = slot ? slot->address : kNoAddress;
    return slot ? &slot->entry : nullptr;
  }
  Entry* GetMutableEntry(uint64_t index) {
    return const_cast<Entry*>(GetEntry(index, nullptr));
  }

  uint64_t GetCount() const { return count_; }
  uint32_t Mode() const { return mode_; }
  void SetMode(uint32_t mode) { mode_ = mode; }

  void Clear() {
    directory_.clear();
    count_ = 0;
  }

 private:
  const Slot* Find(uint64_t index) const {
    if (index >= count_) return nullptr;
    return &directory_[index / kPageSlots][index % kPageSlots];
  }

  struct PageDeleter {
    void operator()(Slot* page) const;
  };
  using Page = std::unique_ptr<Slot[], PageDeleter>;
  // Pages are mapped directly. The first page is left to fault in as it fills (most tables
  // are small); later pages belong to large tables and are populated in one step, which
  // saves a fault per 4 KiB. Slots are written by Add before anything reads them.
  static Page AllocatePage(uint32_t page) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS | (page > 0 ? MAP_POPULATE : 0);
    void* p = mmap(nullptr, sizeof(Slot) * kPageSlots, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return Page(static_cast<Slot*>(p));
  }

  uint32_t mode_ = 1;
  uint64_t count_ = 0;
  std::vector<Page> directory_;
};

template <class Entry>
void CAddressList<Entry>::PageDeleter::operator()(Slot* page) const {
  munmap(page, sizeof(Slot) * kPageSlots);
}

}  // namespace fennik
