// The picture views of a video page: CVideoView shows one decoded picture, reduced by a
// power of two when it does not fit (reduction modes), with an overlay of macroblock
// information; CZoomVideo shows a 512 x 512 magnification of the region around a point of
// interest. Both report clicks in picture coordinates.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QObject>
#include <QRect>
#include <cstdint>
#include <vector>

namespace fennik {

// One macroblock of the overlay, in picture pixels.
struct VideoCell {
  QRect rect;
  uint8_t flags = 0;  // kCellIntra, kCellSkip, kCellDecoded
  int16_t slice = -1;
};
constexpr uint8_t kCellDecoded = 1;
constexpr uint8_t kCellIntra = 2;
constexpr uint8_t kCellSkip = 4;

// Overlay modes: what is drawn over the picture.
enum VideoOverlay : int {
  kOverlayNone = 0,
  kOverlayGrid = 1,          // macroblock grid
  kOverlayMark = 2,          // the selected macroblock's frame only
  kOverlayGridMark = 3,      // grid and selected macroblock (the default)
  kOverlayKinds = 8,         // intra macroblocks tinted red, skipped ones blue, mark
  kOverlaySlices = 9,        // each slice tinted in its own colour, grid, mark
};

// The divisors of a reduction mode (high four bits horizontal, low four vertical; codes 0,
// 1, 2, 4 mean 1, 2, 4, 8); false for a mode without divisors.
bool ReductionDivisors(int mode, int& dx, int& dy);
// The automatic mode for a picture in a display area: the smallest equal reduction that
// fits both directions (0x00, 0x11, 0x22 or 0x44).
int ChooseReductionMode(int pictureWidth, int pictureHeight, int displayWidth, int displayHeight);
// The picture reduced by the mode's divisors: each shown pixel averages the pixels it covers,
// channel by channel, pairwise ((a >> 1) + (b >> 1) + (a & b & 1)).
QImage ReducePicture(const QImage& picture, int mode);

class CVideoView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int kMargin = 10;

  explicit CVideoView(QWidget* parent = nullptr);

  // A new picture (32-bit RGB). The reduction is chosen again when its size changed.
  // `reduced` may carry the picture already reduced with `reducedMode` (made off the UI
  // thread); it is shown when that is the mode the view uses, else the view reduces.
  void SetPicture(const QImage& picture, const QImage& reduced = {}, int reducedMode = -1);
  const QImage& Picture() const { return picture_; }
  void SetCells(std::vector<VideoCell> cells);
  // The selected macroblock's rectangle in picture pixels (empty: none).
  void SetMark(const QRect& mark);
  const QRect& Mark() const { return mark_; }
  void SetOverlayMode(int mode);
  int OverlayMode() const { return overlay_; }
  // -1: automatic (the picture fits the view); else a fixed reduction mode.
  void SetReductionMode(int mode);
  int ReductionMode() const { return mode_; }
  bool AutomaticReduction() const { return automatic_; }
  // The mode the view would use for a picture of that size (automatic: what fits).
  int ModeFor(QSize picture) const;
  QSize ShownSize() const { return shown_.size(); }
  // The picture position of a view position; false in the margin or outside the picture.
  virtual bool ViewToPicture(const QPoint& at, int& x, int& y) const;

 Q_SIGNALS:
  void pictureClicked(int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  virtual void Rebuild();
  void UpdateScrollBars();
  // Draws the overlay for pixels of the picture shown at `origin`, `scale` shown pixels per
  // picture pixel in each direction.
  void DrawOverlay(QPainter& painter, QPointF origin, double sx, double sy, const QRect& region) const;

  QImage picture_;
  QImage shown_;
  QImage prepared_;  // the reduced picture handed with SetPicture, until the rebuild
  int preparedMode_ = -1;
  std::vector<VideoCell> cells_;
  QRect mark_;
  int overlay_ = kOverlayGridMark;
  int mode_ = 0;
  bool automatic_ = true;
};

// The zoom view: a region of 512 / factor picture pixels square around the point of
// interest, each pixel drawn factor x factor times.
class CZoomVideo : public CVideoView {
 public:
  static constexpr int kSize = 512;

  explicit CZoomVideo(QWidget* parent = nullptr);
  void SetFactor(int factor);
  int Factor() const { return factor_; }
  // Moves the region when the point leaves it; the region stays inside the picture.
  void SetPointOfInterest(int x, int y);
  QRect Region() const { return QRect(originX_, originY_, kSize / factor_, kSize / factor_); }
  bool ViewToPicture(const QPoint& at, int& x, int& y) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void Rebuild() override;

 private:
  void ClampRegion();

  int factor_ = 4;
  int originX_ = 0;
  int originY_ = 0;
  int pointX_ = 0;
  int pointY_ = 0;
};

}  // namespace fennik
