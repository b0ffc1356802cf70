// Helpers of the playback tests: bounded waits, a listener that records the worker's
// messages, the data of a WAV file and the block-by-block comparison of played PCM.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/ByteOrder.h"
#include "playback/CPcmOutput.h"
#include "playback/WorkerMessage.h"
#include "tests/support/TestSupport.h"

namespace fennik::test {

// A sound device that cannot be opened.
class RefusingOutput : public CPcmOutput {
 public:
  std::string DeviceName(uint32_t) override { return "refusing"; }
  bool Open(uint32_t, const WaveFormat&, uint32_t) override { return false; }
  bool Write(const uint8_t*, uint32_t) override { return false; }
  void Abort() override {}
  bool Reset() override { return true; }
  void Close() override {}
};

// Generous bound for anything the threads must do; tests never assert on durations.
constexpr std::chrono::seconds kBound{60};

class MessageRecorder : public CTaskListener {
 public:
  // Called on the worker thread for each message, before it is recorded.
  std::function<void(const WorkerMessage&)> onMessage;

  void OnWorkerMessage(const WorkerMessage& message) override {
    if (onMessage) onMessage(message);
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
    signal_.notify_all();
  }
  std::function<void(int)> onProgress;

  void OnTaskProgress(int percent, const std::string& text) override {
    if (onProgress) onProgress(percent);
    std::lock_guard lock(mutex_);
    progress_.push_back(percent);
    lastText_ = text;
  }
  // Waits until `count` messages with `id` have arrived; false after the bound.
  bool WaitFor(uint32_t id, size_t count = 1) {
    std::unique_lock lock(mutex_);
    return signal_.wait_for(lock, kBound, [&] { return CountLocked(id) >= count; });
  }
  std::vector<WorkerMessage> Messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::vector<uint32_t> Ids() {
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> ids;
    for (const WorkerMessage& m : messages_) ids.push_back(m.id);
    return ids;
  }
  std::vector<int> Progress() {
    std::lock_guard lock(mutex_);
    return progress_;
  }
  std::string LastProgressText() {
    std::lock_guard lock(mutex_);
    return lastText_;
  }
  // Waits until the worker has finished handling its request (it clears its busy flag
  // after posting the job's last message).
  template <typename Task>
  static bool WaitIdle(const Task& task) {
    for (int i = 0; i < 6000; ++i) {
      if (!task.IsBusy()) return true;
      usleep(10000);
    }
    return false;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
  }

 private:
  size_t CountLocked(uint32_t id) const {
    size_t n = 0;
    for (const WorkerMessage& m : messages_) n += m.id == id;
    return n;
  }
  std::mutex mutex_;
  std::condition_variable signal_;
  std::vector<WorkerMessage> messages_;
  std::vector<int> progress_;
  std::string lastText_;
};

// The bytes of a RIFF WAVE file's "data" chunk (empty when there is none).
inline std::vector<uint8_t> WavData(const std::vector<uint8_t>& file, uint32_t* channels = nullptr,
                                    uint32_t* rate = nullptr) {
  size_t pos = 12;  // "RIFF" size "WAVE"
  while (pos + 8 <= file.size()) {
    const uint32_t size = ReadLE32(&file[pos + 4]);
    const std::string tag(file.begin() + static_cast<ptrdiff_t>(pos), file.begin() + static_cast<ptrdiff_t>(pos) + 4);
    if (tag == "fmt " && pos + 24 <= file.size()) {
      if (channels) *channels = ReadLE16(&file[pos + 10]);
      if (rate) *rate = ReadLE32(&file[pos + 12]);
    }
    if (tag == "data") {
      const size_t end = std::min(file.size(), pos + 8 + size_t{size});
      return std::vector<uint8_t>(file.begin() + static_cast<ptrdiff_t>(pos) + 8,
                                  file.begin() + static_cast<ptrdiff_t>(end));
    }
    pos += 8 + size + (size & 1);
  }
  return {};
}

// Checks that `played` is the `expected` PCM cut into blocks of `block` bytes, in order,
// with whole silent blocks (the renderer's underruns and the time before and after the
// data) allowed between them; the last expected block may be padded with silence.
// Returns an empty string on success, else what differs.
inline std::string ComparePlayedBlocks(const std::vector<uint8_t>& played,
                                       const std::vector<uint8_t>& expected, size_t block) {
  if (played.size() % block != 0) return "played bytes are not whole blocks: " + std::to_string(played.size());
  size_t next = 0;  // first expected byte not yet matched
  for (size_t at = 0; at < played.size(); at += block) {
    const uint8_t* b = &played[at];
    if (next < expected.size()) {
      const size_t n = std::min(block, expected.size() - next);
      bool same = std::equal(b, b + n, expected.begin() + static_cast<ptrdiff_t>(next));
      for (size_t i = n; same && i < block; ++i) same = b[i] == 0;
      if (same) {
        next += n;
        continue;
      }
    }
    for (size_t i = 0; i < block; ++i) {
      if (b[i] != 0) {
        return "block at byte " + std::to_string(at) + " is neither the next PCM block (expected byte " +
               std::to_string(next) + ") nor silence";
      }
    }
  }
  if (next != expected.size()) {
    return "only " + std::to_string(next) + " of " + std::to_string(expected.size()) + " PCM bytes were played";
  }
  return {};
}

}  // namespace fennik::test
