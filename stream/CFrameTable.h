// A stream's frame table: the frame entries in stream order, with the searches the views
// and the navigation use. Frames that are exactly one packet's whole payload (G.711 and
// the other sample codecs: one frame per packet) are kept as the packet's row in the
// capture's packet table, about 1.3 bytes instead of a 48-byte slot; their entries are
// rebuilt from that row when read.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "stream/CAddressList.h"
#include "stream/FrameEntry.h"

namespace fennik {

// Rebuilds the entry of a frame that is the whole payload of a listed packet.
class CPacketFrameSource {
 public:
  virtual ~CPacketFrameSource() = default;
  // The frame numbered `frameNumber` that is packet-table row `row`'s whole payload: its
  // address and entry; false when there is no such row.
  virtual bool PacketFrame(uint64_t row, uint32_t frameNumber, uint64_t* address, FrameEntry* entry) const = 0;
};

// The packet rows of a stream's frames, in blocks of 32: a block holds its first row and,
// while every row is at most 255 above the one before it (the packets of a few dozen other
// streams between two of this stream's), one byte per further row; a block with a larger
// or backward step holds its further rows in four bytes each. A row is read back by adding
// up to 31 steps. The bytes grow in the deque's fixed chunks, without doubling.
class CPacketRowList {
 public:
  void Add(uint32_t row);
  uint32_t operator[](uint64_t index) const;
  uint64_t size() const { return count_; }
  void clear();

 private:
  static constexpr uint32_t kBlock = 32;
  static constexpr uint32_t kWide = 0x80000000;  // in Block::at: rows of four bytes
  struct Block {
    uint32_t first;  // the row of the block's first frame
    uint32_t at;     // where the block's further rows begin in bytes_, with kWide
  };
  void PutWide(uint32_t row);
  // Rewrites the last block's steps as full rows.
  void Widen(Block& block);

  std::vector<Block> blocks_;  // one per 32 frames: small beside bytes_
  std::deque<uint8_t> bytes_;
  uint32_t last_ = 0;
  uint64_t count_ = 0;
};

class CFrameTable {
 public:
  static constexpr uint32_t kPageSlots = CAddressList<FrameEntry>::kPageSlots;
  static constexpr uint64_t kNoRow = ~uint64_t{0};

  // Frames added from now on may be kept as packet rows of `source`.
  void SetPacketSource(const CPacketFrameSource* source) { source_ = source; }

  // Appends a frame; `row` names its packet's row in the packet table when the caller
  // knows it. The frame is kept as that row when the source rebuilds exactly this address
  // and entry and every earlier frame was kept so too; otherwise as a full entry. Returns 0
  // when the table is full.
  int Add(uint64_t address, const FrameEntry& entry, uint64_t row = kNoRow);
  // Copies frame `index` out; returns 0 with address all ones when it does not exist.
  int Get(uint64_t index, uint64_t* address, FrameEntry* entry) const;
  uint64_t GetCount() const { return rows_.size() + full_.GetCount(); }
  // Adds bytes to the size of a frame kept as a full entry (a picture's later slices);
  // returns 0 when there is no such entry.
  int AddToSize(uint64_t index, uint32_t bytes);
  // Frames kept as packet rows (the first ones of the table).
  uint64_t PacketBackedCount() const { return rows_.size(); }
  uint32_t Mode() const { return full_.Mode(); }
  void SetMode(uint32_t mode) { full_.SetMode(mode); }
  void Clear();

  // The first frame, from index 0, whose packet number is at least `packetNumber`: its
  // index (address and entry copied out), or kNoRow when there is none.
  uint64_t FindByPacket(uint32_t packetNumber, uint64_t* address, FrameEntry* entry) const;
  // The frame at or before a file position: with `withOffset` (and packet addressing) a
  // frame's position is its address plus its frame offset. An exact match returns that
  // frame (the first of several at one position), a position between two frames the
  // earlier one, a position before the first frame 0; an empty table 0xFFFFFFFF.
  uint32_t FindByAddress(uint64_t position, bool withOffset) const;

 private:
  const CPacketFrameSource* source_ = nullptr;
  CPacketRowList rows_;             // frames 0 .. rows_.size() - 1
  CAddressList<FrameEntry> full_;   // the frames after them
};

}  // namespace fennik
