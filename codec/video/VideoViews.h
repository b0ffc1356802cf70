// The frame list every video codec's page shows: the header "LIST OF VIDEO PICTURES" with
// the stream's endpoints, the columns "No.", "ADDRESS" and "SIZE" followed by the codec's
// own, each row in the colour of its picture type. Marked frames (by the file address of
// their bytes) are drawn in the marker colour with "*" before their number.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "stream/CAvStream.h"
#include "view/CListModel.h"

namespace fennik {

class CView_VideoFrameList : public CListSource {
 public:
  // `columns` holds every column, "No.", "ADDRESS" and "SIZE" first.
  CView_VideoFrameList(CAvStream& stream, std::span<const ListColumn> columns)
      : stream_(stream), columns_(columns) {}

  uint64_t Count() const override { return stream_.Frames().GetCount(); }
  void PrintHeader(const CListModel& list, CFieldTree& tree) const override;
  void ColumnTitle(CRowLine& line) const override;
  bool ItemRow(uint64_t index, CRowLine& line, int& colour) const override;
  void SetMarkers(const CMarkerQuery* markers) { markers_ = markers; }

 protected:
  // The cells of the codec's columns (those after "SIZE") and the row's colour.
  virtual void CodecCells(const FrameEntry& entry, std::vector<std::string>& cells, int& colour) const = 0;

 private:
  CAvStream& stream_;
  std::span<const ListColumn> columns_;
  const CMarkerQuery* markers_ = nullptr;
};

}  // namespace fennik
