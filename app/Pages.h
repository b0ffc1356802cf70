// The tab pages: the capture's page (the packet lists, the selected packet's header fields
// and the hex dump) and one page per audio stream (frame list and frame information).
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/RtpViews.h"
#include "codec/audio/AudioViews.h"
#include "ui/CListView.h"

namespace fennik {

class CAvChartView;
class CAvStream;
class CHexView;
class CInfoView;
class CRTP_Parser;
struct ViewStyle;

// PageFlags bits.
constexpr uint32_t kPagePrevious = 1u << 0;
constexpr uint32_t kPagePlay = 1u << 29;
constexpr uint32_t kPagePause = 1u << 26;
constexpr uint32_t kPageStop = 1u << 25;

class CPage : public QWidget {
 public:
  CPage(QString title, uint32_t flags, CAvStream* stream, QWidget* parent)
      : QWidget(parent), title_(std::move(title)), flags_(flags), stream_(stream) {}

  const QString& Title() const { return title_; }
  uint32_t Flags() const { return flags_; }
  CAvStream* Stream() const { return stream_; }
  virtual CListView* List() const = 0;
  virtual CInfoView* Info() const = 0;

  // The sub-views the select-view dialog offers, and the one shown.
  virtual std::vector<QString> SubViews() const { return {title_}; }
  virtual int SubView() const { return 0; }
  virtual bool SelectSubView(int index) { return index == 0; }
  // The CSV report's list kind of the list shown; false when the page has no CSV source.
  virtual bool CsvKind(uint32_t& kind) const { (void)kind; return false; }
  // Toggles a marker on the cursor item; false when there is none or the table is full.
  virtual bool ToggleMarker() = 0;
  virtual void StyleChanged();

 private:
  QString title_;
  uint32_t flags_;
  CAvStream* stream_;
};

// The capture's page: the list of all RTP packets or one stream's packets (sub-views), the
// packet information and the hex dump.
class CRtpPage : public CPage {
 public:
  CRtpPage(CRTP_Parser& capture, const std::string& fileName, const ViewStyle* style, QWidget* parent);
  ~CRtpPage() override;

  CListView* List() const override { return list_; }
  CInfoView* Info() const override { return info_; }
  CHexView* Hex() const { return hex_; }
  const CView_RTPList& Source() const { return *source_; }
  std::vector<QString> SubViews() const override;
  int SubView() const override { return subView_; }
  bool SelectSubView(int index) override;
  bool CsvKind(uint32_t& kind) const override;
  bool ToggleMarker() override;
  void StyleChanged() override;

 private:
  void ShowItem(uint64_t row);

  CRTP_Parser& capture_;
  const ViewStyle* style_;
  std::vector<RtpPage> pages_;
  int subView_ = 0;
  std::unique_ptr<CView_RTPList> source_;
  std::unique_ptr<CView_RTPInfo> infoSource_;
  CListView* list_;
  CInfoView* info_;
  CHexView* hex_;
};

// An audio stream's page: its frame list and the selected frame's fields.
class CAudioPage : public CPage {
 public:
  // `streamIndex` names the stream in the capture's stream table (for its chart).
  CAudioPage(CAudio_Stream& stream, const CRTP_Parser& capture, uint32_t streamIndex, const ViewStyle* style,
             QWidget* parent);
  ~CAudioPage() override;

  CListView* List() const override { return list_; }
  CInfoView* Info() const override { return info_; }
  CAvChartView* Chart() const { return chart_; }
  bool ToggleMarker() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ShowItem(uint64_t frame);
  void FillChart();

  CAudio_Stream& audio_;
  const CRTP_Parser& capture_;
  uint32_t streamIndex_;
  bool chartFilled_ = false;
  const ViewStyle* style_;
  std::unique_ptr<CView_AudioFrameList> source_;
  CListView* list_;
  CInfoView* info_;
  CAvChartView* chart_;
};

// The page of a page-created message: the capture's page when `stream` is null, else the
// stream's page (audio streams, H.264 video streams); null for a stream without a page of
// its own. `postJob` runs a video page's decoding on the worker.
CPage* CreatePage(CRTP_Parser& capture, CAvStream* stream, uint32_t streamIndex, const std::string& fileName,
                  const ViewStyle* style, QWidget* parent,
                  const std::function<bool(std::function<void()>)>& postJob = {});

}  // namespace fennik
