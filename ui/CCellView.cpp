#include "ui/CCellView.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace fennik {
namespace {

constexpr uint32_t kGridColour = 0xC8C8C8;
constexpr int kMaxDrawnColumns = 1024;

std::u32string ToCells(const std::string& utf8) {
  const QList<uint> ucs4 = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toUcs4();
  std::u32string cells;
  cells.reserve(static_cast<size_t>(ucs4.size()));
  for (uint c : ucs4) cells.push_back(static_cast<char32_t>(c));
  return cells;
}

}  // namespace

QColor CellColor(uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                static_cast<int>((bgr >> 16) & 0xFF));
}

QFont CellFont(const ViewStyle& style) {
  const bool japanese = style.language == 1;
  QString family = QString::fromStdString(style.fontName);
  if (family.isEmpty()) family = japanese ? QStringLiteral("ＭＳ ゴシック") : QStringLiteral("Courier New");
  const int pixels = style.fontSize > 0 ? style.fontSize : (japanese ? 12 : 14);
  QFont font(family);
  font.setPixelSize(pixels);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  const QFontInfo info(font);
  if (!info.fixedPitch() || info.family().compare(family, Qt::CaseInsensitive) != 0) {
    // The face is not installed (or not fixed-pitch): the system's fixed-pitch font, with
    // a CJK monospace face first for the Japanese interface when one is installed.
    QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (japanese && QFontDatabase::hasFamily(QStringLiteral("Noto Sans Mono CJK JP"))) {
      fallback = QFont(QStringLiteral("Noto Sans Mono CJK JP"));
    }
    fallback.setPixelSize(pixels);
    fallback.setFixedPitch(true);
    return fallback;
  }
  return font;
}

CCellView::CCellView(const ViewStyle* style, QWidget* parent) : QAbstractScrollArea(parent), style_(style) {
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  StyleChanged();
}

void CCellView::StyleChanged() {
  font_ = CellFont(*style_);
  const QFontMetrics metrics(font_);
  // Cell metrics: the average character width; row pitch = height + leading + 1.
  charWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
  rowPitch_ = std::max(1, metrics.height() + std::max(0, metrics.leading()) + 1);
  ascent_ = metrics.ascent();
  viewport()->update();
}

int CCellView::VisibleRows() const { return std::max(0, viewport()->height() / rowPitch_); }

void CCellView::UpdateScrollBars(int totalRows, int widestRow) {
  const int visible = VisibleRows();
  verticalScrollBar()->setRange(0, std::max(0, totalRows - visible));
  verticalScrollBar()->setPageStep(std::max(1, visible));
  UpdateHorizontalBar(widestRow);
}

void CCellView::UpdateHorizontalBar(int widestRow) {
  const int columns = viewport()->width() / charWidth_;
  horizontalScrollBar()->setRange(0, std::max(0, widestRow - columns + 2));
  horizontalScrollBar()->setPageStep(std::max(1, columns));
}

void CCellView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  viewport()->update();
}

void CCellView::scrollContentsBy(int, int) {
  firstColumn_ = horizontalScrollBar()->value();
  viewport()->update();
}

void CCellView::paintEvent(QPaintEvent*) {
  const QSize size = viewport()->size();
  if (size.isEmpty()) return;
  // Double buffering: draw into a pixmap of the client size, filled white, then copy it.
  if (buffer_.size() != size) buffer_ = QPixmap(size);
  buffer_.fill(Qt::white);
  firstColumn_ = horizontalScrollBar()->value();
  {
    QPainter painter(&buffer_);
    painter.setFont(font_);
    const int visible = VisibleRows();
    int firstRow = 0;
    std::vector<ViewRow> rows = Content(visible + 1, firstRow);
    firstRow = std::clamp(firstRow, 0, static_cast<int>(rows.size()));
    int widest = 0;
    for (const ViewRow& row : rows) widest = std::max(widest, static_cast<int>(row.text.size()));
    painted_.assign(rows.begin() + firstRow, rows.end());
    if (painted_.size() > static_cast<size_t>(visible + 1)) painted_.resize(static_cast<size_t>(visible + 1));
    int y = 0;
    for (const ViewRow& row : painted_) {
      DrawRow(painter, row, y);
      y += rowPitch_;
    }
    UpdateScrollBars(static_cast<int>(rows.size()), widest);
  }
  QPainter window(viewport());
  window.drawPixmap(0, 0, buffer_);
}

void CCellView::DrawRow(QPainter& painter, const ViewRow& row, int y) {
  const ColorPair& pair = style_->colors[static_cast<size_t>(std::clamp(row.colour, 0, kColorCount - 1))];
  const int width = viewport()->width();
  painter.fillRect(0, y, width, rowPitch_, CellColor(pair.background));
  const std::u32string cells = ToCells(row.text);
  const int length = std::min<int>(static_cast<int>(cells.size()), kMaxDrawnColumns);
  // The row in its own colour, then its spans over it in theirs.
  DrawText(painter, cells, 0, length, y, static_cast<uint32_t>(row.colour));
  for (const ColourSpan& span : row.spans) {
    const int from = std::clamp(span.column, 0, length);
    const int to = std::clamp(span.column + span.length, from, length);
    const ColorPair& sp = style_->colors[static_cast<size_t>(std::clamp(span.colour, 0, kColorCount - 1))];
    painter.fillRect((from - firstColumn_) * charWidth_, y, (to - from) * charWidth_, rowPitch_,
                     CellColor(sp.background));
    DrawText(painter, cells, from, to, y, static_cast<uint32_t>(span.colour));
  }
  painter.setPen(CellColor(kGridColour));
  if (row.title) {
    painter.drawLine(0, y, width, y);
    painter.drawLine(0, y + rowPitch_ - 1, width, y + rowPitch_ - 1);
  }
  for (int column : row.gridColumns) {
    const int x = (column - firstColumn_) * charWidth_ - charWidth_ / 2;
    if (x >= 0 && x < width) painter.drawLine(x, y, x, y + rowPitch_ - 1);
  }
}

// Draws the characters [from, to) of a row. Pieces are placed at their character columns:
// a run of characters separated from the next by two or more blanks starts at its own
// column, so wide (CJK) glyphs inside a piece never shift the pieces after it.
void CCellView::DrawText(QPainter& painter, const std::u32string& cells, int from, int to, int y,
                         uint32_t colourIndex) {
  const ColorPair& pair = style_->colors[std::min<uint32_t>(colourIndex, kColorCount - 1)];
  painter.setPen(CellColor(pair.text));
  const int baseline = y + ascent_;
  int i = from;
  while (i < to) {
    while (i < to && cells[static_cast<size_t>(i)] == U' ') ++i;
    if (i >= to) break;
    int end = i;
    while (end < to) {
      if (cells[static_cast<size_t>(end)] == U' ' && end + 1 < to && cells[static_cast<size_t>(end) + 1] == U' ') break;
      ++end;
    }
    const int x = (i - firstColumn_) * charWidth_;
    if (x + (end - i) * charWidth_ * 2 >= 0 && x < viewport()->width()) {
      const QString piece = QString::fromUcs4(cells.data() + i, end - i);
      painter.drawText(x, baseline, piece);
    }
    i = end;
  }
}

}  // namespace fennik
