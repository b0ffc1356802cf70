// fennik-cli play FILE --stream ID [--device NAME]: plays an audio stream through the sound
// device (an ALSA PCM name; "default" unless given, or "wav:OUT.wav" to record the play
// into a WAV file at the pace of a device) with the worker task and the renderer the
// desktop program uses, showing the stream time; Ctrl-C stops the play cleanly.
#include <unistd.h>

#include <csignal>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "cli/CaptureSession.h"
#include "playback/CAlsaOutput.h"
#include "playback/CDecodeTaskX.h"
#include "playback/CPacedOutput.h"

namespace fennik::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

// The CLI's window: the worker's messages are queued for the main thread. The stream time
// of a played frame is computed here, on the worker thread, which owns the stream while
// it plays.
class CliWindow : public CTaskListener {
 public:
  struct Event {
    WorkerMessage message;
    uint64_t timeUs = 0;
  };

  void OnWorkerMessage(const WorkerMessage& message) override {
    Event event{message, 0};
    if (message.id == kMsgPlayFrame && message.stream != nullptr) {
      event.timeUs = message.stream->GetTime(static_cast<uint32_t>(message.value));
    }
    std::lock_guard lock(mutex_);
    events_.push_back(event);
    signal_.notify_one();
  }

  // The next event, or false after `ms` milliseconds without one.
  bool Next(Event& event, int ms) {
    std::unique_lock lock(mutex_);
    if (!signal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !events_.empty(); })) {
      return false;
    }
    event = events_.front();
    events_.pop_front();
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable signal_;
  std::deque<Event> events_;
};

std::string FormatTime(uint64_t us) {
  char text[32];
  const uint64_t tenths = us / 100000;
  std::snprintf(text, sizeof text, "%02llu:%02llu.%llu", static_cast<unsigned long long>(tenths / 600),
                static_cast<unsigned long long>(tenths / 10 % 60), static_cast<unsigned long long>(tenths % 10));
  return text;
}

// What the play shows while it runs.
struct PlayShow {
  uint32_t id;
  const CAvStream* stream;
  uint32_t sampleRate;
  std::string device;
  uint64_t totalUs;
};

std::unique_ptr<CPcmOutput> MakeOutput(const std::string& device) {
  if (device.rfind("wav:", 0) == 0 && device.size() > 4) return std::make_unique<CWavOutput>(device.substr(4));
  return std::make_unique<CAlsaOutput>(device);
}

// Starts the play once the worker is ready and shows its progress until it ends; Ctrl-C
// stops it. Returns the worker's end reason.
uint64_t PlayUntilEnd(CDecodeTaskX& task, CliWindow& window, const PlayShow& show) {
  g_interrupted = 0;
  struct sigaction action {}, previous {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);

  const bool live = isatty(STDOUT_FILENO) != 0;
  bool stopRequested = false;
  bool playRequested = false;
  uint64_t endReason = ~uint64_t{0};
  uint64_t lastShown = ~uint64_t{0};
  CliWindow::Event event;
  while (endReason == ~uint64_t{0}) {
    if (g_interrupted && !stopRequested) {
      stopRequested = true;
      task.HandleCommand(kCommandStop);
    }
    if (!window.Next(event, 100)) continue;
    switch (event.message.id) {
      case kMsgLoadEnd:
        if (!playRequested) {
          playRequested = true;
          task.HandleCommand(kCommandPlay);
        }
        break;
      case kMsgPlayStart:
        std::printf("playing stream %u (%s, %u Hz) on %s, %s\n", show.id, show.stream->GetCodecName(),
                    show.sampleRate, show.device.c_str(), FormatTime(show.totalUs).c_str());
        break;
      case kMsgPlayFrame: {
        const uint64_t shown = live ? event.timeUs / 100000 : event.timeUs / 1000000;
        if (shown == lastShown) break;
        lastShown = shown;
        if (live) {
          std::printf("\r%s / %s", FormatTime(event.timeUs).c_str(), FormatTime(show.totalUs).c_str());
        } else {
          std::printf("%s\n", FormatTime(event.timeUs).c_str());
        }
        std::fflush(stdout);
        break;
      }
      case kMsgPlayEnd:
        endReason = event.message.value;
        break;
      default:
        break;
    }
  }
  if (live && lastShown != ~uint64_t{0}) std::printf("\n");
  task.Stop();
  sigaction(SIGINT, &previous, nullptr);
  return endReason;
}

// The exit status and message of a play's end.
int PlayResult(uint64_t endReason, const PlayShow& show) {
  const std::string stream = "stream " + std::to_string(show.id);
  const std::string device = "the sound device \"" + show.device + "\"";
  switch (endReason) {
    case kPlayEnded:
      std::printf("end of stream\n");
      return kExitOk;
    case kPlayStopped:
      std::printf("stopped\n");
      return kExitOk;
    case kPlayDeviceOpenFailed:
      return Fail(kExitFailed, device + " could not be opened for 16-bit stereo at " +
                                   std::to_string(show.sampleRate) + " Hz (no such device, or it refuses the format)");
    case kPlayDeviceStartFailed:
      return Fail(kExitFailed, device + " could not be started");
    case kPlayNothingDecoded:
      return Fail(kExitFailed, stream + " gives no samples to play (its decoder yields nothing)");
    case kPlayDecodeFailed:
      return Fail(kExitFailed, stream + " has a frame that could not be decoded; the play ended there");
    case kPlayNoFormat:
      return Fail(kExitFailed, "the audio format of " + stream + " is unknown");
    default:
      return Fail(kExitFailed, stream + " cannot be played");
  }
}

}  // namespace

int RunPlay(const CliArgs& args) {
  CaptureSession session;
  if (int status = OpenCaptureSession(args, session)) return status;
  uint32_t id = 0;
  if (int status = ReadStreamId(args, session, id)) return status;
  CAvStream* stream = session.capture->StreamObject(id - 1);
  if (stream == nullptr) return Fail(kExitFailed, "stream " + std::to_string(id) + " has no frames to play");
  if (stream->IsVideo()) return Fail(kExitFailed, "playing video streams is not available yet");
  AudioFormat format;
  if (!stream->GetAudioFormat(format) || format.sampleRate == 0) {
    return Fail(kExitFailed, "the audio format of stream " + std::to_string(id) + " is unknown");
  }
  stream->SetConcatenated(args.Has("--concatenate"));
  const PlayShow show{id, stream, format.sampleRate, args.Get("--device").value_or("default"),
                      stream->GetTime(CAvStream::kNone)};

  CliWindow window;
  CDecodeTaskX task;
  task.SetLanguage(session.language);
  task.Renderer().SetOutput(MakeOutput(show.device));
  task.Start(&window, session.capture.get(), true);  // analysed by the session already
  task.SetCurrentStream(stream);
  return PlayResult(PlayUntilEnd(task, window, show), show);
}

}  // namespace fennik::cli
