// The PCM FIFO between the playback worker (writer) and the renderer's feeder thread
// (reader): a byte ring under a mutex that never fills completely, so a full ring is never
// mistaken for an empty one.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

namespace fennik {

class CFIFO {
 public:
  CFIFO() = default;
  CFIFO(const CFIFO&) = delete;
  CFIFO& operator=(const CFIFO&) = delete;

  // Sets the capacity. 0 fails; the current capacity keeps the contents; any other value
  // empties the ring.
  int Resize(uint32_t capacity);
  // Writes all `length` bytes, or nothing when the free space is not strictly greater than
  // `length` ("FIFO: overflow!!"). 1 when written.
  int Write(const uint8_t* data, uint32_t length);
  // Reads up to `length` bytes; returns the count read.
  uint32_t Read(uint8_t* data, uint32_t length);
  // Frees the buffer: capacity and both indices 0.
  void Clear();

  uint32_t Capacity() const;
  uint32_t FreeSpace() const;
  uint32_t BytesHeld() const;

 private:
  uint32_t FreeSpaceLocked() const;

  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t capacity_ = 0;
  uint32_t read_ = 0;
  uint32_t write_ = 0;
  mutable std::mutex mutex_;
};

}  // namespace fennik
