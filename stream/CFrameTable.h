// A stream's frame table: the frame entries in stream order, with the searches the views
// and the navigation use.
#pragma once

#include <cstdint>

#include "stream/CAddressList.h"
#include "stream/FrameEntry.h"

namespace fennik {

class CFrameTable : public CAddressList<FrameEntry> {
 public:
  // The first frame, from index 0, whose packet number is at least `packetNumber`; nullptr
  // when there is none.
  const FrameEntry* FindByPacket(uint32_t packetNumber, uint64_t* address) const;
  // The frame at or before a file position: with `withOffset` (and packet addressing) a
  // frame's position is its address plus its frame offset. An exact match returns that
  // frame (the first of several at one position), a position between two frames the
  // earlier one, a position before the first frame 0; an empty table 0xFFFFFFFF.
  uint32_t FindByAddress(uint64_t position, bool withOffset) const;
};

}  // namespace fennik
