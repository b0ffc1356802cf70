// A video stream's page: the frame list, the selected frame's information tree, the
// macroblock view with its control strip, the picture (full view and thumbnail) and the zoom
// view. Decoding for display runs on the worker; the page shows each result as it arrives.
#pragma once

#include <QImage>
#include <functional>
#include <memory>
#include <vector>

#include "app/Pages.h"
#include "codec/video/CVideo_Stream.h"
#include "codec/video/VideoViews.h"
#include "playback/CDecodeTaskX.h"
#include "ui/CVideoView.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace fennik {

class CVideoFrame;

// Runs a job on the worker thread; false when there is no worker.
using JobPoster = std::function<bool(std::function<void()>)>;

// What the worker hands the page for one frame: the picture's visible area as RGB, the
// geometry of its macroblocks and the views' rows.
struct VideoDisplay {
  uint32_t frame = 0;
  uint32_t macroblock = 0;
  bool hasPicture = false;
  QImage picture;
  VideoCrop crop;
  MacroblockGeometry geometry;
  uint32_t fieldScale = 1;  // 2 when the macroblocks are a field's (rows of the frame doubled)
  std::vector<VideoCell> cells;
  std::vector<ViewRow> info;
  std::vector<ViewRow> macroblockRows;
  QRect mark;
  // The picture already reduced for the full view and the thumbnail (made on the worker
  // with the modes the views were found to use when the request left).
  QImage viewShown;
  int viewMode = -1;
  QImage thumbShown;
  int thumbMode = -1;
};

// What the worker needs to reduce a picture for the full view: its fixed reduction mode, or
// -1 and the display area for the automatic one.
struct ViewReduction {
  int fixedMode = -1;
  QSize area;
};

class CVideoPage : public CPage {
 public:
  CVideoPage(CVideo_Stream& stream, JobPoster poster, const ViewStyle* style, QWidget* parent);
  ~CVideoPage() override;

  CListView* List() const override { return list_; }
  CInfoView* Info() const override { return info_; }
  CInfoView* MacroblockInfo() const { return mbInfo_; }
  CVideoView* Picture() const { return view_; }
  CVideoView* Thumbnail() const { return thumb_; }
  CZoomVideo* Zoom() const { return zoom_; }
  bool ToggleMarker() override;
  void StyleChanged() override;

  // The frame whose picture and rows are shown (kNone before the first result).
  uint32_t ShownFrame() const { return shown_.frame; }
  bool HasPicture() const { return shown_.hasPicture; }
  const VideoDisplay& Shown() const { return shown_; }
  // Selects the macroblock under a picture pixel (coordinates of the visible picture).
  void SelectPixel(int x, int y);
  void SelectMacroblock(uint32_t index);

  // Video play: one picture of the ring, with the display mode of CVideoFrame::ConvertToRgb
  // (0 whole frame, 1 top field, 2 bottom field). `prepared` is what PlayPreparer made of
  // it on the worker; without it the page converts the picture itself.
  void ShowPlayPicture(const CVideoFrame& frame, int displayMode, const PreparedPicture* prepared = nullptr);
  // For the worker during play: each picture of the ring converted and reduced for the
  // full view as it is now (field by field with field display), so that the UI thread only
  // shows it.
  PicturePreparer PlayPreparer() const;
  uint64_t PicturesPresented() const { return presented_; }
  // The stream frames of the pictures presented since the play started.
  const std::vector<uint32_t>& PresentedFrames() const { return presentedFrames_; }
  void ResetPresented() {
    presented_ = 0;
    presentedFrames_.clear();
  }
  // Field display during play: interlaced pictures are shown field by field.
  bool FieldDisplay() const;

 private:
  void ShowItem(uint64_t frame);
  void Request(uint32_t frame, uint32_t macroblock, bool picture);
  void OnDisplay(std::shared_ptr<VideoDisplay> display);
  ViewReduction FullViewReduction() const;
  void ApplyMark();

  CVideo_Stream& video_;
  JobPoster poster_;
  const ViewStyle* style_;
  std::unique_ptr<CView_VideoFrameList> source_;
  CListView* list_;
  CInfoView* info_;
  CInfoView* mbInfo_;
  CVideoView* view_;
  CVideoView* thumb_;
  CZoomVideo* zoom_;
  QSpinBox* mbNumber_;
  QComboBox* overlay_;
  QCheckBox* fieldDisplay_;
  VideoDisplay shown_;
  uint32_t wantedFrame_ = CAvStream::kNone;
  uint32_t wantedMacroblock_ = 0;
  uint64_t presented_ = 0;
  std::vector<uint32_t> presentedFrames_;
};

}  // namespace fennik
