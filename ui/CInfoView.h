// An information view: field rows (packet headers, frame fields) that scroll as a whole.
#pragma once

#include "ui/CCellView.h"

namespace fennik {

class CInfoView : public CCellView {
 public:
  using CCellView::CCellView;
  void SetRows(std::vector<ViewRow> rows);
  const std::vector<ViewRow>& Rows() const { return rows_; }

 protected:
  std::vector<ViewRow> Content(int visibleRows, int& firstRow) override;

 private:
  std::vector<ViewRow> rows_;
};

}  // namespace fennik
