// The main window "Fennik": menu, toolbar, three-part status bar and the tab pages of the
// open capture; opens and closes captures, runs the worker task with its progress dialog
// and carries out the command table.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QUrl>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/ViewStyle.h"

class QAction;
class QLabel;
class QMenu;
class QProgressDialog;
class QTabWidget;
class QTimer;
class QToolBar;

namespace fennik {

class CAvStream;
class CDecodeTaskX;
class CExtractionJob;
class CPcmOutput;
class CPage;
class CRTP_Parser;
struct WorkerMessage;

class CAppMain : public QMainWindow {
 public:
  explicit CAppMain(QWidget* parent = nullptr);
  ~CAppMain() override;

  // Opens a capture (closing the one open); `userSdp` texts are parsed before the
  // analysis. Returns false when the file could not be opened or is not supported (the
  // message box has been shown); the analysis then runs on the worker.
  bool Open(const std::string& path, const std::vector<std::string>& userSdp = {});
  void Close();
  // Files dropped on the window: the first one is opened.
  bool OpenDropped(const QList<QUrl>& urls);
  // Runs a command of the command table.
  void Command(int id);

  // State for tests and screenshots.
  bool IsLoading() const { return loading_; }
  bool IsOpen() const { return capture_ != nullptr; }
  // Between the play's start (1039) and end (1041) messages.
  bool IsPlaying() const { return currentPlayStream_ != nullptr; }
  CRTP_Parser* Capture() const { return capture_.get(); }
  QTabWidget* Tabs() const { return tabs_; }
  CPage* SelectedPage() const;
  QAction* Action(int id) const;
  QLabel* StatusPart(int index) const { return status_[index]; }
  const ViewStyle& Style() const { return style_; }
  // Applies changed settings (colours, font) to every view.
  void StyleChanged();

  // Dialog hooks the tests use to answer the entry dialogs without a modal loop: when set,
  // the jump (6015) and view-index (6012) commands take (mode, text) from here.
  struct EntryAnswer {
    bool set = false;
    int mode = 0;
    std::string text;
  };
  EntryAnswer nextEntry;
  // When set, the select-view dialog answers with this index.
  int nextSubView = -1;
  // When set, playback goes to the output this makes instead of the sound device.
  std::function<std::unique_ptr<CPcmOutput>()> audioOutput;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class Listener;

  void CreateActions();
  void EnableFileCommands(bool enable);
  void ApplyPageFlags(const CPage* page);
  void OnWorkerMessage(const WorkerMessage& message, unsigned generation);
  void OnProgress(int percent, const QString& text, unsigned generation);
  void ShowVideoFrame();
  void AddPendingPages();
  void AddPage(CAvStream* stream, uint32_t streamIndex);
  void OnLoadEnd(bool ok);
  void AskReparse();
  void SelectTab(int index);
  void RunEntryDialog(bool jump);
  void RunCsvDialog();
  void RunExtraction();
  void ShowMarkerList();
  void ShowErrorList();
  void ShowStreamAnalysis();
  void RunColorDialog();
  void RunFontDialog();
  void RunSdpSetting();
  void RunLanguageDialog();
  void RunAbout();
  void OpenHelp();

  ViewStyle style_;
  int language_ = 0;
  QTabWidget* tabs_;
  QToolBar* toolbar_;
  QLabel* status_[3];
  std::map<int, QAction*> actions_;
  std::vector<QMenu*> menus_;
  QProgressDialog* progress_ = nullptr;

  std::unique_ptr<CRTP_Parser> capture_;
  std::unique_ptr<Listener> listener_;
  std::unique_ptr<CDecodeTaskX> task_;
  std::shared_ptr<CExtractionJob> extraction_;  // the job the worker runs, for Cancel
  std::string path_;
  // Pages announced by the worker and not yet built, and the load's result when it came
  // before they were (-1: none).
  struct PendingPage {
    CAvStream* stream;
    uint32_t streamIndex;
  };
  std::deque<PendingPage> pendingPages_;
  int pendingLoadEnd_ = -1;
  QTimer* pageTimer_;
  bool loading_ = false;
  bool sdpMissing_ = false;
  unsigned generation_ = 0;  // messages of an earlier worker are dropped
  int entryMode_[2] = {0, 0};
  CAvStream* currentPlayStream_ = nullptr;  // the stream of the running play
  int fieldCounter_ = 0;                    // field display: the first field was shown  // remembered mode of the jump and view-index dialogs
};

// The status-bar text of playback: the play label and the codec, with the stream time of
// the frame playing as hours:minutes:seconds (blank before the first frame, `microseconds`
// negative).
QString PlayStatusText(int language, const char* codec, int64_t microseconds);

// The help page the Help command opens.
QUrl HelpUrl(int language);

// The language at start-up: the stored one, else the language dialog in start-up mode
// (preselected from the locale); returns the language in force.
int ChooseStartupLanguage();

// The start-up order of the program: settings (with the language dialog in start-up mode
// when no language was ever chosen), the main window, the command-line file.
int RunApplication(int argc, char** argv);

}  // namespace fennik
