#include "app/CAppMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressDialog>
#include <QScreen>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "app/AppSettings.h"
#include "app/CommandTable.h"
#include "app/ExtractionDialog.h"
#include "app/ListDialogs.h"
#include "app/Markers.h"
#include "app/Pages.h"
#include "app/StreamAnalysisDialog.h"
#include "app/VideoPage.h"
#include "base/DebugPrint.h"
#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/CodecModules.h"
#include "codec/video/VideoCodecs.h"
#include "playback/CDecodeTaskX.h"
#include "sdp/MediaDescription.h"
#include "ui/Dialogs.h"
#include "ui/SettingsDialogs.h"
#include "view/NumberFormat.h"

namespace fennik {
namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Status bar parts end at 400, 600 and 800 pixels.
constexpr int kStatusWidths[3] = {400, 200, 200};

}  // namespace

// The worker's messages arrive on the worker thread; they are carried to the main thread
// as queued calls, tagged with the worker's generation so that a closed capture's late
// messages are dropped.
class CAppMain::Listener : public CTaskListener {
 public:
  Listener(CAppMain* window, unsigned generation) : window_(window), generation_(generation) {}
  void OnWorkerMessage(const WorkerMessage& message) override {
    CAppMain* window = window_;
    const unsigned generation = generation_;
    QMetaObject::invokeMethod(window, [window, message, generation] { window->OnWorkerMessage(message, generation); },
                              Qt::QueuedConnection);
  }
  void OnTaskProgress(int percent, const std::string& text) override {
    CAppMain* window = window_;
    const unsigned generation = generation_;
    const QString line = QString::fromStdString(text);
    QMetaObject::invokeMethod(window, [window, percent, line, generation] { window->OnProgress(percent, line, generation); },
                              Qt::QueuedConnection);
  }

 private:
  CAppMain* window_;
  unsigned generation_;
};

CAppMain::CAppMain(QWidget* parent) : QMainWindow(parent) {
  FillViewStyle(style_);
  language_ = style_.language;
  setWindowTitle(QStringLiteral("Fennik"));
  setAcceptDrops(true);
  // The window fills most of the screen (never less than 1100 x 760 where the screen has
  // room), centred on it.
  QSize size(1100, 760);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    size = QSize(std::max(std::min(size.width(), area.width()), area.width() * 9 / 10),
                 std::max(std::min(size.height(), area.height()), area.height() * 9 / 10));
    move(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
  }
  resize(size);
  tabs_ = new QTabWidget(this);
  tabs_->setDocumentMode(true);
  QFont tabFont = CellFont(style_);
  tabs_->tabBar()->setFont(tabFont);
  setCentralWidget(tabs_);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { SelectTab(index); });
  pageTimer_ = new QTimer(this);
  pageTimer_->setInterval(0);
  connect(pageTimer_, &QTimer::timeout, this, [this] { AddPendingPages(); });
  for (int i = 0; i < 3; ++i) {
    status_[i] = new QLabel(this);
    status_[i]->setMinimumWidth(kStatusWidths[i]);
    statusBar()->addWidget(status_[i], i == 2 ? 1 : 0);
  }
  CreateActions();
  CMarkerTable::Instance().Clear();
  ErrorList::Instance().Clear();
  EnableFileCommands(false);
}

CAppMain::~CAppMain() { Close(); }

void CAppMain::CreateActions() {
  for (int m = kMenuFile; m <= kMenuHelp; ++m) menus_.push_back(menuBar()->addMenu(Q(MenuTitle(m, language_))));
  for (const CommandText& c : Commands()) {
    const char* text = language_ == 1 ? (c.menuJa ? c.menuJa : c.tipJa) : (c.menuEn ? c.menuEn : c.tipEn);
    auto* action = new QAction(Q(text ? text : ""), this);
    if (c.tipEn != nullptr) {
      action->setToolTip(Q(language_ == 1 ? c.tipJa : c.tipEn));
      action->setIconText(action->toolTip());
    }
    const int id = c.id;
    connect(action, &QAction::triggered, this, [this, id] { Command(id); });
    actions_[id] = action;
    if (c.menu != kMenuNone) {
      if (id == kCmdExit || id == kCmdAbout) menus_[static_cast<size_t>(c.menu)]->addSeparator();
      menus_[static_cast<size_t>(c.menu)]->addAction(action);
    }
  }
  toolbar_ = addToolBar(QStringLiteral("toolbar"));
  toolbar_->setMovable(false);
  toolbar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  QFont small = toolbar_->font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  toolbar_->setFont(small);
  for (const ToolbarButton& b : ToolbarButtons()) {
    QAction* added = b.id == 0 ? toolbar_->addSeparator() : nullptr;
    if (b.id != 0) {
      // Hidden buttons keep their place in the bar through a hidden action of their own.
      QAction* action = actions_[b.id];
      if (b.hidden) {
        added = new QAction(action->toolTip(), toolbar_);
        added->setToolTip(action->toolTip());
        toolbar_->addAction(added);
      } else {
        toolbar_->addAction(action);
      }
    }
    if (b.hidden && added != nullptr) added->setVisible(false);
  }
}

QAction* CAppMain::Action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

CPage* CAppMain::SelectedPage() const { return dynamic_cast<CPage*>(tabs_->currentWidget()); }

void CAppMain::EnableFileCommands(bool enable) {
  for (int id : FileCommands()) actions_[id]->setEnabled(enable);
  for (const FlagCommand& f : FlagCommands()) actions_[f.id]->setEnabled(false);
  for (int m : {kMenuView, kMenuSearch, kMenuOperation}) menus_[static_cast<size_t>(m)]->setEnabled(enable);
}

void CAppMain::ApplyPageFlags(const CPage* page) {
  const uint32_t flags = page ? page->Flags() : 0;
  for (const FlagCommand& f : FlagCommands()) actions_[f.id]->setEnabled(((flags >> f.bit) & 1) != 0);
}

bool CAppMain::Open(const std::string& path, const std::vector<std::string>& userSdp) {
  if (path.empty()) return false;
  if (capture_) Close();
  const QString caption = Q(Text(language_, "Open stream file", "ファイルを開く"));
  QFile probe(QString::fromStdString(path));
  if (!probe.open(QIODevice::ReadOnly)) {
    ShowMessage(this, MessageKind::kWarning, caption, Q(Text(language_, "Can't open file", "ファイルが開けません")));
    return false;
  }
  probe.close();
  auto capture = std::make_unique<CRTP_Parser>();
  capture->SetErrorSink(&ErrorList::Instance());
  const OpenResult result = capture->Open(path);
  if (result != OpenResult::kOk) {
    if (result == OpenResult::kNotSupported) DebugPrint("not support file format %s\n", path.c_str());
    ShowMessage(this, MessageKind::kWarning, caption,
                result == OpenResult::kCantOpen
                    ? Q(Text(language_, "Can't open file", "ファイルが開けません"))
                    : Q(Text(language_, "Not support file format", "サポートしていないファイル形式です")));
    return false;
  }
  for (const std::string& text : userSdp) {
    if (!text.empty()) capture->AddUserSdp(text);
  }
  capture_ = std::move(capture);
  path_ = path;
  EnableFileCommands(true);
  ++generation_;
  listener_ = std::make_unique<Listener>(this, generation_);
  task_ = std::make_unique<CDecodeTaskX>();
  task_->SetLanguage(language_);
  if (audioOutput) task_->Renderer().SetOutput(audioOutput());
  loading_ = true;
  sdpMissing_ = false;
  task_->Start(listener_.get(), capture_.get());
  return true;
}

void CAppMain::Close() {
  if (!capture_ && !task_) return;
  DebugPrint("APP: close file\n");
  CMarkerTable::Instance().Clear();
  ErrorList::Instance().Clear();
  if (task_) task_->Stop();
  ++generation_;
  pendingPages_.clear();
  pendingLoadEnd_ = -1;
  currentPlayStream_ = nullptr;
  pageTimer_->stop();
  if (progress_ != nullptr) {
    progress_->hide();
    progress_->deleteLater();
    progress_ = nullptr;
  }
  // Pages read the capture's tables: they go before the capture.
  while (tabs_->count() > 0) {
    QWidget* page = tabs_->widget(0);
    tabs_->removeTab(0);
    delete page;
  }
  task_.reset();
  listener_.reset();
  capture_.reset();
  loading_ = false;
  for (QLabel* part : status_) part->clear();
  EnableFileCommands(false);
}

void CAppMain::OnProgress(int percent, const QString& text, unsigned generation) {
  if (generation != generation_ || progress_ == nullptr) return;
  progress_->setValue(percent);
  progress_->setLabelText(text);
}

void CAppMain::OnWorkerMessage(const WorkerMessage& message, unsigned generation) {
  if (generation != generation_) return;
  switch (message.id) {
    case kMsgLoadStart:
    case kMsgExtractStart:
    case kMsgCsvStart: {
      if (progress_ == nullptr) {
        progress_ = new QProgressDialog(this);
        progress_->setWindowTitle(QStringLiteral("Fennik"));
        progress_->setCancelButtonText(Q(Text(language_, "Cancel", "キャンセル")));
        progress_->setRange(0, 100);
        progress_->setMinimumDuration(0);
        progress_->setAutoClose(false);
        progress_->setAutoReset(false);
        progress_->setWindowModality(Qt::WindowModal);
        connect(progress_, &QProgressDialog::canceled, this, [this] {
          if (task_) task_->CancelLoad();
          if (extraction_) extraction_->Cancel();
        });
      }
      progress_->setValue(0);
      progress_->show();
      break;
    }
    case kMsgPageCreated:
      pendingPages_.push_back({message.stream, static_cast<uint32_t>(message.value)});
      pageTimer_->start();
      break;
    case kMsgLoadEnd:
      if (progress_ != nullptr) progress_->hide();
      // The load ends once the pages announced before its end are in place.
      if (pendingPages_.empty()) OnLoadEnd(message.value != 0);
      else pendingLoadEnd_ = message.value != 0 ? 1 : 0;
      break;
    case kMsgExtractEnd:
    case kMsgCsvEnd: {
      if (progress_ != nullptr) progress_->hide();
      const bool csv = message.id == kMsgCsvEnd;
      // These two result boxes are Japanese in both languages.
      const char* text = csv ? (message.value ? "CSVファイル出力が完了しました" : "CSVファイル出力に失敗しました")
                             : (message.value ? "ストリームの抽出が完了しました" : "ストリームの抽出に失敗しました");
      ShowMessage(this, MessageKind::kInformation, Q(csv ? "CSVファイル出力" : "ストリームの抽出"), Q(text));
      break;
    }
    case kMsgShowFrame: ShowVideoFrame(); break;
    case kMsgPlayStart:
    case kMsgPlayFrame: {
      if (message.id == kMsgPlayStart) {
        currentPlayStream_ = message.stream;
        status_[1]->clear();
      }
      const char* codec = message.stream ? message.stream->GetCodecName() : "";
      int64_t time = -1;
      if (message.id == kMsgPlayFrame && message.stream != nullptr) {
        time = static_cast<int64_t>(message.stream->GetTime(static_cast<uint32_t>(message.value)));
      }
      status_[0]->setText(PlayStatusText(language_, codec, time));
      break;
    }
    case kMsgPlayEnd:
      status_[0]->clear();
      fieldCounter_ = 0;
      currentPlayStream_ = nullptr;
      // The stream's page shows where the play stopped.
      for (int i = 0; i < tabs_->count(); ++i) {
        auto* page = static_cast<CPage*>(tabs_->widget(i));
        if (message.stream != nullptr && page->Stream() == message.stream) {
          page->List()->Navigate(kNavNumber, message.stream->CurrentFrame());
        }
      }
      DebugPrint("play stop position = %d\n", static_cast<int>(message.value));
      break;
    case kMsgSdpMissing:
      sdpMissing_ = true;
      if (!loading_) AskReparse();
      break;
    default: break;
  }
}

// Message 1032: the picture at the ring's read position goes to the playing stream's page.
// With field display an interlaced picture is shown twice, one field each time (its first
// field first), before it is given back.
void CAppMain::ShowVideoFrame() {
  if (!task_) return;
  const CVideoFrame* frame = task_->TakeVideoFrame();
  if (frame == nullptr) {
    if (task_->LateTicks() > 0) {
      // The play falls behind the stream's clock: the status bar says so at once.
      status_[1]->setText(Q(Printf(Text(language_, "late pictures: %llu (decoding slower than the frame rate)",
                                        "表示遅れ: %llu (デコードがフレームレートに追いつきません)"),
                                   static_cast<unsigned long long>(task_->LateTicks()))
                                .c_str()));
    }
    return;
  }
  CVideoPage* page = nullptr;
  for (int i = 0; i < tabs_->count() && page == nullptr; ++i) {
    auto* candidate = dynamic_cast<CVideoPage*>(tabs_->widget(i));
    if (candidate != nullptr && candidate->Stream() == currentPlayStream_) page = candidate;
  }
  int mode = 0;
  bool release = true;
  if (page != nullptr && page->FieldDisplay() && frame->field_type != 0) {
    const int first = frame->field_type == 2 ? 2 : 1;
    mode = fieldCounter_ == 0 ? first : 3 - first;
    release = fieldCounter_ != 0;
    fieldCounter_ = release ? 0 : 1;
  } else {
    fieldCounter_ = 0;
  }
  if (page != nullptr) {
    page->ShowPlayPicture(*frame, mode, task_->TakenPrepared());
    status_[0]->setText(PlayStatusText(language_, page->Stream()->GetCodecName(),
                                       static_cast<int64_t>(page->Stream()->GetTime(frame->frame_number))));
  }
  if (release) task_->ReleaseVideoFrame();
}

QString PlayStatusText(int language, const char* codec, int64_t microseconds) {
  const char* label = language == 1 ? "再生中" : "PLAY";
  if (microseconds < 0) return Q(Printf("%s [%s :         ]", label, codec).c_str());
  const uint64_t ms = static_cast<uint64_t>(microseconds) / 1000;
  const unsigned hours = static_cast<unsigned>(ms / 3600000);
  const unsigned minutes = static_cast<unsigned>(ms % 3600000 / 60000);
  const unsigned seconds = static_cast<unsigned>(ms % 3600000 % 60000 / 1000);
  return Q(Printf("%s [%s : %2u:%02u:%02u]", label, codec, hours, minutes, seconds).c_str());
}

// Adds the pages of page-created messages for up to 20 ms, then lets the event loop run
// (paint, input) before the next slice: a capture with hundreds of streams does not hold
// the window while its pages are built.
void CAppMain::AddPendingPages() {
  QElapsedTimer slice;
  slice.start();
  while (!pendingPages_.empty() && slice.elapsed() < 20) {
    const PendingPage next = pendingPages_.front();
    pendingPages_.pop_front();
    AddPage(next.stream, next.streamIndex);
  }
  if (!pendingPages_.empty()) return;
  pageTimer_->stop();
  if (pendingLoadEnd_ >= 0) {
    const bool ok = pendingLoadEnd_ != 0;
    pendingLoadEnd_ = -1;
    OnLoadEnd(ok);
  }
}

// A page-created message: the page is added as the last tab; the first page added is
// selected, later ones stay hidden until chosen.
void CAppMain::AddPage(CAvStream* stream, uint32_t streamIndex) {
  if (!capture_) return;
  if (stream != nullptr) stream->SetConcatenated(!SettingsPlayTimeline());
  const std::string fileName = QFileInfo(QString::fromStdString(path_)).fileName().toStdString();
  CDecodeTaskX* task = task_.get();
  CPage* page = CreatePage(*capture_, stream, streamIndex, fileName, &style_, tabs_,
                           [task](std::function<void()> job) { return task != nullptr && task->PostDisplayJob(std::move(job)); });
  if (page == nullptr) return;
  tabs_->blockSignals(true);
  tabs_->addTab(page, page->Title());
  tabs_->blockSignals(false);
  if (tabs_->count() == 1) SelectTab(0);
}

void CAppMain::OnLoadEnd(bool ok) {
  loading_ = false;
  if (!ok) {
    Close();
    return;
  }
  if (sdpMissing_) AskReparse();
}

void CAppMain::AskReparse() {
  sdpMissing_ = false;
  if (!capture_) return;
  const std::vector<MissingSdpEntry> missing = capture_->MissingSdp();
  std::vector<SdpText> list = SettingsSdpList();
  if (missing.empty() || list.empty() || capture_->SdpSuppliedByUser()) return;
  if (!ShowMessage(this, MessageKind::kQuestion, Q(Text(language_, "RTP Parsing Error", "RTP解析エラー")),
                   Q(Text(language_, "Missing SDP information. \r\nDo you want to set the SDP information and parse again?",
                          "SDP情報が不足しています。\r\nSDP情報を設定して再解析しますか？")))) {
    return;
  }
  std::vector<SdpStreamRow> rows;
  for (const MissingSdpEntry& m : missing) rows.push_back({m.sourceAddress, m.sourcePort, {}, {}});
  CSDPSelectDialog dialog(rows, list, language_, this);
  if (!RunDialog(dialog)) return;
  SetSettingsSdpList(dialog.List());  // edited bodies stay in memory until the next save
  std::vector<std::string> texts;
  for (const SdpStreamRow& row : dialog.Rows()) {
    if (!row.text.empty()) texts.push_back(MakeUserSdpText(row.text, row.sourceAddress, row.sourcePort));
  }
  const std::string path = path_;
  Open(path, texts);
}

void CAppMain::SelectTab(int index) {
  if (task_ && task_->IsBusy()) task_->HandleCommand(kCmdStop);
  for (int i = 0; i < tabs_->count(); ++i) {
    auto* page = dynamic_cast<CPage*>(tabs_->widget(i));
    if (page == nullptr || i != index) continue;
    if (task_) task_->SetCurrentStream(page->Stream());
    ApplyPageFlags(page);
    page->List()->setFocus();
  }
}

void CAppMain::Command(int id) {
  // The worker takes play and stop first; video play starts at the selected frame.
  if (id == kCmdPlay || id == kCmdStop || id == kCmdPause || id == kCmdSlowForward) {
    auto* video = dynamic_cast<CVideoPage*>(SelectedPage());
    if (id == kCmdPlay && task_) task_->SetPicturePreparer(video != nullptr ? video->PlayPreparer() : nullptr);
    if (video != nullptr && id == kCmdPlay && task_) {
      const uint64_t cursor = video->List()->CursorItem();
      task_->SetPlayStart(cursor == kNoItem ? CAvStream::kNone : static_cast<uint32_t>(cursor));
      video->ResetPresented();
    }
    if (task_ && task_->HasWorker()) task_->HandleCommand(static_cast<uint32_t>(id));
    return;
  }
  CPage* page = SelectedPage();
  switch (id) {
    case kCmdOpen: {
      const QString name = QFileDialog::getOpenFileName(
          this, Q(Text(language_, "Open stream file", "読み込むファイルの選択")), QString(),
          Q(Text(language_, "PCAP files(*.pcap;*.pcapng;) (*.pcap *.pcapng);;All files(*.*) (*)",
                 "PCAPファイル(*.pcap;*.pcapng;) (*.pcap *.pcapng);;全てのファイル(*.*) (*)")));
      if (!name.isEmpty()) Open(name.toStdString());
      break;
    }
    case kCmdClose: Close(); break;
    case kCmdExit: close(); break;
    case kCmdCsv: RunCsvDialog(); break;
    case kCmdExtract: RunExtraction(); break;
    case kCmdSelectView:
      if (page != nullptr) {
        int index = nextSubView;
        nextSubView = -1;
        if (index < 0) {
          CSelectViewDialog dialog(page->SubViews(), page->SubView(), language_, this);
          if (!RunDialog(dialog)) break;
          index = dialog.Selected();
        }
        page->SelectSubView(index);
      }
      break;
    case kCmdViewIndex: RunEntryDialog(false); break;
    case kCmdJump: RunEntryDialog(true); break;
    case kCmdPrevious: if (page) page->List()->Previous(); break;
    case kCmdNext: if (page) page->List()->Next(); break;
    case kCmdListTop: if (page) page->List()->Navigate(kNavWindowTop, 0); break;
    case kCmdListEnd: if (page) page->List()->Navigate(kNavWindowEnd, 0); break;
    case kCmdFileTop: if (page) page->List()->Navigate(kNavFileTop, 0); break;
    case kCmdFileEnd: if (page) page->List()->Navigate(kNavFileEnd, 0); break;
    case kCmdMarker: if (page) page->ToggleMarker(); break;
    case kCmdMarkerList: ShowMarkerList(); break;
    case kCmdErrorList: ShowErrorList(); break;
    case kCmdStreamAnalysis: ShowStreamAnalysis(); break;
    case kCmdColors: RunColorDialog(); break;
    case kCmdFont: RunFontDialog(); break;
    case kCmdSdpSetting: RunSdpSetting(); break;
    case kCmdOtherSettings: {
      COtherSettingsDialog dialog(SettingsFileLimitMb(), language_, this);
      if (RunDialog(dialog)) {
        SetSettingsFileLimitMb(dialog.LimitMb());
        SaveSettings();
      }
      break;
    }
    case kCmdLanguage: RunLanguageDialog(); break;
    case kCmdAbout: RunAbout(); break;
    case kCmdHelp: OpenHelp(); break;
    default: break;  // 6002, search and slow commands do nothing
  }
}

void CAppMain::RunEntryDialog(bool jump) {
  CPage* page = SelectedPage();
  if (page == nullptr) return;
  int& mode = entryMode_[jump ? 0 : 1];
  uint64_t value = 0;
  if (nextEntry.set) {
    // Answered by a test: the dialog's own checks still decide.
    CEntryDialog dialog(QString(), nextEntry.mode, language_, this);
    dialog.Field()->setText(QString::fromStdString(nextEntry.text));
    nextEntry = {};
    dialog.accept();
    if (dialog.result() != QDialog::Accepted) return;
    mode = dialog.Mode();
    value = dialog.Value();
  } else {
    const char* title = jump ? Text(language_, "Jump", "指定アドレスへジャンプ")
                             : Text(language_, "Set View Index", "リストの表示開始番号を指定");
    CEntryDialog dialog(Q(title), mode, language_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    mode = dialog.Mode();
    value = dialog.Value();
  }
  const bool address = mode == CEntryDialog::kAddress;
  const int kind = jump ? (address ? kNavAddress : kNavNumber) : (address ? kNavAddressStart : kNavNumberStart);
  page->List()->Navigate(kind, value);
}

void CAppMain::RunCsvDialog() {
  CPage* page = SelectedPage();
  uint32_t kind = 0;
  if (!capture_ || page == nullptr || !page->CsvKind(kind)) return;
  CCsvFileDialog dialog(language_, this);
  if (!RunDialog(dialog)) return;
  if (!task_ || task_->IsBusy()) return;
  TaskRequest request;
  request.id = kRequestCsv;
  request.csv.listKind = kind;
  request.csv.start = static_cast<int32_t>(dialog.Start());
  request.csv.end = static_cast<int32_t>(dialog.End());
  request.csv.fileName = dialog.FileName();
  request.csv.language = language_;
  task_->PostRequest(std::move(request));
}

void CAppMain::RunExtraction() {
  if (!capture_) return;
  CExtractionRTPDialog dialog(*capture_, language_, this);
  if (!RunDialog(dialog)) return;
  if (!task_ || task_->IsBusy()) return;
  extraction_ = std::make_shared<CExtractionJob>(dialog.Request());
  TaskRequest request;
  request.id = kRequestExtract;
  request.extraction = extraction_;
  task_->PostRequest(std::move(request));
}

void CAppMain::ShowMarkerList() {
  CPage* page = SelectedPage();
  if (page == nullptr) return;
  CMarkerListDialog dialog(language_, this);
  if (RunDialog(dialog) && dialog.Chosen() >= 0) {
    page->List()->Navigate(kNavListAddress, CMarkerTable::Instance().At(dialog.Chosen()).address);
  }
  for (int i = 0; i < tabs_->count(); ++i) static_cast<CPage*>(tabs_->widget(i))->List()->Refresh();
}

void CAppMain::ShowErrorList() {
  CPage* page = SelectedPage();
  if (page == nullptr) return;
  CErrorListDialog dialog(language_, this);
  if (RunDialog(dialog) && dialog.Chosen() >= 0 && dialog.Chosen() < ErrorList::kEntries) {
    page->List()->Navigate(kNavListAddress, ErrorList::Instance().At(dialog.Chosen()).fileOffset);
  }
}

// The figures are those of the finished pass; the chosen stream's packets are then listed
// on the capture's page (its sub-view after the list of every packet).
void CAppMain::ShowStreamAnalysis() {
  if (!capture_ || loading_) return;
  CStreamAnalysisDialog dialog(*capture_, language_, this);
  if (!RunDialog(dialog) || dialog.Chosen() < 0) return;
  for (int i = 0; i < tabs_->count(); ++i) {
    auto* page = dynamic_cast<CRtpPage*>(tabs_->widget(i));
    if (page == nullptr || !page->SelectSubView(dialog.Chosen() + 1)) continue;
    tabs_->setCurrentIndex(i);
    page->List()->setFocus();
    break;
  }
}

void CAppMain::StyleChanged() {
  FillViewStyle(style_);
  style_.language = language_;  // a new language takes effect at the next start
  for (int i = 0; i < tabs_->count(); ++i) static_cast<CPage*>(tabs_->widget(i))->StyleChanged();
}

void CAppMain::RunColorDialog() {
  CColorDialog dialog(SettingsColors(), language_, this);
  if (!RunDialog(dialog)) return;
  SetSettingsColors(dialog.Colors());
  SaveSettings();
  StyleChanged();
}

void CAppMain::RunFontDialog() {
  CFontDialog dialog(SettingsFontName(), SettingsFontSize(), language_, this);
  if (!RunDialog(dialog)) return;
  SetSettingsFont(dialog.FontName(), dialog.FontSize());
  SaveSettings();
  StyleChanged();
}

void CAppMain::RunSdpSetting() {
  CSDPSettingDialog dialog(SettingsSdpList(), language_, this);
  if (!RunDialog(dialog)) return;
  SetSettingsSdpList(dialog.List());
  SaveSettings();
}

void CAppMain::RunLanguageDialog() {
  const int stored = StoredLanguage();
  const int initial = stored == 0 || stored == 1 ? stored : LocaleLanguage();
  CChooseLanguageDialog dialog(initial, language_, this);
  if (!RunDialog(dialog)) return;
  // From the menu the choice is stored; the language in force changes at the next start.
  SetStoredLanguage(dialog.Choice());
  SaveSettings();
}

void CAppMain::RunAbout() {
  CAboutDialogX dialog(QString::fromStdString(ProgramVersion()), QString::fromStdString(CodecModuleNotices()),
                       language_, this);
  RunDialog(dialog);
}

// The help page of the language in force: a configured address, else the page bundled
// next to the program.
QUrl HelpUrl(int language) {
  const std::string page = HelpPage(language);
  if (!page.empty()) return QUrl(QString::fromStdString(page));
  const QString file = QCoreApplication::applicationDirPath() +
                       (language == 1 ? QStringLiteral("/help/fennik-ja.html") : QStringLiteral("/help/fennik-en.html"));
  return QUrl::fromLocalFile(file);
}

void CAppMain::OpenHelp() { QDesktopServices::openUrl(HelpUrl(language_)); }

void CAppMain::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CAppMain::dropEvent(QDropEvent* event) { OpenDropped(event->mimeData()->urls()); }

bool CAppMain::OpenDropped(const QList<QUrl>& urls) {
  if (urls.isEmpty()) return false;
  return Open(urls.first().toLocalFile().toStdString());  // only the first file
}

void CAppMain::closeEvent(QCloseEvent* event) {
  Close();
  event->accept();
}

int ChooseStartupLanguage() {
  const int stored = StoredLanguage();
  if (stored == 0 || stored == 1) {
    SetLanguageInForce(stored);
    return stored;
  }
  // Never chosen: the language dialog in start-up mode. Its choice, or the preselected
  // language when it is cancelled, is the language in force and is stored at once.
  const int initial = LocaleLanguage();
  CChooseLanguageDialog dialog(initial, initial, nullptr);
  const int choice = RunDialog(dialog) ? dialog.Choice() : initial;
  SetLanguageInForce(choice);
  SetStoredLanguage(choice);
  SaveSettings();
  return choice;
}

int RunApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  BindDebugSink();
  if (qEnvironmentVariableIntValue("FENNIK_DEBUG") != 0) SetDebugToStderr(true);
  // Options for scripts: --lang en|ja (this run only), --screenshot FILE (save the main
  // window once the file named after the options has loaded, then quit; --tab N shows
  // page N in it; --analysis N saves the stream analysis dialog showing its tab N instead).
  QStringList args = QApplication::arguments();
  args.removeFirst();
  int forcedLanguage = -1;
  QString screenshot;
  int screenshotTab = 0;
  int analysisTab = -1;
  while (args.size() >= 2 && (args[0] == QLatin1String("--lang") || args[0] == QLatin1String("--screenshot") ||
                              args[0] == QLatin1String("--tab") || args[0] == QLatin1String("--analysis"))) {
    if (args[0] == QLatin1String("--lang")) forcedLanguage = args[1] == QLatin1String("ja") ? 1 : 0;
    else if (args[0] == QLatin1String("--tab")) screenshotTab = args[1].toInt();
    else if (args[0] == QLatin1String("--analysis")) analysisTab = args[1].toInt();
    else screenshot = args[1];
    args.remove(0, 2);
  }
  CreateSettings();
  // Language: the stored one, else the language dialog in start-up mode; its choice (the
  // preselected one when cancelled) is stored and written at once.
  if (forcedLanguage >= 0) SetLanguageInForce(forcedLanguage);
  else ChooseStartupLanguage();
  RegisterAudioCodecs();
  RegisterVideoCodecs();
  // The external codec modules lie next to the program.
  LoadCodecModules(QCoreApplication::applicationDirPath().toStdString());
  int status = 0;
  {
    CAppMain window;
    window.show();
    // The command line names one file; double quotes around (or in) it are dropped.
    if (!args.isEmpty()) window.Open(args.join(QLatin1Char(' ')).remove(QLatin1Char('"')).toStdString());
    QTimer poll;
    if (!screenshot.isEmpty()) {
      QObject::connect(&poll, &QTimer::timeout, &window, [&window, &poll, screenshot, screenshotTab, analysisTab] {
        if (window.IsLoading()) return;
        poll.stop();
        window.Tabs()->setCurrentIndex(screenshotTab);
        QWidget* shown = &window;
        if (analysisTab >= 0 && window.Capture() != nullptr) {
          auto* dialog = new CStreamAnalysisDialog(*window.Capture(), LanguageInForce(), &window);
          dialog->Tabs()->setCurrentIndex(analysisTab);
          dialog->show();
          shown = dialog;
        }
        // A video page's picture is decoded on the worker: it is given a moment to arrive.
        QTimer::singleShot(1500, &window, [shown, screenshot] {
          const bool saved = shown->grab().save(screenshot);
          std::fprintf(stderr, saved ? "saved %s\n" : "could not save %s\n", screenshot.toLocal8Bit().constData());
          QApplication::exit(saved ? 0 : 1);
        });
      });
      poll.start(300);
    }
    status = QApplication::exec();
    window.Close();
  }
  UnloadCodecModules();
  DeleteSettings();
  return status;
}

}  // namespace fennik
