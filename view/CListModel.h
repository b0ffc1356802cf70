// The non-drawing part of a list view: a window of at most 30,000 items over a source's
// items, a cursor inside the window, the first visible item, the rule that keeps the
// cursor visible, and the rows a page of the list shows (header area, column title row,
// item rows in the colours of their roles).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "view/CFieldTree.h"
#include "view/ViewRow.h"

namespace fennik {

class CListModel;

// Markers set by the user (the navigation's marker list): a list row is marked when its
// item's file offset, or its key (the packet number in the packet lists; ~0u when the list
// has none), is in the table.
class CMarkerQuery {
 public:
  virtual ~CMarkerQuery() = default;
  virtual bool IsMarked(uint64_t fileOffset, uint32_t key) const = 0;
};

// A list column: its title and its width in character cells.
struct ListColumn {
  const char* title;
  int width;
};
// Writes the titles right-aligned into consecutive columns from `column`; returns the column
// after the last.
int PutColumnTitles(CRowLine& line, std::span<const ListColumn> columns, int column = 0);
// The "Source Port" and "Destination Port" rows of a stream list's header: the address (IPv4
// or IPv6) and the port in brackets.
void PrintEndpointRows(CFieldTree& tree, uint32_t sourceAddress, uint16_t sourcePort,
                       uint32_t destinationAddress, uint16_t destinationPort);

// What a page supplies to its list.
class CListSource {
 public:
  virtual ~CListSource() = default;
  virtual uint64_t Count() const = 0;
  // The header area above the column title row; the default prints the four rows of
  // PrintDefaultListHeader with the source's file name and size.
  virtual void PrintHeader(const CListModel& list, CFieldTree& tree) const;
  virtual std::string FileName() const { return {}; }
  virtual uint64_t FileSize() const { return 0; }
  // The column title row.
  virtual void ColumnTitle(CRowLine& line) const = 0;
  // Fills the row of item `index` (0 ≤ index < Count()); may set another colour than the
  // default colour::kListRow. Returns false when it has no row for the item.
  virtual bool ItemRow(uint64_t index, CRowLine& line, int& colour) const = 0;
};

// "File Name", "File Size" (bytes), "List Size" (colour 4) and "Rage of List" (window start -
// window's last index) as field rows.
void PrintDefaultListHeader(CFieldTree& tree, const std::string& fileName, uint64_t fileSize,
                            uint64_t count, uint64_t windowStart, uint64_t windowLast);

class CListModel {
 public:
  static constexpr uint64_t kWindowItems = 30000;
  // Rows kept below and above the cursor when it moves (KeepCursorVisible).
  static constexpr int kRowsBelowCursor = 5;
  static constexpr int kRowsAboveCursor = 3;

  // Binds the source and resets window start, cursor and scroll.
  void SetSource(const CListSource* source);
  const CListSource* Source() const { return source_; }

  uint64_t Count() const { return source_ ? source_->Count() : 0; }
  // Refused (false, nothing changes) outside 0..Count()-1. Resets cursor and scroll.
  bool SetWindowStart(uint64_t start);
  uint64_t WindowStart() const { return start_; }
  uint64_t WindowLength() const;
  // Index of the window's last item (start + length - 1); the start when the window is empty.
  uint64_t WindowLast() const;

  // The cursor as an index inside the window; refused outside it.
  bool SetCursor(uint64_t indexInWindow);
  uint64_t Cursor() const { return cursor_; }
  uint64_t CursorItem() const { return start_ + cursor_; }

  // The first visible item, as an index inside the window (the vertical scroll).
  void SetFirstVisible(uint64_t indexInWindow);
  uint64_t FirstVisible() const { return firstVisible_; }

  // A click on item row `row` (0 = the first visible item): sets the cursor when the row
  // shows an item of the window. Returns false otherwise.
  bool SelectRow(int row);

  // Scrolls so that at least kRowsBelowCursor rows stay below the cursor and, while earlier
  // items exist, kRowsAboveCursor rows above it, with `visibleRows` item rows on screen.
  void KeepCursorVisible(int visibleRows);

  // The rows of the list: header area, column title row, and `itemRows` item rows from the
  // first visible item (blank rows in colour 25 where the page has no row).
  std::vector<ViewRow> Render(int itemRows, int language) const;

 private:
  const CListSource* source_ = nullptr;
  uint64_t start_ = 0;
  uint64_t cursor_ = 0;
  uint64_t firstVisible_ = 0;
};

}  // namespace fennik
