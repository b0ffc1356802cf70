// Responsiveness of the video page on an H.264 capture, driven offscreen in the real window:
//   bench_video_ui CAPTURE [STEPS]
// 1. Steps the frame list frame by frame (the Down key) through STEPS frames (default 300):
//    for each, the time from the key press to the picture of the new frame painted in the
//    picture view (decoded on the worker, shown when it arrives).
// 2. Plays the stream from its first frame for up to 10 s while a 1 ms timer runs on the UI
//    thread: the longest gap between two ticks (the longest UI-thread stall), the pictures
//    presented per second and the frame timer's ticks that found no picture ready.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/AppSettings.h"
#include "app/CAppMain.h"
#include "app/CommandTable.h"
#include "app/VideoPage.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/video/VideoCodecs.h"

namespace {

using fennik::CAppMain;
using fennik::CVideoPage;

// Runs the event loop until `done` holds or `ms` passed. The loop sleeps between events as
// the window's own loop does (a busy loop would take a core from the decoding worker); a
// 5 ms timer wakes it to look at the clock.
bool Wait(const std::function<bool()>& done, int ms) {
  QElapsedTimer timer;
  timer.start();
  QTimer wake;
  wake.start(5);
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// CPU time of the calling thread in nanoseconds: the UI thread's own work, apart from the
// time the machine's other processes hold the cores.
qint64 CpuNs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}
qint64 ThreadCpuNs() { return CpuNs(CLOCK_THREAD_CPUTIME_ID); }

CVideoPage* OpenVideo(CAppMain& window, const char* path) {
  if (!window.Open(path) || !Wait([&window] { return !window.IsLoading(); }, 600000)) return nullptr;
  for (int i = 0; i < window.Tabs()->count(); ++i) {
    if (auto* page = dynamic_cast<CVideoPage*>(window.Tabs()->widget(i))) {
      window.Tabs()->setCurrentIndex(i);
      return page;
    }
  }
  return nullptr;
}

// With FENNIK_BENCH_PAINTS set: the paint events of each kind of widget during the stepping,
// to see which widgets a step repaints.
class PaintCounter : public QObject {
 public:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++counts_[Name(qobject_cast<QWidget*>(object))];
    return false;
  }
  void Watch(QWidget* root) {
    root->installEventFilter(this);
    for (QWidget* child : root->findChildren<QWidget*>()) child->installEventFilter(this);
  }
  void Print(int steps) const {
    for (const auto& [name, count] : counts_)
      std::printf("  paints of %-48s %6.2f per step\n", name.c_str(), static_cast<double>(count) / steps);
  }

 private:
  static std::string Name(QWidget* w) {
    std::string name = w->metaObject()->className();
    if (w->parentWidget() != nullptr) name += std::string(" in ") + w->parentWidget()->metaObject()->className();
    if (w->parentWidget() != nullptr && w->parentWidget()->parentWidget() != nullptr)
      name += std::string(" in ") + w->parentWidget()->parentWidget()->metaObject()->className();
    return name;
  }
  std::map<std::string, int> counts_;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void MeasureStepping(CVideoPage& page, int steps) {
  if (!Wait([&page] { return page.ShownFrame() == 0 && page.HasPicture(); }, 20000)) return;
  const int count = static_cast<int>(std::min<uint64_t>(page.List()->Model().Count() - 1, static_cast<uint64_t>(steps)));
  std::vector<double> ms, cpu;
  PaintCounter paints;
  const bool countPaints = qEnvironmentVariableIsSet("FENNIK_BENCH_PAINTS");
  if (countPaints) paints.Watch(page.window());
  for (int k = 1; k <= count; ++k) {
    QElapsedTimer timer;
    timer.start();
    const qint64 cpu0 = ThreadCpuNs();
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(page.List(), &down);
    const uint32_t want = static_cast<uint32_t>(k);
    if (!Wait([&page, want] { return page.ShownFrame() == want && page.HasPicture(); }, 10000)) break;
    page.Picture()->viewport()->repaint();
    ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    cpu.push_back(static_cast<double>(ThreadCpuNs() - cpu0) / 1e6);
  }
  if (ms.empty()) return;
  if (countPaints) paints.Print(static_cast<int>(ms.size()));
  std::vector<double> sorted = ms;
  std::sort(sorted.begin(), sorted.end());
  const size_t worstStep = static_cast<size_t>(std::max_element(ms.begin(), ms.end()) - ms.begin());
  std::printf("step key->painted picture: %zu frames, median %.1f ms, p95 %.1f ms, worst %.1f ms (frame %zu)"
              " (UI-thread CPU per step: median %.1f ms, worst %.1f ms)\n",
              sorted.size(), sorted[sorted.size() / 2], sorted[sorted.size() * 95 / 100], sorted.back(), worstStep + 1,
              Median(cpu),
              *std::max_element(cpu.begin(), cpu.end()));
}

void MeasurePlay(CAppMain& window, CVideoPage& page) {
  page.List()->Navigate(fennik::kNavNumber, 0);
  Wait([&page] { return page.ShownFrame() == 0; }, 20000);
  QElapsedTimer clock;
  qint64 last = 0, worst = 0, lastCpu = 0, worstCpu = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    const qint64 cpuNow = ThreadCpuNs();
    worst = std::max(worst, now - last);
    worstCpu = std::max(worstCpu, cpuNow - lastCpu);
    last = now;
    lastCpu = cpuNow;
  });
  window.Command(fennik::kCmdPlay);
  Wait([&window] { return window.IsPlaying(); }, 5000);
  Wait([&page] { return page.PicturesPresented() > 0; }, 20000);
  const uint64_t first = page.PicturesPresented();
  clock.start();
  lastCpu = ThreadCpuNs();
  const qint64 processCpu = CpuNs(CLOCK_PROCESS_CPUTIME_ID);
  tick.start(1);
  Wait([&window] { return !window.IsPlaying(); }, 10000);
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  const uint64_t shown = page.PicturesPresented() - first;
  const double cpuPerPicture =
      static_cast<double>(CpuNs(CLOCK_PROCESS_CPUTIME_ID) - processCpu) / 1e6 / static_cast<double>(std::max<uint64_t>(shown, 1));
  tick.stop();
  window.Command(fennik::kCmdStop);
  Wait([&window] { return !window.IsPlaying(); }, 5000);
  // The CPU time of all threads per picture: what the play costs apart from the load.
  std::printf("play: %llu pictures in %.2f s = %.1f pictures/s (CPU %.1f ms per picture); longest UI-thread stall"
              " %.1f ms (UI-thread CPU %.1f ms); status \"%s\"\n",
              static_cast<unsigned long long>(shown), seconds, static_cast<double>(shown) / seconds, cpuPerPicture,
              static_cast<double>(worst) / 1e6, static_cast<double>(worstCpu) / 1e6, window.StatusPart(1)->text().toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_video_ui CAPTURE [STEPS]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string ini =
      (std::filesystem::temp_directory_path() / ("fennik-bench-video-" + std::to_string(::getpid()) + ".ini")).string();
  fennik::CreateSettings(ini);
  fennik::SetLanguageInForce(0);
  fennik::RegisterAudioCodecs();
  fennik::RegisterVideoCodecs();
  int status = 1;
  {
    CAppMain window;
    window.resize(1600, 1000);
    window.show();
    if (CVideoPage* page = OpenVideo(window, argv[1])) {
      MeasureStepping(*page, argc > 2 ? std::atoi(argv[2]) : 300);
      MeasurePlay(window, *page);
      status = 0;
    } else {
      std::fprintf(stderr, "no video page for %s\n", argv[1]);
    }
  }
  fennik::DeleteSettings();
  std::filesystem::remove(ini);
  return status;
}
