#include "codec/video/VideoViews.h"

#include <cinttypes>

#include "view/NumberFormat.h"

namespace fennik {

void CView_VideoFrameList::PrintHeader(const CListModel&, CFieldTree& tree) const {
  tree.Title("LIST OF VIDEO PICTURES");
  if (stream_.HasEndpoints()) {
    PrintEndpointRows(tree, stream_.SourceAddress(), stream_.SourcePort(), stream_.DestinationAddress(),
                      stream_.DestinationPort());
  }
}

void CView_VideoFrameList::ColumnTitle(CRowLine& line) const { PutColumnTitles(line, columns_); }

bool CView_VideoFrameList::ItemRow(uint64_t index, CRowLine& line, int& colour) const {
  uint64_t address;
  FrameEntry e;
  if (!stream_.Frames().Get(index, &address, &e)) return false;
  std::vector<std::string> cells{Printf("%9" PRIu64, index), Printf("0x%010" PRIX64, address + e.frameOffset),
                                 FormatDecimalUnsigned(e.size)};
  colour = colour::kListRow;
  CodecCells(e, cells, colour);
  int column = 0;
  for (size_t n = 0; n < columns_.size() && n < cells.size(); ++n) {
    line.PutRight(column, columns_[n].width - 1, cells[n]);
    column += columns_[n].width;
  }
  if (markers_ != nullptr && markers_->IsMarked(address + e.frameOffset, ~0u)) {
    colour = colour::kListMarker;
    line.Put(0, "*");
  }
  return true;
}

}  // namespace fennik
