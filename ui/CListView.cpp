#include "ui/CListView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

namespace fennik {

CListView::CListView(const ViewStyle* style, QWidget* parent) : CCellView(style, parent) {}

void CListView::SetSource(const CListSource* source, ItemAddress addressOf) {
  model_.SetSource(source);
  addressOf_ = std::move(addressOf);
  viewport()->update();
}

int CListView::HeaderRows() const {
  // The header's rows do not depend on the items shown.
  return static_cast<int>(model_.Render(0, style_->language).size());
}

int CListView::ItemRows() const { return std::max(1, VisibleRows() - HeaderRows()); }

uint64_t CListView::CursorItem() const {
  return model_.WindowLength() == 0 ? kNoItem : model_.CursorItem();
}

void CListView::Announce() {
  viewport()->update();
  if (model_.WindowLength() != 0) Q_EMIT itemSelected(model_.CursorItem());
}

uint64_t CListView::Navigate(int kind, uint64_t value) {
  const uint64_t cursor = fennik::Navigate(model_, kind, value, ItemRows(), addressOf_);
  if (cursor != kNoItem) {
    // Centring near the window's end would leave rows empty below the last item: the last
    // page is shown instead (the cursor stays on it).
    const uint64_t rows = static_cast<uint64_t>(ItemRows());
    const uint64_t length = model_.WindowLength();
    const uint64_t lastPage = length > rows ? length - rows : 0;
    if (model_.FirstVisible() > lastPage) model_.SetFirstVisible(lastPage);
    Announce();
  }
  return cursor;
}

bool CListView::Previous() {
  if (!NavigatePrevious(model_, ItemRows())) return false;
  Announce();
  return true;
}

bool CListView::Next() {
  if (!NavigateNext(model_, ItemRows())) return false;
  Announce();
  return true;
}

std::vector<ViewRow> CListView::Content(int visibleRows, int& firstRow) {
  firstRow = 0;
  const int itemRows = std::max(0, visibleRows - HeaderRows());
  return model_.Render(itemRows, style_->language);
}

void CListView::UpdateScrollBars(int totalRows, int widestRow) {
  // The vertical bar scrolls the items of the window; the header stays in place. Its range
  // is set once per paint: setting the base's range for the rows painted first would clamp
  // the value and set it back, and each of those changes asks for another paint (a list
  // scrolled away from its top repainted itself without end).
  (void)totalRows;
  updatingBars_ = true;
  UpdateHorizontalBar(widestRow);
  const int length = static_cast<int>(model_.WindowLength());
  verticalScrollBar()->setRange(0, std::max(0, length - ItemRows()));
  verticalScrollBar()->setPageStep(ItemRows());
  verticalScrollBar()->setValue(static_cast<int>(model_.FirstVisible()));
  updatingBars_ = false;
}

void CListView::scrollContentsBy(int dx, int dy) {
  if (!updatingBars_ && dy != 0) model_.SetFirstVisible(static_cast<uint64_t>(verticalScrollBar()->value()));
  CCellView::scrollContentsBy(dx, dy);
}

void CListView::mousePressEvent(QMouseEvent* event) {
  const int row = static_cast<int>(event->position().y()) / RowPitch() - HeaderRows();
  if (row >= 0 && model_.SelectRow(row)) Announce();
  CCellView::mousePressEvent(event);
}

void CListView::keyPressEvent(QKeyEvent* event) {
  const int rows = ItemRows();
  switch (event->key()) {
    case Qt::Key_Up: Previous(); return;
    case Qt::Key_Down: Next(); return;
    case Qt::Key_PageUp:
      if (model_.WindowLength()) {
        model_.SetCursor(model_.Cursor() > static_cast<uint64_t>(rows) ? model_.Cursor() - rows : 0);
        model_.KeepCursorVisible(rows);
        Announce();
      }
      return;
    case Qt::Key_PageDown:
      if (model_.WindowLength()) {
        model_.SetCursor(std::min(model_.Cursor() + rows, model_.WindowLength() - 1));
        model_.KeepCursorVisible(rows);
        Announce();
      }
      return;
    case Qt::Key_Home: Navigate(event->modifiers() & Qt::ControlModifier ? kNavFileTop : kNavWindowTop, 0); return;
    case Qt::Key_End: Navigate(event->modifiers() & Qt::ControlModifier ? kNavFileEnd : kNavWindowEnd, 0); return;
    default: CCellView::keyPressEvent(event);
  }
}

}  // namespace fennik
