// The video page of the main window on the offscreen platform: the page of an H.264 RTP
// stream, its picture against fennik-cli's decode, macroblock selection by a click with the
// zoom following it, video play through the ring and the frame timer, and list navigation
// that keeps the cursor row on screen.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QTabWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/CAppMain.h"
#include "app/CommandTable.h"
#include "app/Markers.h"
#include "app/Pages.h"
#include "app/VideoPage.h"
#include "capture/CRTP_Parser.h"
#include "codec/video/C264_Parser.h"
#include "tests/app/AppTestMain.h"
#include "tests/support/TestSupport.h"
#include "ui/CInfoView.h"

namespace fennik {
namespace {

using test::App;
using test::WaitFor;

void Idle(int ms) {
  WaitFor([] { return false; }, ms);
}

void Click(QWidget* widget, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
}

void Key(QWidget* widget, int key, Qt::KeyboardModifiers modifiers) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(widget, &press);
}

const std::string kData = FENNIK_TEST_DATA;
const std::string kAvCapture = kData + "/captures/h264-pcmu-sip-udp.pcap";
const std::string kBaseline = kData + "/captures/h264/baseline.pcap";

class VideoPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    window_ = std::make_unique<CAppMain>();
    window_->resize(1280, 900);
    window_->show();
  }
  void TearDown() override { window_.reset(); }

  CVideoPage* OpenVideo(const std::string& path) {
    EXPECT_TRUE(window_->Open(path));
    EXPECT_TRUE(WaitFor([this] { return !window_->IsLoading(); }));
    for (int i = 0; i < window_->Tabs()->count(); ++i) {
      if (auto* page = dynamic_cast<CVideoPage*>(window_->Tabs()->widget(i))) {
        window_->Tabs()->setCurrentIndex(i);
        return page;
      }
    }
    return nullptr;
  }
  static bool ShowFrame(CVideoPage* page, uint32_t k) {
    page->List()->Navigate(kNavNumber, k);
    return WaitFor([page, k] { return page->ShownFrame() == k && page->HasPicture(); });
  }
  static std::string RowValue(const CInfoView* view, const std::string& name) { return RowValue(view->Rows(), name); }
  static std::string RowValue(const std::vector<ViewRow>& rows, const std::string& name) {
    for (const ViewRow& row : rows) {
      const size_t at = row.text.find(name);
      if (at == std::string::npos) continue;
      std::string rest = row.text.substr(at + name.size());
      const size_t first = rest.find_first_not_of(' ');
      return first == std::string::npos ? std::string() : rest.substr(first);
    }
    return {};
  }

  std::unique_ptr<CAppMain> window_;
};

// P6 file: width, height and the RGB bytes.
bool ReadPpm(const std::string& path, int& w, int& h, std::string& rgb) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  rgb.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 3, '\0');
  in.read(rgb.data(), static_cast<std::streamsize>(rgb.size()));
  return magic == "P6" && max == 255 && in.good();
}

// Reduction modes, clicks in the margin and the zoom region, on the views alone.
TEST(VideoViews, ReductionClicksAndZoomRegion) {
  App();
  EXPECT_EQ(ChooseReductionMode(1920, 1080, 800, 600), 0x22);
  EXPECT_EQ(ChooseReductionMode(352, 288, 400, 300), 0x00);
  EXPECT_EQ(ChooseReductionMode(1280, 720, 700, 500), 0x11);
  QImage picture(1920, 1080, QImage::Format_RGB32);
  picture.fill(QColor(10, 20, 30));
  // Two pixels of 255 and 0 average to 127 ((a >> 1) + (b >> 1) + (a & b & 1)), then with
  // the rows below (of 0) to 63.
  picture.setPixel(0, 0, qRgb(255, 255, 255));
  picture.setPixel(1, 0, qRgb(0, 0, 0));
  picture.setPixel(0, 1, qRgb(0, 0, 0));
  picture.setPixel(1, 1, qRgb(0, 0, 0));
  const QImage quarter = ReducePicture(picture, 0x22);
  EXPECT_EQ(quarter.size(), QSize(480, 270));
  const QImage half = ReducePicture(picture, 0x11);
  EXPECT_EQ(qRed(half.pixel(0, 0)), 63);
  EXPECT_EQ(half.pixel(5, 5), picture.pixel(10, 10));
  EXPECT_EQ(ReducePicture(picture, 0x10).size(), QSize(960, 1080));
  EXPECT_EQ(ReducePicture(picture, 0x42).size(), QSize(240, 270));

  CVideoView view;
  view.resize(820, 620);
  view.show();
  view.SetPicture(picture);
  EXPECT_EQ(view.ReductionMode(), 0x22);
  int x = -1, y = -1;
  EXPECT_FALSE(view.ViewToPicture(QPoint(5, 50), x, y)) << "margin";
  ASSERT_TRUE(view.ViewToPicture(QPoint(CVideoView::kMargin + 100, CVideoView::kMargin + 50), x, y));
  EXPECT_EQ(x, 400);
  EXPECT_EQ(y, 200);

  CZoomVideo zoom;
  zoom.SetFactor(8);
  zoom.SetPicture(picture);
  EXPECT_EQ(zoom.Region().size(), QSize(64, 64));
  zoom.SetPointOfInterest(1919, 500);
  EXPECT_EQ(zoom.Region().right(), 1919);
  EXPECT_TRUE(zoom.Region().contains(1919, 500));
  zoom.SetPointOfInterest(3, 3);
  EXPECT_EQ(zoom.Region().topLeft(), QPoint(0, 0));
}

TEST_F(VideoPageTest, PageShowsTheCliPicture) {
  CVideoPage* page = OpenVideo(kAvCapture);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(window_->Tabs()->tabText(window_->Tabs()->currentIndex()), "H.264");
  EXPECT_TRUE(window_->Action(kCmdPlay)->isEnabled());
  EXPECT_TRUE(window_->Action(kCmdSlowForward)->isEnabled());
  EXPECT_EQ(page->List()->Model().Count(), 50u);
  // Then H.263 and MPEG-4 Visual (B-VOPs) pages: capture, stream, frame.
  const std::string h263 = kData + "/h263/rtp/h263-rfc2190-cif.pcap", asp = kData + "/captures/mp4v/asp.pcap";
  const std::tuple<std::string, int, uint32_t> shown[] = {{kAvCapture, 2, 0}, {kAvCapture, 2, 7}, {kAvCapture, 2, 23},
                                                          {h263, 1, 5},       {asp, 1, 2},        {asp, 1, 14}};
  std::string opened = kAvCapture;
  for (const auto& [capture, id, k] : shown) {
    if (capture != opened) page = OpenVideo(opened = capture);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(ShowFrame(page, k)) << k;
    const std::string ppm = ::testing::TempDir() + "/video_page_" + std::to_string(k) + ".ppm";
    const std::string args = " --stream " + std::to_string(id) + " --frame " + std::to_string(k) + " -o " + ppm;
    ASSERT_EQ(test::Cli("decode " + capture + args).status, 0);
    int w = 0, h = 0;
    std::string rgb;
    ASSERT_TRUE(ReadPpm(ppm, w, h, rgb));
    const QImage& picture = page->Picture()->Picture();
    ASSERT_EQ(picture.width(), w);
    ASSERT_EQ(picture.height(), h);
    int differing = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const QRgb p = picture.pixel(x, y);
        const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3;
        if (qRed(p) != static_cast<uint8_t>(rgb[at]) || qGreen(p) != static_cast<uint8_t>(rgb[at + 1]) ||
            qBlue(p) != static_cast<uint8_t>(rgb[at + 2]))
          ++differing;
      }
    }
    EXPECT_EQ(differing, 0) << "frame " << k;
    // The information tree describes the same frame.
    EXPECT_FALSE(page->Info()->Rows().empty());
  }
}

TEST_F(VideoPageTest, ClickSelectsMacroblockAndZoomFollows) {
  CVideoPage* page = OpenVideo(kData + "/captures/h264/main-b-slices.pcap");
  ASSERT_NE(page, nullptr);
  const uint32_t k = 5;
  ASSERT_TRUE(ShowFrame(page, k));
  CVideoView* view = page->Picture();
  ASSERT_EQ(view->ReductionMode(), 0x00) << "a 176x144 picture fits the view";
  const int x = 100, y = 70;  // macroblock column 6, row 4 of 11 x 9
  Click(view->viewport(), QPoint(CVideoView::kMargin + x, CVideoView::kMargin + y));
  ASSERT_TRUE(WaitFor([page] { return page->Shown().macroblock == 4 * 11 + 6; }));
  EXPECT_EQ(page->ShownFrame(), k);
  EXPECT_EQ(view->Mark(), QRect(96, 64, 16, 16));

  // The decoder's own record of that macroblock, from a capture opened here.
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(kData + "/captures/h264/main-b-slices.pcap"), OpenResult::kOk);
  ASSERT_TRUE(capture.Analyse(nullptr));
  C264_Parser* stream = nullptr;
  for (uint32_t i = 0; i < capture.Streams().size() && stream == nullptr; ++i)
    stream = dynamic_cast<C264_Parser*>(capture.StreamObject(i));
  ASSERT_NE(stream, nullptr);
  CVideoFrame frame;
  ASSERT_TRUE(stream->GetFramePicture(k, frame));
  H264MacroblockRecord record;
  ASSERT_TRUE(stream->Decoder().MacroblockRecord(4 * 11 + 6, record));
  ASSERT_TRUE(record.decoded);
  EXPECT_EQ(RowValue(page->MacroblockInfo(), "Macro Block Type"), record.kindName);
  EXPECT_EQ(RowValue(page->MacroblockInfo(), "QP (Y)"), std::to_string(record.qp));
  EXPECT_EQ(RowValue(page->MacroblockInfo(), "Image Position (x,y)"), "(96, 64)");

  // The zoom view shows the region around the click, at its magnification.
  const QRect region = page->Zoom()->Region();
  EXPECT_EQ(region.width(), CZoomVideo::kSize / page->Zoom()->Factor());
  EXPECT_TRUE(region.contains(x, y));
  EXPECT_TRUE(QRect(0, 0, 176, 144).contains(region));
  // Next in the macroblock strip moves the selection by one.
  page->SelectMacroblock(4 * 11 + 7);
  ASSERT_TRUE(WaitFor([page] { return page->Shown().macroblock == 4 * 11 + 7; }));
  EXPECT_EQ(view->Mark(), QRect(112, 64, 16, 16));
}

// H.263 and MPEG-4 Visual pages: a marked frame takes the marker colour and is found by its
// address; a click selects the macroblock under it, whose view shows the decoder's rows.
TEST_F(VideoPageTest, OtherCodecsMarkAndSelectMacroblocks) {
  const struct { std::string capture; uint32_t frame; int x, y; } cases[] = {
      {kData + "/h263/rtp/h263-rfc2190-cif.pcap", 5, 200, 130}, {kData + "/captures/mp4v/asp.pcap", 14, 100, 70}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.capture);
    CVideoPage* page = OpenVideo(c.capture);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(ShowFrame(page, c.frame));
    CMarkerTable::Instance().Clear();
    window_->Command(kCmdMarker);
    CRowLine line;
    int colour = 0;
    ASSERT_TRUE(page->List()->Model().Source()->ItemRow(c.frame, line, colour));
    EXPECT_EQ(colour, colour::kListMarker);
    page->List()->Navigate(kNavFileTop, 0);
    page->List()->Navigate(kNavListAddress, CMarkerTable::Instance().At(0).address);  // the marker list's jump
    EXPECT_EQ(page->List()->CursorItem(), c.frame);

    CVideoView* view = page->Picture();
    const auto mb = static_cast<uint32_t>(c.y / 16 * ((view->Picture().width() + 15) / 16) + c.x / 16);
    int dx = 1, dy = 1;
    ReductionDivisors(view->ReductionMode(), dx, dy);
    Click(view->viewport(), QPoint(CVideoView::kMargin + c.x / dx, CVideoView::kMargin + c.y / dy));
    ASSERT_TRUE(WaitFor([page, mb] { return page->Shown().macroblock == mb; }));
    EXPECT_EQ(view->Mark(), QRect(c.x / 16 * 16, c.y / 16 * 16, 16, 16));
    CRTP_Parser capture;  // the decoder's own rows for that macroblock
    ASSERT_EQ(capture.Open(c.capture), OpenResult::kOk);
    ASSERT_TRUE(capture.Analyse(nullptr));
    auto* stream = dynamic_cast<CVideo_Stream*>(capture.StreamObject(0));
    CVideoFrame frame;
    ASSERT_TRUE(stream != nullptr && stream->GetFramePicture(c.frame, frame));
    CFieldTree tree;
    stream->ShowMacroblock(tree, c.frame, mb);
    for (const char* name : {"Macro block Position (x,y)", "Macro block type", "Quantiser scale"})
      EXPECT_EQ(RowValue(page->MacroblockInfo(), name), RowValue(tree.Rows(), name)) << name;
    EXPECT_NE(RowValue(tree.Rows(), "Macro block type"), "not decoded");
  }
}

TEST_F(VideoPageTest, PlayPresentsTwoSecondsInOrderAndStops) {
  CVideoPage* page = OpenVideo(kBaseline);
  ASSERT_NE(page, nullptr);
  ASSERT_EQ(page->List()->Model().Count(), 100u);
  // From frame 40 of 100: 60 pictures at one per 33 ms, two seconds.
  ASSERT_TRUE(ShowFrame(page, 40));
  window_->Command(kCmdPlay);
  ASSERT_TRUE(WaitFor([this] { return window_->IsPlaying(); }));
  ASSERT_TRUE(WaitFor([this] { return !window_->IsPlaying(); }, 20000));
  const std::vector<uint32_t>& frames = page->PresentedFrames();
  EXPECT_GE(frames.size(), 55u);
  EXPECT_LE(frames.size(), 65u);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.front(), 40u);
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i], frames[i - 1] + 1) << i;
  EXPECT_TRUE(window_->StatusPart(0)->text().isEmpty());  // the play's end clears the status
  // The list shows where the play stopped.
  EXPECT_EQ(page->List()->CursorItem(), 99u);
}

// Play from a frame inside a group with B pictures (H.263: a P picture) starts with that
// frame's own picture, as fennik-cli decode --frame K shows it, and goes on in display order
// (the order of fennik-cli decode -o OUT.y4m), each picture once.
TEST_F(VideoPageTest, PlayStartsAtTheSelectedFrameInDisplayOrder) {
  const std::pair<std::string, uint32_t> cases[] = {{kData + "/captures/mp4v/asp.pcap", 43},
                                                    {kData + "/captures/mp4v/asp.pcap", 46},
                                                    {kData + "/captures/mp4v/asp.pcap", 47},
                                                    {kData + "/captures/h264/main-b-slices.pcap", 80},
                                                    {kData + "/h263/rtp/h263-rfc2190-cif.pcap", 5}};
  for (const auto& [capture, k] : cases) {
    SCOPED_TRACE(capture + " from " + std::to_string(k));
    CRTP_Parser parser;
    ASSERT_TRUE(parser.Open(capture) == OpenResult::kOk && parser.Analyse(nullptr));
    auto* stream = dynamic_cast<CVideo_Stream*>(parser.StreamObject(0));
    ASSERT_NE(stream, nullptr);
    std::vector<uint32_t> order;
    CVideoFrame picture, own;
    for (uint32_t i = 0; i < stream->Frames().GetCount(); ++i)
      for (stream->DecodeFrame(i); stream->GetNextPicture(picture);) order.push_back(picture.frame_number);
    for (stream->FlushPictures(); stream->GetNextPicture(picture);) order.push_back(picture.frame_number);
    const auto from = std::find(order.begin(), order.end(), k);
    ASSERT_NE(from, order.end());
    stream->StartPlay(k);
    ASSERT_TRUE(stream->NextPlayPicture(picture) && stream->GetFramePicture(k, own));  // the CLI's picture
    EXPECT_EQ(0, std::memcmp(picture.Y(), own.Y(), own.LumaPlaneSize()));
    EXPECT_EQ(0, std::memcmp(picture.Cr(), own.Cr(), own.ChromaPlaneSize()));

    CVideoPage* page = OpenVideo(capture);
    ASSERT_TRUE(page != nullptr && ShowFrame(page, k));
    window_->Command(kCmdPlay);
    ASSERT_TRUE(WaitFor([this] { return window_->IsPlaying(); }));
    ASSERT_TRUE(WaitFor([this] { return !window_->IsPlaying(); }, 20000));
    EXPECT_EQ(page->PresentedFrames(), std::vector<uint32_t>(from, order.end()));
  }
}

// With field display, each picture of a stream coded as field pairs (a list entry per field)
// is presented twice, one field at a time, the other field's rows interpolated.
TEST_F(VideoPageTest, FieldDisplayShowsEachFieldOfFieldPictures) {
  CVideoPage* page = OpenVideo(kData + "/captures/h264/field.pcap");
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(ShowFrame(page, 0));
  page->findChild<QCheckBox*>()->setChecked(true);
  window_->Command(kCmdPlay);
  ASSERT_TRUE(WaitFor([page] { return page->PicturesPresented() >= 3; }));
  window_->Command(kCmdPause);
  Idle(100);
  // An odd showing is a top field (odd rows interpolated), an even one a bottom field.
  const QImage shown = page->Picture()->Picture();
  int differing = 0;
  for (int y = page->PicturesPresented() % 2 == 1 ? 1 : 2; y + 1 < shown.height(); y += 2)
    for (int x = 0; x < shown.width(); ++x)
      differing += qRed(shown.pixel(x, y)) != (qRed(shown.pixel(x, y - 1)) + qRed(shown.pixel(x, y + 1))) / 2;
  EXPECT_EQ(differing, 0);
  window_->Command(kCmdPause);  // resumes
  ASSERT_TRUE(WaitFor([this] { return !window_->IsPlaying(); }, 20000));
  EXPECT_EQ(2 * page->PresentedFrames().size(), page->List()->Model().Count());
  EXPECT_EQ(page->PicturesPresented(), page->List()->Model().Count());
}

TEST_F(VideoPageTest, StopEndsPresentationAtOnce) {
  CVideoPage* page = OpenVideo(kBaseline);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(ShowFrame(page, 0));
  window_->Command(kCmdPlay);
  ASSERT_TRUE(WaitFor([page] { return page->PicturesPresented() >= 10; }));
  EXPECT_TRUE(window_->StatusPart(0)->text().startsWith("PLAY [H.264 :"));
  // Pause holds the presentation; frame advance shows one picture more.
  window_->Command(kCmdPause);
  Idle(100);
  const uint64_t held = page->PicturesPresented();
  Idle(200);
  EXPECT_EQ(page->PicturesPresented(), held);
  window_->Command(kCmdSlowForward);
  ASSERT_TRUE(WaitFor([page, held] { return page->PicturesPresented() == held + 1; }));
  window_->Command(kCmdPause);  // resumes
  ASSERT_TRUE(WaitFor([page, held] { return page->PicturesPresented() >= held + 5; }));
  window_->Command(kCmdStop);
  const uint64_t atStop = page->PicturesPresented();
  ASSERT_TRUE(WaitFor([this] { return !window_->IsPlaying(); }));
  Idle(100);
  EXPECT_EQ(page->PicturesPresented(), atStop) << "no picture after Stop";
  EXPECT_LT(page->PresentedFrames().back(), 99u);
}

// Every navigation kind and key leaves the cursor row among the rows on screen.
TEST_F(VideoPageTest, NavigationKeepsCursorVisible) {
  ASSERT_TRUE(window_->Open(kAvCapture));
  ASSERT_TRUE(WaitFor([this] { return !window_->IsLoading(); }));
  window_->Tabs()->setCurrentIndex(0);
  CPage* page = dynamic_cast<CPage*>(window_->Tabs()->widget(0));
  ASSERT_NE(page, nullptr);
  CListView* list = page->List();
  const int rows = list->VisibleRows() - list->HeaderRows();
  ASSERT_GT(rows, 3);
  ASSERT_GT(list->Model().Count(), static_cast<uint64_t>(3 * rows));
  auto visible = [list, rows](const char* what) {
    list->grab();  // paints: the scroll bars are updated from the model as on screen
    const uint64_t first = list->Model().FirstVisible();
    const uint64_t cursor = list->Model().Cursor();
    EXPECT_LE(first, cursor) << what;
    EXPECT_LT(cursor, first + static_cast<uint64_t>(rows)) << what;
  };
  const uint64_t last = list->Model().Count() - 1;
  window_->Command(kCmdListEnd);
  visible("List Tail");
  EXPECT_EQ(list->CursorItem(), last);
  EXPECT_GT(list->Model().FirstVisible(), 0u);
  window_->Command(kCmdListTop);
  visible("List Top");
  EXPECT_EQ(list->Model().FirstVisible(), 0u);
  window_->Command(kCmdFileEnd);
  visible("File End");
  window_->Command(kCmdFileTop);
  visible("File Top");
  window_->nextEntry = {true, 0, "150"};
  window_->Command(kCmdJump);
  visible("Jump");
  EXPECT_EQ(list->CursorItem(), 150u);
  window_->Command(kCmdNext);
  visible("Next");
  window_->Command(kCmdPrevious);
  visible("Previous");
  const struct {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* what;
  } keys[] = {{Qt::Key_Home, {}, "Home"},          {Qt::Key_PageDown, {}, "Page Down"},
              {Qt::Key_PageDown, {}, "Page Down"}, {Qt::Key_End, {}, "End"},
              {Qt::Key_PageUp, {}, "Page Up"},     {Qt::Key_Up, {}, "Up"},
              {Qt::Key_Home, Qt::ControlModifier, "Ctrl+Home"}, {Qt::Key_Down, {}, "Down"},
              {Qt::Key_End, Qt::ControlModifier, "Ctrl+End"}};
  uint64_t before = list->CursorItem();
  for (const auto& k : keys) {
    Key(list, k.key, k.modifiers);
    visible(k.what);
    if (k.key == Qt::Key_PageDown) {
      EXPECT_GT(list->CursorItem(), before) << "Page Down moves";
    }
    before = list->CursorItem();
  }
  EXPECT_EQ(list->CursorItem(), last);
  // Scrolled away from its top, the list paints once for an update, not again and again.
  struct PaintCount : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
      paints += event->type() == QEvent::Paint;
      return false;
    }
  } count;
  list->viewport()->installEventFilter(&count);
  list->viewport()->update();
  Idle(300);
  EXPECT_GE(count.paints, 1);
  EXPECT_LE(count.paints, 2);
}

}  // namespace
}  // namespace fennik
