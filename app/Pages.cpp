#include "app/Pages.h"

#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "app/Markers.h"
#include "app/VideoPage.h"
#include "capture/CRTP_Parser.h"
#include "ui/CAvChartView.h"
#include "ui/CHexView.h"
#include "ui/CInfoView.h"
#include "ui/ViewStyle.h"

namespace fennik {
namespace {

// A page's layout: the list over two thirds of the height; below it the info view with
// three fifths of the width and a companion view (hex dump, chart) beside it.
void LayOutPage(QWidget* page, const ViewStyle* style, QWidget* companion, CListView*& list, CInfoView*& info) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* vertical = new QSplitter(Qt::Vertical, page);
  list = new CListView(style, vertical);
  auto* lower = new QSplitter(Qt::Horizontal, vertical);
  info = new CInfoView(style, lower);
  lower->addWidget(companion);
  vertical->setStretchFactor(0, 2);
  vertical->setStretchFactor(1, 1);
  // The info view wants room up to its value column and about 22 characters of value
  // ("G.711 (u-law)", "160 bytes"); the hex dump its address, 16 byte columns and the ASCII
  // column. The splitter shares the width in that proportion.
  const int bar = info->verticalScrollBar()->sizeHint().width() + 4;
  const int infoWidth = info->CharWidth() * (FieldColumns().value + 22) + bar;
  int companionWidth = info->CharWidth() * 50;
  if (auto* hex = dynamic_cast<CHexView*>(companion)) companionWidth = hex->Dump()->CharWidth() * 82 + bar;
  lower->setSizes({infoWidth, companionWidth});
  layout->addWidget(vertical);
}

}  // namespace

void CPage::StyleChanged() {
  List()->StyleChanged();
  Info()->StyleChanged();
}

CRtpPage::CRtpPage(CRTP_Parser& capture, const std::string& fileName, const ViewStyle* style, QWidget* parent)
    : CPage(QStringLiteral("RTP"), kPagePrevious, nullptr, parent), capture_(capture), style_(style) {
  pages_ = RtpPageList(capture);
  source_ = std::make_unique<CView_RTPList>(capture, fileName, style->language);
  source_->SetMarkers(&CMarkerTable::Instance());
  hex_ = new CHexView(style, this);
  LayOutPage(this, style, hex_, list_, info_);
  hex_->SetFile([&capture](uint64_t at, void* buffer, uint32_t n) { return capture.ReadAt(at, buffer, n); },
                capture.FileSize());
  connect(list_, &CListView::itemSelected, this, [this](quint64 row) { ShowItem(row); });
  SelectSubView(0);
}

CRtpPage::~CRtpPage() = default;

std::vector<QString> CRtpPage::SubViews() const {
  std::vector<QString> names;
  for (const RtpPage& p : pages_) names.push_back(QString::fromStdString(p.title));
  return names;
}

bool CRtpPage::SelectSubView(int index) {
  if (index < 0 || static_cast<size_t>(index) >= pages_.size()) return false;
  const uint32_t id = pages_[static_cast<size_t>(index)].id;
  if (!source_->SelectPage(id)) return false;
  subView_ = index;
  infoSource_ = std::make_unique<CView_RTPInfo>(capture_, id);
  const CView_RTPList* source = source_.get();
  list_->SetSource(source, [source](uint64_t row, uint64_t& address) {
    RtpPacketEntry entry;
    return source->RowEntry(row, &address, &entry);
  });
  if (source_->Count() > 0) ShowItem(0);
  else info_->SetRows({});
  return true;
}

bool CRtpPage::CsvKind(uint32_t& kind) const {
  const uint32_t id = source_->PageId();
  if (!IsStreamPageId(id)) {
    kind = 0;
    return true;
  }
  const uint32_t stream = StreamIdOfPage(id);
  kind = stream | (StreamCodecType(capture_, stream - 1) << 16);
  return true;
}

bool CRtpPage::ToggleMarker() {
  const uint64_t row = list_->CursorItem();
  uint64_t address = 0;
  RtpPacketEntry entry;
  if (row == kNoItem || !source_->RowEntry(row, &address, &entry)) return false;
  const bool changed = CMarkerTable::Instance().Toggle(address, entry.packetNumber);
  list_->Refresh();
  return changed;
}

void CRtpPage::StyleChanged() {
  CPage::StyleChanged();
  hex_->StyleChanged();
}

void CRtpPage::ShowItem(uint64_t row) {
  uint64_t address = 0;
  RtpPacketEntry entry;
  if (!source_->RowEntry(row, &address, &entry)) return;
  CFieldTree tree(style_->language);
  infoSource_->Print(address, entry, tree);
  info_->SetRows(tree.TakeRows());
  hex_->ShowAddress(address);
}

CAudioPage::CAudioPage(CAudio_Stream& stream, const CRTP_Parser& capture, uint32_t streamIndex,
                       const ViewStyle* style, QWidget* parent)
    : CPage(QString::fromUtf8(stream.GetCodecName()), kPagePrevious | kPagePlay | kPagePause | kPageStop, &stream,
            parent),
      audio_(stream),
      capture_(capture),
      streamIndex_(streamIndex),
      style_(style) {
  source_ = std::make_unique<CView_AudioFrameList>(stream);
  source_->SetMarkers(&CMarkerTable::Instance());
  chart_ = new CAvChartView(style, this);
  LayOutPage(this, style, chart_, list_, info_);
  CAudio_Stream* audio = &audio_;
  list_->SetSource(source_.get(), [audio](uint64_t frame, uint64_t& address) {
    FrameEntry entry;
    if (!audio->Frames().Get(frame, &address, &entry)) return false;
    address += entry.frameOffset;
    return true;
  });
  connect(list_, &CListView::itemSelected, this, [this](quint64 frame) { ShowItem(frame); });
  if (source_->Count() > 0) ShowItem(0);
}

CAudioPage::~CAudioPage() = default;

void CAudioPage::showEvent(QShowEvent* event) {
  if (!chartFilled_) FillChart();
  CPage::showEvent(event);
}

// The chart: the stream's jitter and bit rate at each of its packets' capture times. It
// walks the whole packet table, so it is filled when the page is first shown rather than
// for every page at the end of the load.
void CAudioPage::FillChart() {
  chartFilled_ = true;
  std::vector<ChartPoint> points;
  for (uint64_t index : capture_.StreamPacketIndices(streamIndex_)) {
    uint64_t address = 0;
    RtpPacketEntry entry;
    if (!capture_.Packets().Get(index, &address, &entry)) continue;
    points.push_back({static_cast<int64_t>(entry.captureTime) * 1000, static_cast<double>(entry.jitter),
                      static_cast<double>(entry.bitRate) * 8});
  }
  chart_->SetPoints(std::move(points));
}

bool CAudioPage::ToggleMarker() {
  const uint64_t frame = list_->CursorItem();
  uint64_t address = 0;
  FrameEntry entry;
  if (frame == kNoItem || !audio_.Frames().Get(frame, &address, &entry)) return false;
  // A frame is marked by its payload's address alone: the frames of one packet share its
  // packet number.
  const bool changed = CMarkerTable::Instance().Toggle(address + entry.frameOffset);
  list_->Refresh();
  return changed;
}

void CAudioPage::ShowItem(uint64_t frame) {
  if (frame >= audio_.Frames().GetCount()) return;
  const uint32_t index = static_cast<uint32_t>(frame);
  audio_.DecodeFrame(index);  // the information view shows the frame decoded last
  CFieldTree tree(style_->language);
  audio_.ShowFrameInfo(tree, index);
  audio_.ShowFrameDetail(tree, index);
  info_->SetRows(tree.TakeRows());
}

CPage* CreatePage(CRTP_Parser& capture, CAvStream* stream, uint32_t streamIndex, const std::string& fileName,
                  const ViewStyle* style, QWidget* parent,
                  const std::function<bool(std::function<void()>)>& postJob) {
  if (stream == nullptr) return new CRtpPage(capture, fileName, style, parent);
  if (auto* audio = dynamic_cast<CAudio_Stream*>(stream)) {
    return new CAudioPage(*audio, capture, streamIndex, style, parent);
  }
  if (auto* video = dynamic_cast<CVideo_Stream*>(stream)) return new CVideoPage(*video, postJob, style, parent);
  return nullptr;
}

}  // namespace fennik
