#include "ui/CInfoView.h"

#include <QScrollBar>

namespace fennik {

void CInfoView::SetRows(std::vector<ViewRow> rows) {
  rows_ = std::move(rows);
  verticalScrollBar()->setValue(0);
  viewport()->update();
}

std::vector<ViewRow> CInfoView::Content(int, int& firstRow) {
  firstRow = verticalScrollBar()->value();
  return rows_;
}

}  // namespace fennik
