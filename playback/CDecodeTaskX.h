// The worker task of an open capture: its thread loads the capture, then serves play, CSV
// and extraction requests one at a time and reports to the main window's listener. Audio
// play decodes frames into the PCM FIFO that the renderer's feeder thread drains.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "codec/video/CVideoFrame.h"
#include "playback/CFIFO.h"
#include "playback/CMMERenderer.h"
#include "playback/WorkerMessage.h"

namespace fennik {

// Why an audio play ended; carried as the value of message 1041.
enum PlayEnd : uint64_t {
  kPlayEnded = 0,           // the stream's frames ran out (or there was no current stream)
  kPlayStopped = 1,         // the running flag was cleared
  kPlayNoFormat = 2,        // the stream has no audio format
  kPlayDeviceOpenFailed = 3,
  kPlayDeviceStartFailed = 4,
  kPlayNothingDecoded = 5,  // 101 rounds without PCM
  kPlayDecodeFailed = 6,    // a frame could not be decoded
  kPlayNotAudio = 7,        // video presentation is not served yet
};

// Commands of the main window that the task consumes. 6043 (Pause) stops audio play and
// holds or resumes video play; 6046 (frame advance) holds video play and shows one more
// picture.
enum TaskCommand : uint32_t { kCommandPlay = 6041, kCommandStop = 6042, kCommandStop2 = 6043, kCommandSlowForward = 6046 };

// What the window makes of a picture of the video play ring for its display (the converted
// and reduced picture), made on the worker right after the picture is decoded.
struct PreparedPicture {
  virtual ~PreparedPicture() = default;
};
using PicturePreparer = std::function<std::shared_ptr<PreparedPicture>(const CVideoFrame&)>;

class CDecodeTaskX : public CAvEventListener, public CSoundListener {
 public:
  // Bytes the PCM FIFO holds at least; more when the sample rate is higher.
  static constexpr uint32_t kMinFifoBytes = 48000;
  static constexpr uint32_t kBlockMs = 100;
  static constexpr int kIdleRoundsLimit = 100;  // more empty rounds than this end the play
  static constexpr int kPlayOutMs = 2000;       // what the device still plays after the loop

  CDecodeTaskX();
  ~CDecodeTaskX() override;

  // Starts the worker for an opened container: the renderer gets this task as listener and
  // output device 0; the worker thread loads the container (unless `loaded`: it has been
  // analysed already) and then waits for requests. Returns once the worker runs; false
  // when a worker already runs.
  bool Start(CTaskListener* window, CRTP_Parser* container, bool loaded = false);
  // Ends a running job, closes the renderer and ends the worker thread.
  void Stop();

  // 6041 play, 6042 stop, 6043 stop (audio) or pause (video), 6046 frame advance; 1 when
  // consumed.
  int HandleCommand(uint32_t command);
  // Queues a CSV (1136) or extraction (1135) request; false while the worker is busy or
  // not running.
  bool PostRequest(TaskRequest request);
  // The stream that play uses (the selected page's stream); nullptr for none.
  void SetCurrentStream(CAvStream* stream) { currentStream_ = stream; }
  // Asks a running load to end (the progress dialog's Cancel).
  void CancelLoad();
  void SetLanguage(int language) { language_ = language; }

  // The renderer; set its output (sound card, WAV file, null) before playing.
  CMMERenderer& Renderer() { return renderer_; }
  bool IsBusy() const { return busy_.load() != 0; }
  bool HasWorker() const { return workerAlive_.load(); }
  // Blocks the renderer asked for that the FIFO could not fill (silence played).
  uint64_t UnderrunBlocks() const { return underruns_.load(); }

  // Work for a page (decoding a picture for display, reading a frame's details): run on
  // the worker thread between requests. A newer job replaces one not yet started, so a
  // fast scroll through a list decodes only the frame it ends on. False without a worker.
  bool PostDisplayJob(std::function<void()> job);
  // The frame video play starts from (the page's selected frame); kNone: the first.
  void SetPlayStart(uint32_t frame) { playStart_ = frame; }

  // Video play. Six decoded pictures are kept ahead of the display in a ring; the frame
  // timer posts message 1032 every kFramePeriodMs while pictures are presented, and the
  // main thread then takes the picture at the ring's read position (TakeVideoFrame),
  // shows it and gives it back (ReleaseVideoFrame).
  static constexpr uint32_t kVideoFrames = 6;
  static constexpr int kFramePeriodMs = 33;
  const CVideoFrame* TakeVideoFrame();
  // What the preparer made of the picture TakeVideoFrame returned (nullptr: nothing).
  const PreparedPicture* TakenPrepared() const;
  void ReleaseVideoFrame();
  // The preparer for the pictures of the next video play (set before the play command);
  // an empty one leaves the pictures as decoded.
  void SetPicturePreparer(PicturePreparer preparer);
  bool IsPresenting() const { return presenting_.load() != 0; }
  bool IsPaused() const { return paused_.load(); }
  // Ticks of the frame timer that found no picture ready while the play went on: the
  // decoder could not keep the frame rate and the picture came late.
  uint64_t LateTicks() const { return lateTicks_.load(); }

  // CAvEventListener, called on the worker thread by the container.
  void OnProgress(uint64_t done, uint64_t total) override;
  void OnSdpMissing(CRTP_Parser& container) override;

  // CSoundListener, called on the renderer's feeder thread.
  uint32_t OnRequestData(uint8_t* buffer, uint32_t bytes) override;

 private:
  void WorkerMain(bool loaded);
  void Post(uint32_t id, uint64_t value = 0, CAvStream* stream = nullptr);
  void HandleRequest(const TaskRequest& request);
  PlayEnd PlayAudio(CAvStream& stream);
  // Closes the device that did not start: the play ends with kPlayDeviceStartFailed, or
  // kPlayStopped when a stop came meanwhile.
  PlayEnd DeviceStartFailed();
  PlayEnd PlayVideo(CAvStream& stream);
  class PrepareStage;
  struct RingSlot;
  // Hands a decoded (and prepared) picture to the ring's reader.
  void Publish(RingSlot* slot);
  void FrameTimerMain();
  void RunDisplayJob();

  CTaskListener* window_ = nullptr;
  CRTP_Parser* container_ = nullptr;
  std::atomic<CAvStream*> currentStream_{nullptr};
  std::atomic<int32_t> running_{0};
  std::atomic<int32_t> busy_{0};
  std::atomic<bool> workerAlive_{false};
  std::atomic<bool> quitting_{false};  // Stop runs: no job may start or go on
  std::atomic<int> language_{0};

  std::vector<int16_t> pcm_;  // the decoded frame being moved into the FIFO
  CMMERenderer renderer_;
  CFIFO fifo_;
  // Set when the play has written its last PCM: the feeder then takes a short remainder
  // padded with silence instead of leaving it in the FIFO.
  std::atomic<bool> inputDone_{false};
  std::atomic<uint64_t> underruns_{0};

  // Video play: the ring of decoded pictures (single producer: the worker, or its prepare
  // stage when there is a preparer; single consumer: the main thread), positions of
  // kVideoFrames + 1 entries.
  struct RingSlot {
    CVideoFrame frame;
    std::shared_ptr<PreparedPicture> prepared;
    std::atomic<bool> inUse{false};
  };
  RingSlot slots_[kVideoFrames];
  uint32_t ringOrder_[kVideoFrames + 1] = {};
  std::atomic<uint32_t> readIndex_{0};
  std::atomic<uint32_t> writeIndex_{0};
  std::atomic<int32_t> presenting_{0};
  std::atomic<bool> paused_{false};
  std::atomic<int> stepRequests_{0};
  std::atomic<uint64_t> lateTicks_{0};
  std::atomic<bool> decodingDone_{false};
  std::atomic<uint32_t> playStart_{CAvStream::kNone};
  std::thread frameTimer_;
  std::atomic<bool> timerRunning_{false};
  // A 1032 is on its way and not yet handled: the timer posts no second one, so a busy main
  // thread never faces a backlog of ticks.
  std::atomic<bool> showPending_{false};

  std::function<void()> displayJob_;  // under queueMutex_
  PicturePreparer preparer_;           // under queueMutex_; copied by the play

  std::mutex queueMutex_;
  std::condition_variable queueSignal_;
  std::deque<TaskRequest> queue_;
  std::thread worker_;
};

}  // namespace fennik
