// The character-cell painter shared by every view: draws rows of the toolkit-free view
// model (text at character columns, colour index, title rows, grid columns, colour spans)
// into a back buffer with QPainter, with scroll bars over rows and columns.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QPixmap>
#include <vector>

#include "ui/ViewStyle.h"
#include "view/ViewRow.h"

namespace fennik {

// The font a style asks for: its name (or the language's default face) at its pixel size,
// falling back to the system's fixed-pitch font when the face is missing or proportional.
QFont CellFont(const ViewStyle& style);
// A colour table entry 0x00BBGGRR as a QColor.
QColor CellColor(uint32_t bgr);

class CCellView : public QAbstractScrollArea {
 public:
  explicit CCellView(const ViewStyle* style, QWidget* parent = nullptr);

  // Re-reads font and colours from the style (after a settings dialog) and repaints.
  void StyleChanged();
  int CharWidth() const { return charWidth_; }
  int RowPitch() const { return rowPitch_; }
  // Item rows that fit in the viewport (a partly visible last row does not count).
  int VisibleRows() const;
  int FirstColumn() const { return firstColumn_; }
  // The rows painted last, from the first painted row (tests and screenshots read them).
  const std::vector<ViewRow>& PaintedRows() const { return painted_; }

 protected:
  // The rows to paint. `visibleRows` rows fit; the view paints rows[firstRow...] where
  // firstRow is returned through `firstRow` (scrolling views) or 0 (views that scroll
  // themselves, like the list).
  virtual std::vector<ViewRow> Content(int visibleRows, int& firstRow) = 0;
  // Total rows, for the vertical scroll bar of views that do not scroll themselves.
  virtual void UpdateScrollBars(int totalRows, int widestRow);
  void UpdateHorizontalBar(int widestRow);

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

  const ViewStyle* style_;

 private:
  void DrawRow(QPainter& painter, const ViewRow& row, int y);
  void DrawText(QPainter& painter, const std::u32string& text, int from, int to, int y,
                uint32_t colourIndex);

  QFont font_;
  int charWidth_ = 8;
  int rowPitch_ = 16;
  int ascent_ = 12;
  int firstColumn_ = 0;
  QPixmap buffer_;
  std::vector<ViewRow> painted_;
};

}  // namespace fennik
