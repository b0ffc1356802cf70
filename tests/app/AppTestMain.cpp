#include "tests/app/AppTestMain.h"

#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <filesystem>

#include "app/AppSettings.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/video/VideoCodecs.h"
#include "tests/support/TestSupport.h"
#include "ui/Dialogs.h"

namespace fennik::test {

std::string SettingsPath() {
  static const TempDir dir;
  return dir / "fennik.ini";
}

QApplication& App() {
  static int argc = 1;
  static char name[] = "fennik_test_app";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* a = new QApplication(argc, argv);
    std::filesystem::remove(SettingsPath());
    CreateSettings(SettingsPath());
    SetLanguageInForce(0);
    RegisterAudioCodecs();
    RegisterVideoCodecs();
    return a;
  }();
  return *app;
}

bool WaitFor(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

MessageLog::MessageLog(bool a) : answer(a) {
  SetMessageHook([this](MessageKind, const QString& caption, const QString& text) {
    entries.push_back({caption, text});
    return answer;
  });
}

MessageLog::~MessageLog() { SetMessageHook({}); }

}  // namespace fennik::test

// Under LeakSanitizer: fontconfig keeps its caches for the life of the process (Qt loads
// it for the offscreen platform's fonts); those blocks are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
