// Responsiveness of the desktop program on a large capture, driven offscreen:
//   bench_ui CAPTURE [JUMPS]
// 1. Opens the capture in the real main window and, while the worker loads it, runs a 1 ms
//    timer on the UI thread; the longest gap between two ticks is the longest time the UI
//    thread was blocked (the load itself, the progress dialog and building the pages).
// 2. With the capture open, jumps the packet list to random packet numbers and scrolls it by
//    a page, and times each synchronous repaint of the list (only the visible rows are
//    formatted, so the time must not depend on the capture's size).
// 3. Times selecting each tab page, and each stream sub-view of the capture's page, with
//    their painting.
#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/CAppMain.h"
#include "app/Pages.h"
#include "capture/CRTP_Parser.h"
#include "codec/audio/AudioCodecs.h"
#include "ui/Navigation.h"

namespace {

using fennik::CAppMain;

struct Stats {
  double median = 0, p99 = 0, max = 0;
};

Stats Summarise(std::vector<double> ms) {
  Stats s;
  if (ms.empty()) return s;
  std::sort(ms.begin(), ms.end());
  s.median = ms[ms.size() / 2];
  s.p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  s.max = ms.back();
  return s;
}

void Print(const char* what, const Stats& s, size_t n) {
  std::printf("%-34s n=%-5zu median %7.2f ms   p99 %7.2f ms   max %7.2f ms\n", what, n, s.median, s.p99,
              s.max);
}

// Opens the capture and reports the load time and the longest UI-thread stall.
bool MeasureLoad(CAppMain& window, const std::string& path) {
  QElapsedTimer clock;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  tick.setInterval(1);
  qint64 last = 0, longest = 0, longestAt = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (now - last > longest) {
      longest = now - last;
      longestAt = now;
    }
    last = now;
  });
  clock.start();
  tick.start();
  if (!window.Open(path)) return false;
  // Open itself runs on the UI thread: it counts as a stall too.
  while (window.IsLoading()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const qint64 loaded = clock.nsecsElapsed();
  // Let the pages be painted once after the load.
  const qint64 until = loaded + 300'000'000;
  while (clock.nsecsElapsed() < until) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  tick.stop();
  std::printf("load: %.2f s, %zu RTP packets, %d tab pages\n", loaded / 1e9,
              static_cast<size_t>(window.Capture()->Packets().GetCount()), window.Tabs()->count());
  std::printf("longest UI-thread stall during load: %.1f ms (ending %.2f s after Open)\n", longest / 1e6,
              longestAt / 1e9);
  return window.Tabs()->count() > 0;
}

double TimeRepaint(QWidget* viewport) {
  QElapsedTimer t;
  t.start();
  viewport->repaint();
  return t.nsecsElapsed() / 1e6;
}

void MeasureList(CAppMain& window, int jumps) {
  auto* page = dynamic_cast<fennik::CRtpPage*>(window.Tabs()->widget(0));
  fennik::CListView* list = page->List();
  const uint64_t packets = window.Capture()->Packets().GetCount();
  std::mt19937_64 random(42);
  std::vector<double> jump, scroll, navigate;
  for (int i = 0; i < jumps; ++i) {
    const uint64_t number = 1 + random() % packets;
    QElapsedTimer t;
    t.start();
    list->Navigate(fennik::kNavNumber, number);
    navigate.push_back(t.nsecsElapsed() / 1e6);
    jump.push_back(TimeRepaint(list->viewport()));
    QScrollBar* bar = list->verticalScrollBar();
    bar->setValue(std::min(bar->maximum(), bar->value() + bar->pageStep()));
    scroll.push_back(TimeRepaint(list->viewport()));
  }
  Print("jump to packet number (navigate)", Summarise(navigate), navigate.size());
  Print("repaint after jump", Summarise(jump), jump.size());
  Print("repaint after page scroll", Summarise(scroll), scroll.size());
}

void MeasureTabs(CAppMain& window) {
  std::vector<double> select;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < window.Tabs()->count(); ++i) {
      QElapsedTimer t;
      t.start();
      window.Tabs()->setCurrentIndex(i);
      window.repaint();
      select.push_back(t.nsecsElapsed() / 1e6);
    }
  }
  Print("select tab and repaint window", Summarise(select), select.size());
  // The capture page's stream sub-views list one stream's packets out of all of them.
  window.Tabs()->setCurrentIndex(0);
  auto* page = dynamic_cast<fennik::CRtpPage*>(window.Tabs()->widget(0));
  std::vector<double> sub;
  for (int i = 1; i < static_cast<int>(page->SubViews().size()); ++i) {
    QElapsedTimer t;
    t.start();
    page->SelectSubView(i);
    page->List()->viewport()->repaint();
    sub.push_back(t.nsecsElapsed() / 1e6);
  }
  Print("select stream sub-view and repaint", Summarise(sub), sub.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_ui CAPTURE [JUMPS]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string ini =
      (std::filesystem::temp_directory_path() / ("fennik-bench-ui-" + std::to_string(::getpid()) + ".ini")).string();
  fennik::CreateSettings(ini);
  fennik::SetLanguageInForce(0);
  fennik::RegisterAudioCodecs();
  int status = 1;
  {
    CAppMain window;
    window.resize(1280, 900);
    window.show();
    if (MeasureLoad(window, argv[1])) {
      MeasureList(window, argc > 2 ? std::atoi(argv[2]) : 500);
      MeasureTabs(window);
      status = 0;
    } else {
      std::fprintf(stderr, "could not open %s\n", argv[1]);
    }
  }
  fennik::DeleteSettings();
  std::filesystem::remove(ini);
  return status;
}
