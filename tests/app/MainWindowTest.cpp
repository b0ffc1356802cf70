// The real main window on the offscreen platform: opening captures (and refusing bad
// ones), the pages and their painted rows, navigation commands, markers, the CSV dialog's
// checks and a CSV report through the worker, the SDP re-parse flow and settings dialogs.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QUrl>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/AppSettings.h"
#include "app/CAppMain.h"
#include "app/CommandTable.h"
#include "app/ExtractionDialog.h"
#include "app/ListDialogs.h"
#include "app/Markers.h"
#include "app/Pages.h"
#include "app/StreamAnalysisDialog.h"
#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "capture/StreamAnalysis.h"
#include "codec/audio/CodecModules.h"
#include "playback/CPacedOutput.h"
#include "tests/app/AppTestMain.h"
#include "tests/support/TestSupport.h"
#include "ui/CAvChartView.h"
#include "ui/CBarChartView.h"
#include "ui/CHexView.h"
#include "ui/CInfoView.h"
#include "ui/Dialogs.h"
#include "ui/SettingsDialogs.h"

namespace fennik {
namespace {

using test::App;
using test::MessageLog;
using test::WaitFor;

const std::string kData = FENNIK_TEST_DATA;
const std::string kSample = kData + "/sample.pcap";
const std::string kNoSdp = kData + "/captures/g711a-g722-nosdp-nsec.pcap";

// A temporary folder of the test program, removed at its end.
const test::TempDir g_dir;

std::string TempName(const std::string& name) { return g_dir / name; }

struct DialogHookScope {
  explicit DialogHookScope(DialogHook hook) { SetDialogHook(std::move(hook)); }
  ~DialogHookScope() { SetDialogHook({}); }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    window_ = std::make_unique<CAppMain>();
    window_->resize(1100, 760);
    window_->show();
  }
  void TearDown() override { window_.reset(); }

  void OpenAndWait(const std::string& path) {
    ASSERT_TRUE(window_->Open(path));
    ASSERT_TRUE(WaitFor([this] { return !window_->IsLoading(); }));
    ASSERT_GT(window_->Tabs()->count(), 0);
  }
  CRtpPage* RtpPage() const { return dynamic_cast<CRtpPage*>(window_->Tabs()->widget(0)); }
  // Paints the window and returns the painted rows of a view.
  static const std::vector<ViewRow>& Painted(CCellView* view) {
    view->grab();
    return view->PaintedRows();
  }

  std::unique_ptr<CAppMain> window_;
};

TEST_F(MainWindowTest, OpensSampleIntoPages) {
  EXPECT_EQ(window_->windowTitle(), "Fennik");
  EXPECT_FALSE(window_->Action(kCmdClose)->isEnabled());
  EXPECT_FALSE(window_->Action(kCmdJump)->isEnabled());
  OpenAndWait(kSample);
  // The capture's page and one page per audio stream.
  ASSERT_EQ(window_->Tabs()->count(), 3);
  EXPECT_EQ(window_->Tabs()->tabText(0), "RTP");
  EXPECT_EQ(window_->Tabs()->tabText(1), "G.711");
  EXPECT_EQ(window_->Tabs()->tabText(2), "G.711");
  EXPECT_TRUE(window_->Action(kCmdClose)->isEnabled());
  EXPECT_TRUE(window_->Action(kCmdJump)->isEnabled());
  EXPECT_TRUE(window_->Action(kCmdPrevious)->isEnabled());  // PageFlags bit 0
  EXPECT_FALSE(window_->Action(kCmdPlay)->isEnabled());     // not on the capture's page

  CRtpPage* page = RtpPage();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->List()->Model().Count(), 300u);
  const std::vector<QString> views = page->SubViews();
  ASSERT_EQ(views.size(), 3u);
  EXPECT_EQ(views[0], "LIST OF RTP PACKET");
  EXPECT_TRUE(views[1].startsWith("LIST OF 127.0.1."));

  // The painted list: summary title, then the column titles, then the cursor row.
  const std::vector<ViewRow>& rows = Painted(page->List());
  ASSERT_GT(rows.size(), 10u);
  EXPECT_EQ(rows[0].text, "  LIST OF RTP PACKET");
  EXPECT_TRUE(rows[0].title);
  const int header = page->List()->HeaderRows();
  ASSERT_LT(header, static_cast<int>(rows.size()));
  EXPECT_NE(rows[static_cast<size_t>(header) - 1].text.find("Packet No."), std::string::npos);
  EXPECT_EQ(rows[static_cast<size_t>(header)].colour, colour::kListCursor);
  EXPECT_NE(rows[static_cast<size_t>(header)].text.find("->"), std::string::npos);
  // The packet information of the first row.
  const std::vector<ViewRow>& info = page->Info()->Rows();
  ASSERT_FALSE(info.empty());
  EXPECT_NE(info[0].text.find("RTP PACKET INFORMATION"), std::string::npos);

  // Tab switch: the audio page's frame list and flags.
  window_->Tabs()->setCurrentIndex(1);
  auto* audio = dynamic_cast<CAudioPage*>(window_->Tabs()->widget(1));
  ASSERT_NE(audio, nullptr);
  EXPECT_GT(audio->List()->Model().Count(), 0u);
  EXPECT_TRUE(window_->Action(kCmdPlay)->isEnabled());
  EXPECT_NE(audio->Info()->Rows().at(0).text.find("G.711"), std::string::npos);
  // Its chart holds one point per packet of the stream, in capture-time order.
  const std::vector<ChartPoint>& points = audio->Chart()->Points();
  ASSERT_EQ(points.size(), 150u);
  EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                             [](const ChartPoint& a, const ChartPoint& b) { return a.time < b.time; }));
  EXPECT_GT(points.back().bitRate, 0);
  audio->Chart()->SetZoom(99);
  EXPECT_EQ(audio->Chart()->Zoom(), 11);
  audio->Chart()->grab();

  // A stream sub-view of the capture's page.
  window_->Tabs()->setCurrentIndex(0);
  window_->nextSubView = 1;
  window_->Command(kCmdSelectView);
  EXPECT_EQ(page->SubView(), 1);
  EXPECT_EQ(page->List()->Model().Count(), 150u);
  uint32_t kind = 0;
  ASSERT_TRUE(page->CsvKind(kind));
  EXPECT_NE(kind, 0u);

  window_->Command(kCmdClose);
  EXPECT_EQ(window_->Tabs()->count(), 0);
  EXPECT_FALSE(window_->IsOpen());
  EXPECT_FALSE(window_->Action(kCmdClose)->isEnabled());
}

// 300 streams: their pages are built in slices between event-loop runs; the load ends
// only when the last one is in place, with the capture's page selected.
TEST_F(MainWindowTest, ManyStreamsGetEveryPageBeforeTheLoadEnds) {
  ASSERT_TRUE(window_->Open(kData + "/captures/many-streams-300.pcap"));
  int slices = 0;
  int lastCount = 0;
  ASSERT_TRUE(WaitFor([&] {
    const int count = window_->Tabs()->count();
    if (count != lastCount && window_->IsLoading()) ++slices;
    lastCount = count;
    return !window_->IsLoading();
  }));
  EXPECT_EQ(window_->Tabs()->count(), 301);
  EXPECT_EQ(window_->Tabs()->currentIndex(), 0);
  EXPECT_EQ(window_->Tabs()->tabText(300), "G.711");
  EXPECT_GE(slices, 1);
}

TEST_F(MainWindowTest, RefusesMissingAndUnsupportedFiles) {
  OpenAndWait(kSample);
  {
    MessageLog log;
    EXPECT_FALSE(window_->Open(TempName("does-not-exist.pcap")));
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].text, "Can't open file");
    EXPECT_EQ(log.entries[0].caption, "Open stream file");
  }
  // The open capture was closed first.
  EXPECT_FALSE(window_->IsOpen());
  EXPECT_EQ(window_->Tabs()->count(), 0);
  const std::string junk = TempName("junk.pcap");
  std::ofstream(junk) << "this is not a capture file at all, just text";
  for (const std::string& path : {junk, kData + "/config/defaults.ini"}) {
    MessageLog log;
    EXPECT_FALSE(window_->Open(path));
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].text, "Not support file format");
  }
  std::filesystem::remove(junk);
  // Still usable afterwards.
  OpenAndWait(kSample);
  EXPECT_EQ(window_->Tabs()->count(), 3);
}

TEST_F(MainWindowTest, NavigationCommandsAndMarkers) {
  OpenAndWait(kSample);
  CListView* list = RtpPage()->List();
  window_->Command(kCmdFileEnd);
  EXPECT_EQ(list->CursorItem(), 299u);
  window_->Command(kCmdPrevious);
  EXPECT_EQ(list->CursorItem(), 298u);
  window_->Command(kCmdListTop);
  EXPECT_EQ(list->CursorItem(), 0u);
  window_->Command(kCmdNext);
  EXPECT_EQ(list->CursorItem(), 1u);

  window_->nextEntry = {true, 0, " 150 "};
  window_->Command(kCmdJump);
  EXPECT_EQ(list->CursorItem(), 150u);
  // The info view follows the cursor: its packet is read again from the file.
  uint64_t address = 0;
  RtpPacketEntry entry;
  ASSERT_TRUE(RtpPage()->Source().RowEntry(150, &address, &entry));
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%012llX", static_cast<unsigned long long>(address));
  EXPECT_NE(RtpPage()->Info()->Rows().at(1).text.find(std::string(hex)), std::string::npos);

  // Jump by address to row 10's record.
  ASSERT_TRUE(RtpPage()->Source().RowEntry(10, &address, &entry));
  std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(address));
  window_->nextEntry = {true, 1, hex};
  window_->Command(kCmdJump);
  EXPECT_EQ(list->CursorItem(), 10u);
  // An invalid entry moves nothing.
  window_->nextEntry = {true, 0, "12 34"};
  window_->Command(kCmdJump);
  EXPECT_EQ(list->CursorItem(), 10u);
  // View index: item 200 becomes the window start.
  window_->nextEntry = {true, 0, "200"};
  window_->Command(kCmdViewIndex);
  EXPECT_EQ(list->Model().WindowStart(), 200u);
  EXPECT_EQ(list->Model().WindowLength(), 100u);

  // Markers: the cursor row is marked, listed and unmarked again.
  CMarkerTable::Instance().Clear();
  window_->Command(kCmdListTop);
  window_->Command(kCmdNext);  // item 201
  window_->Command(kCmdMarker);
  ASSERT_EQ(CMarkerTable::Instance().Count(), 1);
  window_->Command(kCmdNext);  // the marked row is no longer the cursor row
  const std::vector<ViewRow>& rows = Painted(list);
  const size_t marked = static_cast<size_t>(list->HeaderRows()) + 1;
  ASSERT_LT(marked, rows.size());
  EXPECT_EQ(rows[marked].colour, colour::kListMarker);
  EXPECT_EQ(rows[marked].text[0], '*');
  // The marker list jumps to the marker.
  window_->Command(kCmdFileTop);
  {
    DialogHookScope hook([](QDialog& dialog) {
      auto* markers = dynamic_cast<CMarkerListDialog*>(&dialog);
      ASSERT_NE(markers, nullptr);
      ASSERT_EQ(markers->List()->count(), 1);
      markers->Jump();
    });
    window_->Command(kCmdMarkerList);
  }
  EXPECT_EQ(list->CursorItem(), 201u);
  window_->Command(kCmdMarker);
  EXPECT_EQ(CMarkerTable::Instance().Count(), 0);

  // An audio page marks its frame: that row alone takes the marker colour, and the packet
  // list does not show the frame's packet as marked.
  window_->Tabs()->setCurrentIndex(1);
  auto* audio = dynamic_cast<CAudioPage*>(window_->Tabs()->widget(1));
  ASSERT_NE(audio, nullptr);
  window_->Command(kCmdFileTop);
  window_->Command(kCmdNext);  // frame 1
  window_->Command(kCmdMarker);
  ASSERT_EQ(CMarkerTable::Instance().Count(), 1);
  window_->Command(kCmdNext);
  const std::vector<ViewRow>& frames = Painted(audio->List());
  const size_t first = static_cast<size_t>(audio->List()->HeaderRows());
  ASSERT_LT(first + 2, frames.size());
  EXPECT_NE(frames[first].colour, colour::kListMarker);
  EXPECT_EQ(frames[first + 1].colour, colour::kListMarker);
  EXPECT_EQ(frames[first + 1].text[0], '*');
  EXPECT_NE(frames[first + 2].colour, colour::kListMarker);
  window_->Tabs()->setCurrentIndex(0);
  for (const ViewRow& row : Painted(list)) EXPECT_NE(row.colour, colour::kListMarker);
  CMarkerTable::Instance().Clear();
  // A full table takes no 257th marker.
  for (uint32_t i = 0; i < 256; ++i) ASSERT_TRUE(CMarkerTable::Instance().Toggle(1000 + i, i));
  EXPECT_FALSE(CMarkerTable::Instance().Toggle(5000, 9999));
  CMarkerTable::Instance().Remove(0);
  EXPECT_EQ(CMarkerTable::Instance().At(0).address, 1001u);
  EXPECT_EQ(CMarkerTable::Instance().Count(), 255);
  CMarkerTable::Instance().Clear();
}

// The error list shows the capture's sequence errors with their texts; Jump moves the
// packet list's cursor to the chosen error's packet.
// The hex dump shows the selected packet's record; its control bar moves by whole
// windows ("▲" forward, "▼" back, not below 0) and takes a typed address within the file.
TEST_F(MainWindowTest, HexDumpFollowsThePacketAndItsControlBar) {
  OpenAndWait(kSample);
  CHexView* hex = RtpPage()->Hex();
  window_->nextEntry = {true, 0, "150"};
  window_->Command(kCmdJump);
  uint64_t address = 0;
  RtpPacketEntry entry;
  ASSERT_TRUE(RtpPage()->Source().RowEntry(150, &address, &entry));
  EXPECT_EQ(hex->Address(), address);
  auto* field = hex->findChild<QLineEdit*>();
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->text(), QString::asprintf("0x%012llX", static_cast<unsigned long long>(address)));

  QToolButton* forward = nullptr;
  QToolButton* back = nullptr;
  for (QToolButton* b : hex->findChildren<QToolButton*>()) {
    if (b->text() == QString::fromUtf8("▲")) forward = b;
    if (b->text() == QString::fromUtf8("▼")) back = b;
  }
  ASSERT_TRUE(forward != nullptr && back != nullptr);
  ASSERT_LT(address + 16384, std::filesystem::file_size(kSample));
  forward->click();
  EXPECT_EQ(hex->Address(), address + 16384);
  back->click();
  back->click();
  EXPECT_EQ(hex->Address(), address > 16384 ? address - 16384 : 0u);

  field->setText(" 0x20\t");
  Q_EMIT field->editingFinished();
  EXPECT_EQ(hex->Address(), 0x20u);
  field->setText("020");  // hexadecimal as shown, with or without "0x"
  Q_EMIT field->editingFinished();
  EXPECT_EQ(hex->Address(), 0x20u);
  EXPECT_EQ(field->text(), "0x000000000020");
  for (const char* bad : {"zz", "0x7FFFFFFFFFFF"}) {  // not hexadecimal; beyond the file
    field->setText(bad);
    Q_EMIT field->editingFinished();
    EXPECT_EQ(hex->Address(), 0x20u) << bad;
    EXPECT_EQ(field->text(), "0x000000000020") << bad;
  }
}

TEST_F(MainWindowTest, ErrorListJumpsToThePacket) {
  OpenAndWait(kData + "/captures/g711u-sip-udp-lost-reordered.pcap");
  const ErrorList& errors = ErrorList::Instance();
  ASSERT_GE(errors.UsedCount(), 2);
  int chosen = -1;
  {
    DialogHookScope hook([&](QDialog& dialog) {
      auto* list = dynamic_cast<CErrorListDialog*>(&dialog);
      ASSERT_NE(list, nullptr);
      ASSERT_EQ(list->List()->count(), errors.UsedCount());
      const ErrorListEntry& last = errors.At(errors.UsedCount() - 1);
      const QString text = list->List()->item(list->List()->count() - 1)->text();
      EXPECT_TRUE(text.startsWith(QString::asprintf("0x%010llX", static_cast<unsigned long long>(last.fileOffset))));
      EXPECT_TRUE(text.endsWith(QString::fromUtf8(ErrorText(last.errorCode, 0)))) << text.toStdString();
      list->List()->setCurrentRow(list->List()->count() - 1);
      list->Jump();
      chosen = list->Chosen();
    });
    window_->Command(kCmdErrorList);
  }
  ASSERT_EQ(chosen, errors.UsedCount() - 1);
  uint64_t address = 0;
  RtpPacketEntry entry;
  ASSERT_TRUE(RtpPage()->Source().RowEntry(RtpPage()->List()->CursorItem(), &address, &entry));
  EXPECT_EQ(address, errors.At(chosen).fileOffset);
  EXPECT_EQ(entry.packetNumber, errors.At(chosen).packetNumber);
  EXPECT_NE(entry.errorFlags, 0u);
}

// A capture cut short (or deleted) while open: the views read nothing where the file has
// no bytes any more, and the window stays usable.
TEST_F(MainWindowTest, FileCutShortWhileOpenStaysUsable) {
  const std::string copy = TempName("cut.pcap");
  std::filesystem::copy_file(kSample, copy, std::filesystem::copy_options::overwrite_existing);
  OpenAndWait(copy);
  std::filesystem::resize_file(copy, 100);
  std::filesystem::remove(copy);
  window_->Command(kCmdFileEnd);
  EXPECT_EQ(RtpPage()->List()->CursorItem(), 299u);
  Painted(RtpPage()->List());
  Painted(RtpPage()->Info());
  RtpPage()->Hex()->grab();
  window_->Tabs()->setCurrentIndex(1);
  auto* audio = dynamic_cast<CAudioPage*>(window_->Tabs()->widget(1));
  ASSERT_NE(audio, nullptr);
  window_->Command(kCmdFileEnd);
  window_->Command(kCmdPrevious);
  Painted(audio->List());
  Painted(audio->Info());
  // CSV output of the packet list still works: it needs only the tables.
  const std::string out = TempName("cut.csv");
  MessageLog log(true);
  window_->Tabs()->setCurrentIndex(0);
  {
    DialogHookScope hook([&](QDialog& dialog) {
      auto* csv = dynamic_cast<CCsvFileDialog*>(&dialog);
      ASSERT_NE(csv, nullptr);
      csv->StartField()->setText("0");
      csv->EndField()->setText("300");
      csv->FileField()->setText(QString::fromStdString(out));
      csv->accept();
    });
    window_->Command(kCmdCsv);
  }
  ASSERT_TRUE(WaitFor([&] { return !log.entries.empty(); }));
  EXPECT_EQ(log.entries.back().text, QString::fromUtf8("CSVファイル出力が完了しました"));
  EXPECT_GT(std::filesystem::file_size(out), 300u * 20);
  std::filesystem::remove(out);
  window_->Close();
  EXPECT_FALSE(window_->IsOpen());
}

TEST_F(MainWindowTest, CsvDialogChecksAndReport) {
  for (int language : {0, 1}) {
    CCsvFileDialog dialog(language);
    MessageLog log;
    dialog.accept();
    dialog.StartField()->setText("3");
    dialog.EndField()->setText("3");
    dialog.accept();
    dialog.EndField()->setText("9");
    dialog.accept();
    ASSERT_EQ(log.entries.size(), 3u);
    EXPECT_EQ(log.entries[0].text, language ? QString::fromUtf8("開始位置または終了位置が正しくありません")
                                            : QString("Start position or end position is wrong"));
    EXPECT_EQ(log.entries[1].text, log.entries[0].text);
    EXPECT_EQ(log.entries[2].text, language ? QString::fromUtf8("出力するCSVファイル名を指定してください")
                                            : QString("Please select CSV file"));
    EXPECT_EQ(log.entries[2].caption, language ? QString::fromUtf8("CSVファイル出力") : QString("CSV File"));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
  }
  // An existing file asks before overwriting; No keeps the dialog open.
  const std::string existing = TempName("existing.csv");
  std::ofstream(existing) << "old";
  {
    CCsvFileDialog dialog(0);
    dialog.StartField()->setText("0");
    dialog.EndField()->setText("9");
    dialog.FileField()->setText(QString::fromStdString(existing));
    MessageLog no(false);
    dialog.accept();
    ASSERT_EQ(no.entries.size(), 1u);
    EXPECT_EQ(no.entries[0].text, QString::fromStdString(existing + " has already existed, overwrite ?"));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
  }

  // The report through the worker: rows 0 to 9 of the capture-wide list.
  OpenAndWait(kSample);
  MessageLog yes(true);
  {
    DialogHookScope hook([&](QDialog& dialog) {
      auto* csv = dynamic_cast<CCsvFileDialog*>(&dialog);
      ASSERT_NE(csv, nullptr);
      csv->StartField()->setText("0");
      csv->EndField()->setText("9");
      csv->FileField()->setText(QString::fromStdString(existing));
      csv->accept();
    });
    window_->Command(kCmdCsv);
  }
  ASSERT_TRUE(WaitFor([&] { return yes.entries.size() >= 2; }));
  EXPECT_EQ(yes.entries[1].text, QString::fromUtf8("CSVファイル出力が完了しました"));
  const std::string report = test::ReadFileText(existing);
  EXPECT_EQ(report.rfind("No.,ADDRESS,Packet No.,", 0), 0u);
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 11);  // header and 10 rows
  std::filesystem::remove(existing);
}

TEST_F(MainWindowTest, ExtractionDialogChecksAndRawExtraction) {
  OpenAndWait(kSample);
  {
    CExtractionRTPDialog dialog(*window_->Capture(), 0);
    ASSERT_EQ(dialog.FirstList()->count(), 2);  // RAW: every stream
    EXPECT_TRUE(dialog.FirstList()->itemText(0).startsWith("127.0.1."));
    EXPECT_TRUE(dialog.FirstList()->itemText(0).endsWith("(PCMU)"));
    EXPECT_FALSE(dialog.SecondList()->isEnabled());
    MessageLog log;
    dialog.StartField()->setText(" \t9");
    dialog.EndField()->setText("9");
    dialog.accept();
    dialog.EndField()->setText("x10");
    dialog.accept();
    dialog.EndField()->setText("10");
    dialog.accept();
    ASSERT_EQ(log.entries.size(), 3u);
    EXPECT_EQ(log.entries[0].text, "Start position or end position is wrong");
    EXPECT_EQ(log.entries[1].text, "Start position or end position is wrong");
    EXPECT_EQ(log.entries[2].text, "Please select output file");
    EXPECT_EQ(log.entries[2].caption, "Extraction File");
    EXPECT_NE(dialog.result(), QDialog::Accepted);
  }
  // Every packet of the first stream, as raw payload bytes, through the worker.
  const std::string out = TempName("extract.raw");
  std::filesystem::remove(out);
  MessageLog log(true);
  {
    DialogHookScope hook([&](QDialog& dialog) {
      auto* extract = dynamic_cast<CExtractionRTPDialog*>(&dialog);
      ASSERT_NE(extract, nullptr);
      extract->StartField()->setText("1");
      extract->EndField()->setText("1000");
      extract->FileField()->setText(QString::fromStdString(out));
      extract->accept();
    });
    window_->Command(kCmdExtract);
  }
  ASSERT_TRUE(WaitFor([&] { return !log.entries.empty(); }));
  EXPECT_EQ(log.entries.back().text, QString::fromUtf8("ストリームの抽出が完了しました"));
  const RtpStreamEntry& first = window_->Capture()->Streams()[0];
  EXPECT_EQ(std::filesystem::file_size(out), uint64_t{first.packets} * 160);
  std::filesystem::remove(out);
}

// AVI from the dialog: the H.264 capture's audio stream in the first list, its video
// stream in the second, both chosen by default; the file is a RIFF AVI with both streams'
// headers, video and audio chunks and an index.
TEST_F(MainWindowTest, ExtractionDialogWritesAvi) {
  OpenAndWait(kData + "/captures/h264-pcmu-sip-udp.pcap");
  const std::string out = TempName("extract.avi");
  std::filesystem::remove(out);
  MessageLog log(true);
  {
    DialogHookScope hook([&](QDialog& dialog) {
      auto* extract = dynamic_cast<CExtractionRTPDialog*>(&dialog);
      ASSERT_NE(extract, nullptr);
      extract->Method()->setCurrentIndex(1);
      ASSERT_TRUE(extract->SecondList()->isEnabled());
      ASSERT_EQ(extract->FirstList()->count(), 2);  // "-" and the PCMU stream
      ASSERT_EQ(extract->SecondList()->count(), 2);  // "-" and the H.264 stream
      EXPECT_TRUE(extract->FirstList()->currentText().endsWith("(PCMU)"));
      extract->StartField()->setText("1");
      extract->EndField()->setText("100000");
      extract->FileField()->setText(QString::fromStdString(out));
      extract->accept();
    });
    window_->Command(kCmdExtract);
  }
  ASSERT_TRUE(WaitFor([&] { return !log.entries.empty(); }));
  EXPECT_EQ(log.entries.back().text, QString::fromUtf8("ストリームの抽出が完了しました"));
  const std::string avi = test::ReadFileText(out);
  ASSERT_GT(avi.size(), 12u);
  EXPECT_EQ(avi.substr(0, 4), "RIFF");
  EXPECT_EQ(avi.substr(8, 4), "AVI ");
  uint32_t riffSize = 0;
  std::memcpy(&riffSize, avi.data() + 4, 4);  // little-endian host
  EXPECT_EQ(riffSize + 8u, avi.size());
  EXPECT_NE(avi.find("vids"), std::string::npos);
  EXPECT_NE(avi.find("auds"), std::string::npos);
  EXPECT_NE(avi.find("H264"), std::string::npos);
  EXPECT_NE(avi.find("idx1"), std::string::npos);
  // The capture's 50 pictures and 100 audio packets, each once in the movi list and once
  // in the index.
  const auto count = [&avi](const char* id) {
    size_t n = 0;
    for (size_t at = avi.find(id); at != std::string::npos; at = avi.find(id, at + 4)) ++n;
    return n;
  };
  EXPECT_EQ(count("00dc"), 2u * 50);
  EXPECT_EQ(count("01wb"), 2u * 100);
  std::filesystem::remove(out);
}

TEST_F(MainWindowTest, MissingSdpAssignedThroughSelectionDialog) {
  SetSettingsSdpList({{"pt98", "v=0\r\nm=audio 24004 RTP/AVP 98\r\na=rtpmap:98 PCMU/8000\r\n"}});
  MessageLog yes(true);
  int selections = 0;
  DialogHookScope hook([&](QDialog& dialog) {
    auto* select = dynamic_cast<CSDPSelectDialog*>(&dialog);
    ASSERT_NE(select, nullptr);
    ++selections;
    ASSERT_EQ(select->Table()->rowCount(), 1);
    EXPECT_EQ(select->Table()->item(0, 0)->text(), "127.0.1.20 (34004)");
    select->Chooser()->setCurrentIndex(1);
    EXPECT_TRUE(select->Body()->toPlainText().contains("PCMU/8000"));
    select->Table()->selectRow(0);
    select->Select();
    EXPECT_EQ(select->Table()->item(0, 1)->text(), "pt98");
    select->accept();
  });
  ASSERT_TRUE(window_->Open(kNoSdp));
  // Load, question, selection, re-open with the SDP, second load.
  ASSERT_TRUE(WaitFor([&] { return selections == 1 && !window_->IsLoading() && window_->Tabs()->count() == 4; }));
  ASSERT_GE(yes.entries.size(), 1u);
  EXPECT_EQ(yes.entries[0].caption, "RTP Parsing Error");
  EXPECT_TRUE(window_->Capture()->SdpSuppliedByUser());
  EXPECT_EQ(window_->Capture()->Streams()[0].codecType, 106);  // G.711 u-law
  WaitFor([] { return false; }, 200);  // no second question
  EXPECT_EQ(selections, 1);
  SetSettingsSdpList({});
}

TEST_F(MainWindowTest, ColourAndFontGoToTheSettingsFile) {
  {
    DialogHookScope hook([](QDialog& dialog) {
      auto* colours = dynamic_cast<CColorDialog*>(&dialog);
      ASSERT_NE(colours, nullptr);
      colours->List()->setCurrentRow(1);
      colours->SetSelectedColor(true, 0x123456);
      colours->accept();
    });
    window_->Command(kCmdColors);
  }
  const int index = ColorNames()[1].index;
  ASSERT_GE(index, 0);
  EXPECT_EQ(SettingsColors()[static_cast<size_t>(index)].background, 0x123456u);
  EXPECT_EQ(window_->Style().colors[static_cast<size_t>(index)].background, 0x123456u);
  {
    DialogHookScope hook([](QDialog& dialog) {
      auto* font = dynamic_cast<CFontDialog*>(&dialog);
      ASSERT_NE(font, nullptr);
      font->Face()->addItem("DejaVu Sans Mono", "DejaVu Sans Mono");
      font->Face()->setCurrentIndex(font->Face()->count() - 1);
      font->Size()->setValue(17);
      font->accept();
    });
    window_->Command(kCmdFont);
  }
  const std::string ini = test::ReadFileText(test::SettingsPath());
  EXPECT_NE(ini.find("DejaVu Sans Mono"), std::string::npos);
  EXPECT_NE(ini.find("17"), std::string::npos);
  CreateSettings(test::SettingsPath());  // read back
  EXPECT_EQ(SettingsFontName(), "DejaVu Sans Mono");
  EXPECT_EQ(SettingsFontSize(), 17);
  EXPECT_EQ(SettingsColors()[static_cast<size_t>(index)].background, 0x123456u);
  SetSettingsColors(DefaultColors());
  SetSettingsFont("", 0);
  SaveSettings();
}

TEST(PlayStatus, LabelCodecAndStreamTime) {
  EXPECT_EQ(PlayStatusText(0, "G.711", -1), "PLAY [G.711 :         ]");
  EXPECT_EQ(PlayStatusText(1, "G.722", -1), QString::fromUtf8("再生中 [G.722 :         ]"));
  EXPECT_EQ(PlayStatusText(0, "G.711", 999'999), "PLAY [G.711 :  0:00:00]");
  EXPECT_EQ(PlayStatusText(1, "L16", 3'723'000'000), QString::fromUtf8("再生中 [L16 :  1:02:03]"));
  EXPECT_EQ(PlayStatusText(0, "G.711", int64_t{36'000} * 1'000'000 + 59'999'999), "PLAY [G.711 : 10:00:59]");
}

// Plays the selected audio page's stream into a WAV file at four times real time: the
// status bar counts the stream time up, is cleared at the end, and the list cursor moves
// to where the play stopped. Selecting another tab during a play stops it at once.
TEST_F(MainWindowTest, PlaysSelectedStreamAndStopsOnTabSwitch) {
  const std::string wav = TempName("play.wav");
  double speed = 4.0;
  window_->audioOutput = [&wav, &speed] { return std::make_unique<CWavOutput>(wav, speed); };
  OpenAndWait(kSample);
  window_->Tabs()->setCurrentIndex(1);
  auto* audio = dynamic_cast<CAudioPage*>(window_->Tabs()->widget(1));
  ASSERT_NE(audio, nullptr);
  ASSERT_TRUE(window_->Action(kCmdPlay)->isEnabled());
  QLabel* status = window_->StatusPart(0);

  window_->Command(kCmdPlay);
  std::vector<QString> seen;
  ASSERT_TRUE(WaitFor([&] {
    const QString text = status->text();
    if (!text.isEmpty() && (seen.empty() || seen.back() != text)) seen.push_back(text);
    return !seen.empty() && text.isEmpty();
  }, 10000));
  ASSERT_FALSE(seen.empty());
  for (const QString& text : seen) EXPECT_TRUE(text.startsWith("PLAY [G.711 : ")) << text.toStdString();
  EXPECT_EQ(seen.back(), "PLAY [G.711 :  0:00:02]");  // the 3 s stream's last frames
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  // 150 frames of 160 samples, widened to 16-bit stereo, after the 44-byte header.
  EXPECT_GE(std::filesystem::file_size(wav), 44u + 150 * 160 * 4);
  const uint32_t stopped = audio->Stream()->CurrentFrame();
  EXPECT_GT(stopped, 140u);
  EXPECT_EQ(audio->List()->CursorItem(), stopped);

  // Real time this time; the tab switch stops the play long before the stream's end.
  speed = 1.0;
  window_->Close();
  OpenAndWait(kSample);
  window_->Tabs()->setCurrentIndex(1);
  window_->Command(kCmdPlay);
  ASSERT_TRUE(WaitFor([&] { return status->text().startsWith("PLAY"); }, 5000));
  window_->Tabs()->setCurrentIndex(0);
  // The worker leaves its loop at once, then lets the device play out for 2 s.
  ASSERT_TRUE(WaitFor([&] { return status->text().isEmpty(); }, 5000));
  audio = dynamic_cast<CAudioPage*>(window_->Tabs()->widget(1));
  EXPECT_LT(audio->Stream()->CurrentFrame(), 100u);
  std::filesystem::remove(wav);
}

TEST_F(MainWindowTest, DroppingFilesOpensTheFirst) {
  OpenAndWait(kNoSdp);
  ASSERT_TRUE(window_->OpenDropped({QUrl::fromLocalFile(QString::fromStdString(kSample)),
                                     QUrl::fromLocalFile(QString::fromStdString(kNoSdp))}));
  EXPECT_TRUE(window_->IsLoading());
  ASSERT_TRUE(WaitFor([this] { return !window_->IsLoading(); }));
  ASSERT_EQ(window_->Tabs()->count(), 3);
  EXPECT_EQ(RtpPage()->Source().FileName(), "sample.pcap");
}

TEST_F(MainWindowTest, JapaneseInterface) {
  window_.reset();
  SetLanguageInForce(1);
  window_ = std::make_unique<CAppMain>();
  window_->show();
  SetLanguageInForce(0);
  EXPECT_EQ(window_->menuBar()->actions().at(0)->text(), QString::fromUtf8("ファイル(&F)"));
  EXPECT_EQ(window_->Action(kCmdOpen)->toolTip(), QString::fromUtf8("ファイルを開く"));
  EXPECT_EQ(window_->Action(kCmdJump)->toolTip(), QString::fromUtf8("指定アドレスへジャンプ"));
  OpenAndWait(kSample);
  const std::vector<ViewRow>& rows = Painted(RtpPage()->List());
  ASSERT_GT(rows.size(), 2u);
  EXPECT_NE(rows[1].text.find("ファイル名"), std::string::npos);
  // The cursor arrow of the Japanese interface.
  EXPECT_NE(rows[static_cast<size_t>(RtpPage()->List()->HeaderRows())].text.find("⇒"), std::string::npos);
  MessageLog log;
  EXPECT_FALSE(window_->Open(TempName("missing.pcap")));
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].text, QString::fromUtf8("ファイルが開けません"));
  EXPECT_EQ(log.entries[0].caption, QString::fromUtf8("ファイルを開く"));
}

TEST(StartupLanguage, DialogOnlyWhenNeverChosen) {
  App();
  const std::string ini = TempName("language.ini");
  const QByteArray lang = qgetenv("LANG");
  const QByteArray all = qgetenv("LC_ALL");
  qunsetenv("LC_ALL");
  qputenv("LANG", "ja_JP.UTF-8");
  int dialogs = 0;
  {
    // Cancelled: the locale's Japanese is taken and stored.
    std::filesystem::remove(ini);
    CreateSettings(ini);
    DialogHookScope hook([&](QDialog& dialog) {
      auto* choose = dynamic_cast<CChooseLanguageDialog*>(&dialog);
      ASSERT_NE(choose, nullptr);
      EXPECT_EQ(choose->Choice(), 1);  // preselected from the locale
      ++dialogs;
      dialog.reject();
    });
    EXPECT_EQ(ChooseStartupLanguage(), 1);
    EXPECT_EQ(StoredLanguage(), 1);
  }
  {
    // Stored now: no dialog, even with an English locale.
    qputenv("LANG", "C");
    CreateSettings(ini);
    DialogHookScope hook([&](QDialog&) { ++dialogs; });
    EXPECT_EQ(ChooseStartupLanguage(), 1);
    EXPECT_EQ(LanguageInForce(), 1);
  }
  {
    // Chosen in the dialog.
    std::filesystem::remove(ini);
    CreateSettings(ini);
    DialogHookScope hook([&](QDialog& dialog) {
      auto* choose = dynamic_cast<CChooseLanguageDialog*>(&dialog);
      ASSERT_NE(choose, nullptr);
      EXPECT_EQ(choose->Choice(), 0);
      ++dialogs;
      dialog.findChild<QComboBox*>()->setCurrentIndex(1);
      dialog.accept();
    });
    EXPECT_EQ(ChooseStartupLanguage(), 1);
    CreateSettings(ini);  // read back from the file
    EXPECT_EQ(StoredLanguage(), 1);
  }
  EXPECT_EQ(dialogs, 2);
  qputenv("LANG", lang);
  if (!all.isEmpty()) qputenv("LC_ALL", all);
  std::filesystem::remove(ini);
  CreateSettings(test::SettingsPath());
  SetLanguageInForce(0);
}

// The about box: version, edition and the loaded codec modules' notices.
TEST_F(MainWindowTest, AboutBoxShowsModuleNotices) {
  ASSERT_EQ(LoadCodecModules(FENNIK_FAKE_MODULES), 2);
  QString shown;
  {
    DialogHookScope hook([&](QDialog& dialog) {
      auto* about = dynamic_cast<CAboutDialogX*>(&dialog);
      ASSERT_NE(about, nullptr);
      auto* text = about->findChild<QPlainTextEdit*>();
      ASSERT_NE(text, nullptr);
      shown = text->toPlainText();
      bool version = false;
      for (QLabel* label : about->findChildren<QLabel*>()) version |= label->text() == "Version 1.1.0.0";
      EXPECT_TRUE(version);
    });
    window_->Command(kCmdAbout);
  }
  UnloadCodecModules();
  EXPECT_EQ(shown, "GSM fake notice\n" + QString(72, '-') + QString::fromUtf8("\niLBC fake notice © 2026"));
}

TEST(HelpPages, BundledPagePerLanguage) {
  App();
  EXPECT_TRUE(HelpUrl(0).toLocalFile().endsWith("/help/fennik-en.html"));
  EXPECT_TRUE(HelpUrl(1).toLocalFile().endsWith("/help/fennik-ja.html"));
  EXPECT_TRUE(std::filesystem::exists(kData + "/../../app/help/fennik-en.html"));
  EXPECT_TRUE(std::filesystem::exists(kData + "/../../app/help/fennik-ja.html"));
}

// The stream analysis dialog shows the figures `fennik-cli stats --json` prints for the same
// capture, marks the worst streams, lists the RTCP report blocks and the key presses, and a
// double-click lists the row's stream on the capture's page.
TEST_F(MainWindowTest, StreamAnalysisDialogShowsTheStatsFigures) {
  const std::pair<std::string, int> cases[] = {  // capture, its one stream marked poor
      {kData + "/quality/rtcp-ffmpeg-pcmu.pcap", 1},            // discards of the 60 ms buffer: R 74
      {kData + "/quality/dtmf-sipp.pcap", 1},                   // restarts between the digits
      {kData + "/captures/g711u-sip-udp-lost-reordered.pcap", 2}};  // 2 % lost
  const std::pair<int, const char*> columns[] = {
      {kColPackets, "packets"}, {kColExpected, "expected"}, {kColLost, "lost"}, {kColLossPercent, "loss_percent"},
      {kColDuplicates, "duplicates"}, {kColOutOfOrder, "out_of_order"}, {kColMaxDelta, "max_delta_ms"},
      {kColMeanJitter, "mean_jitter_ms"}, {kColMaxJitter, "max_jitter_ms"}, {kColDiscarded, "discarded"},
      {kColRFactor, "r_factor"}, {kColMos, "mos"}};
  for (const auto& [path, poor] : cases) {
    SCOPED_TRACE(path);
    OpenAndWait(path);
    const test::CommandRun run = test::Cli("stats " + path + " --json");
    ASSERT_EQ(run.status, 0);
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(run.out)).object();
    const QJsonArray streams = json["streams"].toArray();
    int chosen = -1;
    DialogHookScope hook([&](QDialog& d) {
      auto* dialog = dynamic_cast<CStreamAnalysisDialog*>(&d);
      ASSERT_NE(dialog, nullptr);
      QTableWidget* table = dialog->StreamTable();
      ASSERT_EQ(table->rowCount(), streams.size());
      const auto value = [&](int row, int column) { return table->item(row, column)->data(Qt::UserRole).toDouble(); };
      for (int row = 0; row < table->rowCount(); ++row) {
        const QJsonObject st = streams[static_cast<int>(value(row, kColStream)) - 1].toObject();
        for (const auto& [column, key] : columns) {
          SCOPED_TRACE(key);
          if (st[key].isNull()) EXPECT_EQ(table->item(row, column)->text(), "-");
          else EXPECT_NEAR(value(row, column), st[key].toDouble(), 0.0006);  // the JSON's 3 decimals
        }
        EXPECT_NEAR(value(row, kColBurstDensity), st["burst_density"].toDouble() * 100, 0.006);
        EXPECT_NEAR(value(row, kColGapDensity), st["gap_density"].toDouble() * 100, 0.006);
        const bool marked = table->item(row, kColQuality)->text() == "poor";
        EXPECT_EQ(marked, st["id"].toInt() == poor);
        EXPECT_EQ(table->item(row, kColPackets)->background() != QBrush(), marked);  // the whole row coloured
      }
      EXPECT_TRUE(dialog->Note()->text().contains("estimates"));
      EXPECT_FALSE(dialog->LossView()->Chart().title.empty());
      // RTCP: the receiver reports' blocks in packet order, with their losses and round trips.
      std::vector<QJsonObject> blocks;
      for (const QJsonValue e : json["rtcp"].toArray()) {
        if (e["type"] != "RR") continue;
        for (const QJsonValue b : e["reports"].toArray()) blocks.push_back(b.toObject());
      }
      std::vector<int> rrRows;
      for (int row = 0; row < dialog->RtcpTable()->rowCount(); ++row) {
        if (dialog->RtcpTable()->item(row, 3)->text() == "RR") rrRows.push_back(row);
      }
      ASSERT_EQ(rrRows.size(), blocks.size());
      for (size_t i = 0; i < blocks.size(); ++i) {
        const auto rtcp = [&](int column) { return dialog->RtcpTable()->item(rrRows[i], column); };
        EXPECT_EQ(rtcp(8)->data(Qt::UserRole).toInt(), blocks[i]["fraction_lost"].toInt());
        EXPECT_EQ(rtcp(9)->text().toInt(), blocks[i]["cumulative_lost"].toInt());
        EXPECT_NEAR(rtcp(11)->data(Qt::UserRole).toDouble(), blocks[i]["round_trip_ms"].toDouble(), 0.0006);
      }
      // The key presses.
      const QJsonArray events = json["events"].toArray();
      ASSERT_EQ(dialog->EventTable()->rowCount(), events.size());
      for (int row = 0; row < events.size(); ++row) {
        const auto cell = [&](int column) { return dialog->EventTable()->item(row, column)->text(); };
        EXPECT_EQ(cell(1), events[row]["digit"].toString());
        EXPECT_EQ(cell(5).toDouble(), std::round(events[row]["duration_ms"].toDouble() * 10) / 10);
        EXPECT_EQ(cell(6).toInt(), -events[row]["volume"].toInt());
        EXPECT_EQ(cell(7), events[row]["end"].toBool() ? "yes" : "no");
      }
      // A double-click on the last stream's row.
      const int last = table->rowCount() - 1;
      chosen = static_cast<int>(value(last, kColStream)) - 1;
      table->cellDoubleClicked(last, 0);
    });
    window_->Command(kCmdStreamAnalysis);
    ASSERT_GE(chosen, 0);
    EXPECT_EQ(window_->Tabs()->currentIndex(), 0);
    EXPECT_EQ(RtpPage()->SubView(), chosen + 1);
  }
}

}  // namespace
}  // namespace fennik
