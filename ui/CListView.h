// A list view: the header area, the column title row and the item rows of a list source
// over the 30,000-item window, with the cursor moved by mouse, keys and navigation.
#pragma once

#include <QObject>

#include "ui/CCellView.h"
#include "ui/Navigation.h"
#include "view/CListModel.h"

namespace fennik {

class CListView : public CCellView {
  Q_OBJECT

 public:
  explicit CListView(const ViewStyle* style, QWidget* parent = nullptr);

  void SetSource(const CListSource* source, ItemAddress addressOf = {});
  CListModel& Model() { return model_; }
  const CListModel& Model() const { return model_; }

  // Navigation of the View menu; the cursor item is announced through itemSelected.
  uint64_t Navigate(int kind, uint64_t value);
  bool Previous();
  bool Next();
  // Item under the cursor; kNoItem when the list is empty.
  uint64_t CursorItem() const;
  // Rows above the first item row (header area and column title).
  int HeaderRows() const;
  void Refresh() { viewport()->update(); }

 Q_SIGNALS:
  void itemSelected(quint64 item);

 protected:
  std::vector<ViewRow> Content(int visibleRows, int& firstRow) override;
  void UpdateScrollBars(int totalRows, int widestRow) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  int ItemRows() const;
  void Announce();

  CListModel model_;
  ItemAddress addressOf_;
  bool updatingBars_ = false;
};

}  // namespace fennik
