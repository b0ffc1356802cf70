#include "view/CListModel.h"

#include <algorithm>

#include "base/IpAddress.h"
#include "view/NumberFormat.h"

namespace fennik {

void PrintDefaultListHeader(CFieldTree& tree, const std::string& fileName, uint64_t fileSize,
                            uint64_t count, uint64_t windowStart, uint64_t windowLast) {
  const int lang = tree.Language();
  tree.FieldText(0, Pick({"File Name", "ファイル名"}, lang), 0, colour::kField, fileName);
  tree.FieldText(0, Pick({"File Size", "ファイルサイズ"}, lang), 0, colour::kField,
                 FormatDecimalUnsigned(fileSize) + " bytes");
  tree.FieldText(0, Pick({"List Size", "リストサイズ"}, lang), 0, colour::kField,
                 FormatDecimalUnsigned(count));
  tree.FieldText(0, Pick({"Rage of List", "表示範囲"}, lang), 0, colour::kField,
                 FormatDecimalUnsigned(windowStart) + " - " + FormatDecimalUnsigned(windowLast));
}

void CListSource::PrintHeader(const CListModel& list, CFieldTree& tree) const {
  PrintDefaultListHeader(tree, FileName(), FileSize(), Count(), list.WindowStart(),
                         list.WindowLast());
}

void CListModel::SetSource(const CListSource* source) {
  source_ = source;
  start_ = cursor_ = firstVisible_ = 0;
}

bool CListModel::SetWindowStart(uint64_t start) {
  if (start >= Count()) return false;
  start_ = start;
  cursor_ = firstVisible_ = 0;
  return true;
}

uint64_t CListModel::WindowLength() const {
  const uint64_t count = Count();
  if (start_ >= count) return 0;
  return std::min(kWindowItems, count - start_);
}

uint64_t CListModel::WindowLast() const {
  const uint64_t length = WindowLength();
  return length == 0 ? start_ : start_ + length - 1;
}

bool CListModel::SetCursor(uint64_t indexInWindow) {
  if (indexInWindow >= WindowLength()) return false;
  cursor_ = indexInWindow;
  return true;
}

void CListModel::SetFirstVisible(uint64_t indexInWindow) {
  const uint64_t length = WindowLength();
  firstVisible_ = length == 0 ? 0 : std::min(indexInWindow, length - 1);
}

bool CListModel::SelectRow(int row) {
  if (row < 0) return false;
  return SetCursor(firstVisible_ + static_cast<uint64_t>(row));
}

void CListModel::KeepCursorVisible(int visibleRows) {
  if (visibleRows <= 0 || WindowLength() == 0) return;
  const uint64_t rows = static_cast<uint64_t>(visibleRows);
  const uint64_t length = WindowLength();
  // Scroll down: the last visible row is firstVisible + rows - 1; keep kRowsBelowCursor
  // rows after the cursor, but never scroll past the window's last page.
  const uint64_t lastVisible = firstVisible_ + rows - 1;
  if (cursor_ + kRowsBelowCursor > lastVisible) {
    uint64_t wanted = cursor_ + kRowsBelowCursor >= rows - 1 ? cursor_ + kRowsBelowCursor - (rows - 1) : 0;
    const uint64_t lastPage = length > rows ? length - rows : 0;
    firstVisible_ = std::max(firstVisible_, std::min(wanted, lastPage));
  }
  // Scroll up while earlier items exist.
  if (firstVisible_ > 0 && cursor_ < firstVisible_ + kRowsAboveCursor) {
    firstVisible_ = cursor_ > kRowsAboveCursor ? cursor_ - kRowsAboveCursor : 0;
  }
  // Whatever the margins, the cursor itself stays on screen (few visible rows).
  if (cursor_ < firstVisible_) firstVisible_ = cursor_;
  if (cursor_ > firstVisible_ + rows - 1) firstVisible_ = cursor_ - (rows - 1);
}

std::vector<ViewRow> CListModel::Render(int itemRows, int language) const {
  CFieldTree tree(language);
  if (source_ == nullptr) return {};
  source_->PrintHeader(*this, tree);
  std::vector<ViewRow> rows = tree.TakeRows();

  CRowLine line;
  source_->ColumnTitle(line);
  ViewRow title;
  title.text = line.Text();
  title.colour = colour::kListTitle;
  title.title = true;
  rows.push_back(std::move(title));

  const uint64_t length = WindowLength();
  for (uint64_t i = firstVisible_; i < length && itemRows > 0; ++i, --itemRows) {
    line.Clear();
    int colourIndex = colour::kListRow;
    ViewRow row;
    if (source_->ItemRow(start_ + i, line, colourIndex)) {
      if (i == cursor_) {
        colourIndex = colour::kListCursor;
        line.Put(2, language == kLanguageJapanese ? "⇒" : "->");
      }
      row.text = line.Text();
      row.colour = colourIndex;
    } else {
      row.colour = colour::kListRow;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

int PutColumnTitles(CRowLine& line, std::span<const ListColumn> columns, int column) {
  for (const ListColumn& c : columns) {
    line.PutRight(column, c.width - 1, c.title);
    column += c.width;
  }
  return column;
}

void PrintEndpointRows(CFieldTree& tree, uint32_t sourceAddress, uint16_t sourcePort,
                       uint32_t destinationAddress, uint16_t destinationPort) {
  auto endpoint = [](uint32_t address, uint16_t port) {
    return std::string(FormatIpAddress(address).text) + " (" + std::to_string(port) + ")";
  };
  tree.FieldText(0, "Source Port", 0, colour::kField, endpoint(sourceAddress, sourcePort));
  tree.FieldText(0, "Destination Port", 0, colour::kField, endpoint(destinationAddress, destinationPort));
}

}  // namespace fennik
