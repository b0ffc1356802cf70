#include "app/VideoPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QSpinBox>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "app/Markers.h"
#include "codec/video/CVideoFrame.h"
#include "ui/CInfoView.h"
#include "ui/Dialogs.h"
#include "ui/ViewStyle.h"

namespace fennik {
namespace {

// The visible area of a picture, converted to 32-bit RGB with the display mode.
QImage VisibleImage(const CVideoFrame& frame, const VideoCrop& crop, int displayMode) {
  const uint32_t width = frame.Width(), height = frame.Height();
  if (width == 0 || height == 0) return {};
  // The conversion writes straight into the image (32-bit rows without padding); the
  // visible area is cut out of it when the picture is cropped.
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
  if (image.bytesPerLine() != static_cast<qsizetype>(width) * 4) return {};
  auto* pixels = reinterpret_cast<uint32_t*>(image.bits());
  frame.ConvertToRgb(pixels, displayMode);
  for (size_t i = 0, n = size_t{width} * height; i < n; ++i) pixels[i] |= 0xFF000000u;
  VideoCrop c = crop;
  if (c.width == 0 || c.height == 0 || c.left + c.width > width || c.top + c.height > height) c = {0, 0, width, height};
  if (c.left == 0 && c.top == 0 && c.width == width && c.height == height) return image;
  return image.copy(static_cast<int>(c.left), static_cast<int>(c.top), static_cast<int>(c.width), static_cast<int>(c.height));
}

// The thumbnail's scale: 1 up to 600 pixels wide, 2 up to 1080, 4 up to 2040, else 8.
int ThumbnailMode(int width) {
  const int code = width <= 600 ? 0 : (width <= 1080 ? 1 : (width <= 2040 ? 2 : 4));
  return code * 17;
}

int FullViewMode(const ViewReduction& view, QSize picture) {
  if (view.fixedMode >= 0) return view.fixedMode;
  return ChooseReductionMode(picture.width(), picture.height(), view.area.width(), view.area.height());
}

// Off the UI thread: the picture reduced for the full view and for the thumbnail, so that
// the UI thread only hands the results to the views.
void ReduceForViews(VideoDisplay& d, const ViewReduction& view) {
  if (d.picture.isNull()) return;
  const int w = d.picture.width();
  d.viewMode = FullViewMode(view, d.picture.size());
  d.viewShown = ReducePicture(d.picture, d.viewMode);
  d.thumbMode = ThumbnailMode(w);
  d.thumbShown = d.thumbMode == d.viewMode ? d.viewShown : ReducePicture(d.picture, d.thumbMode);
}

// A macroblock's rectangle in the visible picture: field macroblocks (of a field picture or
// an MBAFF field pair) cover their pair's 32 rows of the frame.
QRect MacroblockRect(const MacroblockGeometry& g, uint32_t scale, const VideoCrop& crop, uint32_t index, bool field) {
  uint32_t x = 0, y = 0;
  MacroblockToPixel(g, index, x, y);
  int top = static_cast<int>(y * scale);
  int height = static_cast<int>(16 * scale);
  if (g.mbaff && field) {
    top = static_cast<int>(y & ~31u);
    height = 32;
  }
  return QRect(static_cast<int>(x) - static_cast<int>(crop.left), top - static_cast<int>(crop.top), 16, height);
}

// The macroblock view's columns for rows without bit counts or patterns (H.264); the rows of
// other codecs widen them (FittedRows).
constexpr FieldColumns kMacroblockColumns{2, 26, 27, 28, 60};

// The rows `fill` writes, rendered again with wider columns when names or patterns would run
// into the next column (the picture headers of some codecs have long field names).
std::vector<ViewRow> FittedRows(int language, const FieldColumns& columns, const std::function<void(CFieldTree&)>& fill) {
  CFieldTree tree(language, columns);
  fill(tree);
  const FieldColumns fitted = tree.FittedColumns();
  if (fitted == columns) return tree.TakeRows();
  CFieldTree wide(language, fitted);
  fill(wide);
  return wide.TakeRows();
}

// The worker's part: decode the frame (unless the decoder holds it already), then the
// picture, the rows of the views and the overlay's macroblock map.
std::shared_ptr<VideoDisplay> BuildDisplay(CVideo_Stream& stream, uint32_t frame, uint32_t macroblock, bool picture,
                                           int language) {
  auto d = std::make_shared<VideoDisplay>();
  d->frame = frame;
  CVideoFrame decoded;
  const bool current = stream.CurrentFrame() == frame;
  if (picture || !current) {
    d->hasPicture = stream.GetFramePicture(frame, decoded) != 0;
    d->crop = stream.Crop();
    if (d->hasPicture && picture) d->picture = VisibleImage(decoded, d->crop, 0);
  } else {
    d->crop = stream.Crop();
  }
  d->geometry = stream.Geometry();
  if (d->geometry.height > 0 && decoded.Height() >= 2 * d->geometry.height) d->fieldScale = 2;
  if (picture || !current) {
    d->info = FittedRows(language, FieldColumns(), [&stream, frame](CFieldTree& tree) {
      stream.ShowFrameInfo(tree, frame);
      stream.ShowFrameDetail(tree, frame);
    });
  }
  const uint32_t count = d->geometry.count;
  d->macroblock = count == 0 ? 0 : std::min(macroblock, count - 1);
  d->cells.reserve(count);
  VideoMacroblockMark mark;
  for (uint32_t i = 0; i < count; ++i) {
    if (!stream.MacroblockMark(i, mark)) continue;
    VideoCell cell;
    cell.rect = MacroblockRect(d->geometry, d->fieldScale, d->crop, i, mark.field);
    cell.slice = static_cast<int16_t>(mark.slice);
    cell.flags = static_cast<uint8_t>((mark.decoded ? kCellDecoded : 0) | (mark.intra ? kCellIntra : 0) |
                                      (mark.skip ? kCellSkip : 0));
    d->cells.push_back(cell);
  }
  if (count > 0 && stream.MacroblockMark(d->macroblock, mark)) {
    d->mark = MacroblockRect(d->geometry, d->fieldScale, d->crop, d->macroblock, mark.field);
    const uint32_t mb = d->macroblock;
    d->macroblockRows = FittedRows(language, kMacroblockColumns,
                                   [&stream, frame, mb](CFieldTree& tree) { stream.ShowMacroblock(tree, frame, mb); });
  }
  return d;
}

}  // namespace

CVideoPage::CVideoPage(CVideo_Stream& stream, JobPoster poster, const ViewStyle* style, QWidget* parent)
    : CPage(QString::fromUtf8(stream.GetCodecName()),
            kPagePrevious | kPagePlay | kPagePause | kPageStop | (1u << 28) /* frame advance */, &stream, parent),
      video_(stream),
      poster_(std::move(poster)),
      style_(style) {
  const int language = style->language;
  stream.AttachView(nullptr);  // the frame buffer, before the worker decodes for the page
  source_ = stream.CreateFrameList();
  source_->SetMarkers(&CMarkerTable::Instance());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* vertical = new QSplitter(Qt::Vertical, this);
  // Upper half: the frame list beside the picture over the macroblock view; lower half:
  // the information tree beside the thumbnail over the zoom.
  auto* upper = new QSplitter(Qt::Horizontal, vertical);
  list_ = new CListView(style, upper);
  auto* pictureColumn = new QSplitter(Qt::Vertical, upper);
  view_ = new CVideoView(pictureColumn);
  auto* lower = new QSplitter(Qt::Horizontal, vertical);
  info_ = new CInfoView(style, lower);

  auto* mbPanel = new QWidget(pictureColumn);
  auto* mbLayout = new QVBoxLayout(mbPanel);
  mbLayout->setContentsMargins(0, 0, 0, 0);
  mbLayout->setSpacing(2);
  auto* strip = new QHBoxLayout();
  auto* previous = new QToolButton(mbPanel);
  previous->setText(QStringLiteral("<"));
  previous->setToolTip(QString::fromUtf8(Text(language, "previous", "前へ")));
  auto* next = new QToolButton(mbPanel);
  next->setText(QStringLiteral(">"));
  next->setToolTip(QString::fromUtf8(Text(language, "next", "次へ")));
  mbNumber_ = new QSpinBox(mbPanel);
  mbNumber_->setRange(0, 0);
  mbNumber_->setKeyboardTracking(false);
  overlay_ = new QComboBox(mbPanel);
  const std::pair<int, const char*> overlays[][2] = {
      {{kOverlayNone, "No overlay"}, {kOverlayNone, "表示なし"}},
      {{kOverlayGrid, "Grid"}, {kOverlayGrid, "グリッド"}},
      {{kOverlayMark, "Selected MB"}, {kOverlayMark, "選択MB"}},
      {{kOverlayGridMark, "Grid + selected"}, {kOverlayGridMark, "グリッド+選択MB"}},
      {{kOverlayKinds, "Intra/skip"}, {kOverlayKinds, "イントラ/スキップ"}},
      {{kOverlaySlices, "Slices"}, {kOverlaySlices, "スライス"}},
  };
  for (const auto& o : overlays) overlay_->addItem(QString::fromUtf8(o[language == 1 ? 1 : 0].second), o[0].first);
  overlay_->setCurrentIndex(3);
  fieldDisplay_ = new QCheckBox(QString::fromUtf8(Text(language, "Fields", "フィールド")), mbPanel);
  strip->addWidget(previous);
  strip->addWidget(mbNumber_);
  strip->addWidget(next);
  strip->addWidget(overlay_);
  strip->addWidget(fieldDisplay_);
  strip->addStretch(1);
  mbLayout->addLayout(strip);
  mbInfo_ = new CInfoView(style, mbPanel);
  mbLayout->addWidget(mbInfo_, 1);

  auto* pictures = new QSplitter(Qt::Vertical, lower);
  thumb_ = new CVideoView(pictures);
  zoom_ = new CZoomVideo(pictures);
  // The information tree up to its values and the 512-pixel zoom with its margins.
  const int bar = info_->verticalScrollBar()->sizeHint().width() + 4;
  lower->setSizes({info_->CharWidth() * (FieldColumns().value + 22) + bar,
                   CZoomVideo::kSize + 2 * CVideoView::kMargin + bar});
  upper->setSizes({list_->CharWidth() * 72, mbInfo_->CharWidth() * (kMacroblockColumns.comment + 24)});
  vertical->setStretchFactor(0, 1);
  vertical->setStretchFactor(1, 1);
  layout->addWidget(vertical);

  CVideo_Stream* video = &video_;
  // A frame's address is that of its first byte, as the list shows it and markers keep it.
  list_->SetSource(source_.get(), [video](uint64_t frame, uint64_t& address) {
    FrameEntry entry;
    if (!video->Frames().Get(frame, &address, &entry)) return false;
    address += entry.frameOffset;
    return true;
  });
  connect(list_, &CListView::itemSelected, this, [this](quint64 frame) { ShowItem(frame); });
  connect(view_, &CVideoView::pictureClicked, this, [this](int x, int y) { SelectPixel(x, y); });
  connect(thumb_, &CVideoView::pictureClicked, this, [this](int x, int y) { SelectPixel(x, y); });
  connect(zoom_, &CVideoView::pictureClicked, this, [this](int x, int y) { SelectPixel(x, y); });
  connect(previous, &QToolButton::clicked, this, [this] {
    if (wantedMacroblock_ > 0) SelectMacroblock(wantedMacroblock_ - 1);
  });
  connect(next, &QToolButton::clicked, this, [this] {
    if (wantedMacroblock_ + 1 < shown_.geometry.count) SelectMacroblock(wantedMacroblock_ + 1);
  });
  connect(mbNumber_, &QSpinBox::valueChanged, this, [this](int value) {
    if (value >= 0 && static_cast<uint32_t>(value) != wantedMacroblock_) SelectMacroblock(static_cast<uint32_t>(value));
  });
  connect(overlay_, &QComboBox::currentIndexChanged, this, [this](int) {
    const int mode = overlay_->currentData().toInt();
    view_->SetOverlayMode(mode);
    zoom_->SetOverlayMode(mode);
  });
  thumb_->SetOverlayMode(kOverlayMark);
  shown_.frame = CAvStream::kNone;
  if (source_->Count() > 0) ShowItem(0);
}

CVideoPage::~CVideoPage() = default;

bool CVideoPage::FieldDisplay() const { return fieldDisplay_->isChecked(); }

void CVideoPage::StyleChanged() { CPage::StyleChanged(), mbInfo_->StyleChanged(); }

bool CVideoPage::ToggleMarker() {
  const uint64_t frame = list_->CursorItem();
  uint64_t address = 0;
  FrameEntry entry;
  if (frame == kNoItem || !video_.Frames().Get(frame, &address, &entry)) return false;
  const bool changed = CMarkerTable::Instance().Toggle(address + entry.frameOffset);
  list_->Refresh();
  return changed;
}

void CVideoPage::ShowItem(uint64_t frame) {
  if (frame >= video_.Frames().GetCount()) return;
  Request(static_cast<uint32_t>(frame), wantedMacroblock_, true);
}

void CVideoPage::SelectPixel(int x, int y) {
  if (shown_.geometry.count == 0 || x < 0 || y < 0) return;
  const uint32_t px = static_cast<uint32_t>(x) + shown_.crop.left;
  const uint32_t py = (static_cast<uint32_t>(y) + shown_.crop.top) / shown_.fieldScale;
  zoom_->SetPointOfInterest(x, y);
  SelectMacroblock(PixelToMacroblock(shown_.geometry, px, py));
}

void CVideoPage::SelectMacroblock(uint32_t index) {
  if (shown_.frame == CAvStream::kNone) return;
  Request(shown_.frame, index, false);
}

void CVideoPage::Request(uint32_t frame, uint32_t macroblock, bool picture) {
  wantedFrame_ = frame;
  wantedMacroblock_ = macroblock;
  CVideo_Stream* stream = &video_;
  const int language = style_->language;
  const ViewReduction reduction = FullViewReduction();
  QPointer<CVideoPage> self(this);
  auto job = [stream, frame, macroblock, picture, language, reduction, self] {
    std::shared_ptr<VideoDisplay> display = BuildDisplay(*stream, frame, macroblock, picture, language);
    ReduceForViews(*display, reduction);
    QMetaObject::invokeMethod(
        self.data(), [self, display] { if (self) self->OnDisplay(display); }, Qt::QueuedConnection);
  };
  if (!poster_ || !poster_(job)) {
    // Without a worker (a page built on its own) the page decodes for itself.
    OnDisplay(BuildDisplay(video_, frame, macroblock, picture, language));
  }
}

ViewReduction CVideoPage::FullViewReduction() const {
  const QSize area = view_->viewport()->size() - QSize(2 * CVideoView::kMargin, 2 * CVideoView::kMargin);
  return {view_->AutomaticReduction() ? -1 : view_->ReductionMode(), area};
}

void CVideoPage::OnDisplay(std::shared_ptr<VideoDisplay> display) {
  VideoDisplay& d = *display;
  if (d.frame != wantedFrame_) return;  // a later request is on its way
  const bool picture = !d.picture.isNull();
  if (picture || !d.hasPicture) {
    if (picture) {
      view_->SetPicture(d.picture, d.viewShown, d.viewMode);
      zoom_->SetPicture(d.picture);
      thumb_->SetReductionMode(ThumbnailMode(d.picture.width()));
      thumb_->SetPicture(d.picture, d.thumbShown, d.thumbMode);
    }
    info_->SetRows(d.info);
  } else {
    d.picture = shown_.picture;
    if (d.info.empty()) d.info = shown_.info;
  }
  shown_ = std::move(d);
  view_->SetCells(shown_.cells);
  zoom_->SetCells(shown_.cells);
  mbNumber_->blockSignals(true);
  mbNumber_->setRange(0, std::max<int>(0, static_cast<int>(shown_.geometry.count) - 1));
  mbNumber_->setValue(static_cast<int>(shown_.macroblock));
  mbNumber_->blockSignals(false);
  wantedMacroblock_ = shown_.macroblock;
  ApplyMark();
  mbInfo_->SetRows(shown_.macroblockRows);
}

void CVideoPage::ApplyMark() {
  view_->SetMark(shown_.mark);
  thumb_->SetMark(shown_.mark);
  zoom_->SetMark(shown_.mark);
  if (shown_.mark.isValid()) zoom_->SetPointOfInterest(shown_.mark.center().x(), shown_.mark.center().y());
}

namespace {

// A picture of the play ring as the worker prepared it for the full view, by display mode:
// the whole picture, or with field display its top and bottom fields (the other field's
// rows interpolated).
struct PlayPicture : PreparedPicture {
  QImage picture[3];
  QImage shown[3];  // reduced with `mode`
  int mode = -1;
};

}  // namespace

PicturePreparer CVideoPage::PlayPreparer() const {
  const VideoCrop crop = shown_.crop;
  const ViewReduction reduction = FullViewReduction();
  const bool fields = FieldDisplay();
  return [crop, reduction, fields](const CVideoFrame& frame) -> std::shared_ptr<PreparedPicture> {
    auto prepared = std::make_shared<PlayPicture>();
    const bool split = fields && frame.field_type != 0;
    for (int m = split ? 1 : 0; m <= (split ? 2 : 0); ++m) {
      QImage image = VisibleImage(frame, crop, m);
      if (image.isNull()) return nullptr;
      if (prepared->mode < 0) prepared->mode = FullViewMode(reduction, image.size());
      prepared->shown[m] = ReducePicture(image, prepared->mode);
      prepared->picture[m] = std::move(image);
    }
    return prepared;
  };
}

// Without a prepared image for the display mode (field display switched on during the
// play) the picture is converted here.
void CVideoPage::ShowPlayPicture(const CVideoFrame& frame, int displayMode, const PreparedPicture* prepared) {
  const auto* ready = dynamic_cast<const PlayPicture*>(prepared);
  if (displayMode < 0 || displayMode > 2 || (ready != nullptr && ready->picture[displayMode].isNull())) ready = nullptr;
  const QImage image = ready != nullptr ? ready->picture[displayMode] : VisibleImage(frame, shown_.crop, displayMode);
  if (image.isNull()) return;
  view_->SetCells({});
  view_->SetMark({});
  if (ready != nullptr) view_->SetPicture(image, ready->shown[displayMode], ready->mode);
  else view_->SetPicture(image);
  ++presented_;
  // A picture shown field by field counts once, at its first field.
  const int firstField = frame.field_type == 2 ? 2 : 1;
  if (displayMode == 0 || displayMode == firstField) presentedFrames_.push_back(frame.frame_number);
}

}  // namespace fennik
