#include "ui/CVideoView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace fennik {
namespace {

int DivisorOfCode(int code) {
  switch (code) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 4;
    case 4: return 8;
    default: return 0;
  }
}

int CodeFor(int picture, int display) {
  if (picture <= display) return 0;
  if (picture / 2 <= display) return 1;
  if (picture / 4 <= display) return 2;
  return 4;
}

// Pairwise average of two pixels, per 8-bit channel, without carries between channels.
inline uint32_t Average(uint32_t a, uint32_t b) { return ((a >> 1) & 0x7F7F7F7Fu) + ((b >> 1) & 0x7F7F7F7Fu) + (a & b & 0x01010101u); }

const QColor kMarkColour(0xFF, 0xFF, 0x00);     // yellow
const QColor kGridColour(0x80, 0x80, 0x80, 200);
const QColor kSliceColours[] = {QColor(255, 0, 0, 60), QColor(0, 200, 0, 60), QColor(0, 0, 255, 60),
                                QColor(255, 160, 0, 60), QColor(200, 0, 200, 60), QColor(0, 200, 200, 60)};

}  // namespace

bool ReductionDivisors(int mode, int& dx, int& dy) {
  dx = DivisorOfCode((mode >> 4) & 15);
  dy = DivisorOfCode(mode & 15);
  return mode >= 0 && mode <= 0xFF && dx != 0 && dy != 0;
}

int ChooseReductionMode(int pictureWidth, int pictureHeight, int displayWidth, int displayHeight) {
  const int d = std::max(CodeFor(pictureWidth, displayWidth), CodeFor(pictureHeight, displayHeight));
  return d * 16 + d;
}

namespace {

// The pairwise average of N pixels: adjacent pairs first, then pairs of their results.
template <int N>
inline uint32_t Tree(const uint32_t* v) {
  if constexpr (N == 1) return v[0];
  else return Average(Tree<N / 2>(v), Tree<N / 2>(v + N / 2));
}

// One output row of the reduction with divisors DX x DY: pairwise averages along each source
// row, then the rows' results the same way. Columns past the picture repeat its last one.
template <int DX, int DY>
void ReduceRow(const uint32_t* const* lines, int w, uint32_t* dst, int outW) {
  const int inside = std::min(outW, w / DX);  // output pixels with all their columns inside
  uint32_t row[DX];
  uint32_t column[DY];
  for (int x = 0; x < inside; ++x) {
    for (int r = 0; r < DY; ++r) column[r] = Tree<DX>(lines[r] + x * DX);
    dst[x] = Tree<DY>(column) | 0xFF000000u;
  }
  for (int x = inside; x < outW; ++x) {
    for (int r = 0; r < DY; ++r) {
      for (int c = 0; c < DX; ++c) row[c] = lines[r][std::min(x * DX + c, w - 1)];
      column[r] = Tree<DX>(row);
    }
    dst[x] = Tree<DY>(column) | 0xFF000000u;
  }
}

using RowReducer = void (*)(const uint32_t* const*, int, uint32_t*, int);

template <int DX>
RowReducer ReducerFor(int dy) {
  switch (dy) {
    case 1: return ReduceRow<DX, 1>;
    case 2: return ReduceRow<DX, 2>;
    case 4: return ReduceRow<DX, 4>;
    default: return ReduceRow<DX, 8>;
  }
}

RowReducer ReducerFor(int dx, int dy) {
  switch (dx) {
    case 1: return ReducerFor<1>(dy);
    case 2: return ReducerFor<2>(dy);
    case 4: return ReducerFor<4>(dy);
    default: return ReducerFor<8>(dy);
  }
}

}  // namespace

QImage ReducePicture(const QImage& picture, int mode) {
  int dx = 1, dy = 1;
  if (picture.isNull() || !ReductionDivisors(mode, dx, dy) || (dx == 1 && dy == 1)) return picture;
  const QImage source = picture.convertToFormat(QImage::Format_RGB32);
  const int w = source.width(), h = source.height();
  // Odd sizes round up where the table of modes does ((W + 1) / 2 for the wider divisor).
  const int outW = dx > dy ? (w + 1) / dx : w / dx;
  const int outH = dx > dy && dy > 1 ? (h + 1) / dy : h / dy;
  QImage out(std::max(outW, 1), std::max(outH, 1), QImage::Format_RGB32);
  const RowReducer reduce = ReducerFor(dx, dy);
  const uint32_t* lines[8];
  for (int y = 0; y < out.height(); ++y) {
    for (int r = 0; r < dy; ++r)
      lines[r] = reinterpret_cast<const uint32_t*>(source.constScanLine(std::min(y * dy + r, h - 1)));
    reduce(lines, w, reinterpret_cast<uint32_t*>(out.scanLine(y)), out.width());
  }
  return out;
}

CVideoView::CVideoView(QWidget* parent) : QAbstractScrollArea(parent) {
  viewport()->setAutoFillBackground(false);
  // The paint covers the whole viewport: what lies under it is not painted first.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(120, 90);
}

void CVideoView::SetPicture(const QImage& picture, const QImage& reduced, int reducedMode) {
  const bool resized = picture.size() != picture_.size();
  picture_ = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
  if (resized && automatic_) mode_ = -1;
  prepared_ = reduced;
  preparedMode_ = reducedMode;
  Rebuild();
  prepared_ = QImage();
}

int CVideoView::ModeFor(QSize picture) const {
  if (!automatic_) return mode_;
  return ChooseReductionMode(picture.width(), picture.height(), viewport()->width() - 2 * kMargin,
                             viewport()->height() - 2 * kMargin);
}

void CVideoView::SetCells(std::vector<VideoCell> cells) {
  cells_ = std::move(cells);
  viewport()->update();
}

void CVideoView::SetMark(const QRect& mark) {
  mark_ = mark;
  viewport()->update();
}

void CVideoView::SetOverlayMode(int mode) {
  overlay_ = mode;
  viewport()->update();
}

void CVideoView::SetReductionMode(int mode) {
  if (mode >= 0 && !automatic_ && mode == mode_) return;  // nothing to rebuild
  automatic_ = mode < 0;
  mode_ = mode;
  Rebuild();
}

void CVideoView::Rebuild() {
  if (picture_.isNull()) {
    shown_ = QImage();
  } else {
    mode_ = ModeFor(picture_.size());
    shown_ = !prepared_.isNull() && preparedMode_ == mode_ ? prepared_ : ReducePicture(picture_, mode_);
  }
  UpdateScrollBars();
  viewport()->update();
}

void CVideoView::UpdateScrollBars() {
  const QSize view = viewport()->size();
  horizontalScrollBar()->setRange(0, std::max(0, shown_.width() + 2 * kMargin - view.width()));
  verticalScrollBar()->setRange(0, std::max(0, shown_.height() + 2 * kMargin - view.height()));
  horizontalScrollBar()->setPageStep(view.width());
  verticalScrollBar()->setPageStep(view.height());
}

void CVideoView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Rebuild();
}

bool CVideoView::ViewToPicture(const QPoint& at, int& x, int& y) const {
  if (shown_.isNull()) return false;
  const int sx = at.x() + horizontalScrollBar()->value() - kMargin;
  const int sy = at.y() + verticalScrollBar()->value() - kMargin;
  if (sx < 0 || sy < 0 || sx >= shown_.width() || sy >= shown_.height()) return false;
  int dx = 1, dy = 1;
  if (!ReductionDivisors(mode_, dx, dy)) dx = dy = 1;
  x = std::min(sx * dx, picture_.width() - 1);
  y = std::min(sy * dy, picture_.height() - 1);
  return true;
}

void CVideoView::mousePressEvent(QMouseEvent* event) {
  int x = 0, y = 0;
  if (event->button() == Qt::LeftButton && ViewToPicture(event->position().toPoint(), x, y)) {
    Q_EMIT pictureClicked(x, y);
  }
  QAbstractScrollArea::mousePressEvent(event);
}

void CVideoView::DrawOverlay(QPainter& painter, QPointF origin, double sx, double sy, const QRect& region) const {
  if (overlay_ == kOverlayNone) return;
  auto toView = [&](const QRect& r) {
    return QRectF(origin.x() + (r.x() - region.x()) * sx, origin.y() + (r.y() - region.y()) * sy, r.width() * sx,
                  r.height() * sy);
  };
  const bool grid = overlay_ == kOverlayGrid || overlay_ == kOverlayGridMark || overlay_ == kOverlaySlices;
  const bool fills = overlay_ >= kOverlayKinds;
  // Without fills the grid goes to the painter in one call (a 720p picture has 3600 cells);
  // with them each cell's frame follows its fill, as overlapping field cells need.
  std::vector<QRectF> frames;
  if (grid && !fills) frames.reserve(cells_.size());
  painter.setPen(kGridColour);
  for (const VideoCell& cell : cells_) {
    if (!cell.rect.intersects(region)) continue;
    const QRectF r = toView(cell.rect);
    if (overlay_ == kOverlayKinds && (cell.flags & kCellDecoded)) {
      if (cell.flags & kCellIntra) painter.fillRect(r, QColor(255, 0, 0, 70));
      else if (cell.flags & kCellSkip) painter.fillRect(r, QColor(0, 80, 255, 70));
    }
    if (overlay_ == kOverlaySlices && cell.slice >= 0) {
      painter.fillRect(r, kSliceColours[static_cast<size_t>(cell.slice) % std::size(kSliceColours)]);
    }
    if (fills && !(cell.flags & kCellDecoded)) {
      painter.fillRect(r, QColor(0, 0, 0, 120));  // not reached by any slice
    }
    if (grid && r.width() >= 4) {
      if (fills) painter.drawRect(r.adjusted(0, 0, -1, -1));
      else frames.push_back(r.adjusted(0, 0, -1, -1));
    }
  }
  if (!frames.empty()) painter.drawRects(frames.data(), static_cast<int>(frames.size()));
  if (overlay_ != kOverlayGrid && mark_.isValid() && mark_.intersects(region)) {
    painter.setPen(QPen(kMarkColour, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(toView(mark_).adjusted(1, 1, -1, -1));
  }
}

void CVideoView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().window());
  if (shown_.isNull()) return;
  const QPoint origin(kMargin - horizontalScrollBar()->value(), kMargin - verticalScrollBar()->value());
  painter.drawImage(origin, shown_);
  const double sx = picture_.isNull() ? 1.0 : static_cast<double>(shown_.width()) / picture_.width();
  const double sy = picture_.isNull() ? 1.0 : static_cast<double>(shown_.height()) / picture_.height();
  painter.setClipRect(QRect(origin, shown_.size()));
  DrawOverlay(painter, origin, sx, sy, picture_.rect());
}

CZoomVideo::CZoomVideo(QWidget* parent) : CVideoView(parent) {
  setMinimumSize(kSize / 4, kSize / 4);
}

void CZoomVideo::SetFactor(int factor) {
  factor_ = std::clamp(factor, 1, 32);
  ClampRegion();
  Rebuild();
}

void CZoomVideo::SetPointOfInterest(int x, int y) {
  pointX_ = x;
  pointY_ = y;
  const int side = kSize / factor_;
  const QPoint before(originX_, originY_);
  if (x < originX_ || x >= originX_ + side || y < originY_ || y >= originY_ + side) {
    originX_ = x - side / 2;
    originY_ = y - side / 2;
  }
  ClampRegion();
  if (QPoint(originX_, originY_) != before) Rebuild();  // the same region shows the same pixels
}

void CZoomVideo::ClampRegion() {
  const int side = kSize / factor_;
  originX_ = std::max(0, std::min(originX_, picture_.width() - side));
  originY_ = std::max(0, std::min(originY_, picture_.height() - side));
}

void CZoomVideo::Rebuild() {
  ClampRegion();
  shown_ = QImage(kSize, kSize, QImage::Format_RGB32);
  shown_.fill(Qt::black);  // pixels outside the picture stay black
  if (!picture_.isNull()) {
    for (int y = 0; y < kSize; ++y) {
      const int sy = originY_ + y / factor_;
      if (sy >= picture_.height()) break;
      const auto* src = reinterpret_cast<const uint32_t*>(picture_.constScanLine(sy));
      auto* dst = reinterpret_cast<uint32_t*>(shown_.scanLine(y));
      for (int x = 0; x < kSize; ++x) {
        const int px = originX_ + x / factor_;
        if (px >= picture_.width()) break;
        dst[x] = src[px];
      }
    }
  }
  UpdateScrollBars();
  viewport()->update();
}

bool CZoomVideo::ViewToPicture(const QPoint& at, int& x, int& y) const {
  const int sx = at.x() + horizontalScrollBar()->value() - kMargin;
  const int sy = at.y() + verticalScrollBar()->value() - kMargin;
  if (picture_.isNull() || sx < 0 || sy < 0 || sx >= kSize || sy >= kSize) return false;
  x = originX_ + sx / factor_;
  y = originY_ + sy / factor_;
  return x < picture_.width() && y < picture_.height();
}

void CZoomVideo::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), palette().window());
  const QPoint origin(kMargin - horizontalScrollBar()->value(), kMargin - verticalScrollBar()->value());
  painter.drawImage(origin, shown_);
  painter.setClipRect(QRect(origin, shown_.size()));
  DrawOverlay(painter, origin, factor_, factor_, Region());
}

}  // namespace fennik
