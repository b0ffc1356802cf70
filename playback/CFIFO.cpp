#include "playback/CFIFO.h"

#include <algorithm>
#include <cstring>

#include "base/DebugPrint.h"

namespace fennik {

int CFIFO::Resize(uint32_t capacity) {
  if (capacity == 0) return 0;
  std::lock_guard lock(mutex_);
  if (capacity == capacity_) return 1;
  buffer_ = std::make_unique<uint8_t[]>(capacity);
  capacity_ = capacity;
  read_ = write_ = 0;
  return 1;
}

uint32_t CFIFO::FreeSpaceLocked() const {
  if (read_ == write_) return capacity_;
  if (write_ < read_) return read_ - write_;
  return capacity_ - write_ + read_;
}

int CFIFO::Write(const uint8_t* data, uint32_t length) {
  if (data == nullptr || length == 0) return 0;
  std::lock_guard lock(mutex_);
  if (!buffer_ || FreeSpaceLocked() <= length) {
    DebugPrint("FIFO: overflow!!\n");
    return 0;
  }
  const uint32_t toEnd = capacity_ - write_;
  if (write_ >= read_ && toEnd < length) {
    std::memcpy(buffer_.get() + write_, data, toEnd);
    std::memcpy(buffer_.get(), data + toEnd, length - toEnd);
    write_ = length - toEnd;
  } else {
    std::memcpy(buffer_.get() + write_, data, length);
    write_ += length;
  }
  if (write_ == capacity_) write_ = 0;
  return 1;
}

uint32_t CFIFO::Read(uint8_t* data, uint32_t length) {
  std::lock_guard lock(mutex_);
  if (!buffer_ || read_ == write_ || length == 0) return 0;
  uint32_t count;
  if (write_ > read_) {
    count = std::min(length, write_ - read_);
    std::memcpy(data, buffer_.get() + read_, count);
    read_ += count;
  } else {
    count = std::min(length, capacity_ - read_);
    std::memcpy(data, buffer_.get() + read_, count);
    read_ += count;
    if (read_ == capacity_) read_ = 0;
    if (count < length) {
      const uint32_t more = std::min(length - count, write_);
      std::memcpy(data + count, buffer_.get(), more);
      read_ = more;
      count += more;
    }
  }
  if (read_ == capacity_) read_ = 0;
  return count;
}

void CFIFO::Clear() {
  std::lock_guard lock(mutex_);
  buffer_.reset();
  capacity_ = read_ = write_ = 0;
}

uint32_t CFIFO::Capacity() const {
  std::lock_guard lock(mutex_);
  return capacity_;
}

uint32_t CFIFO::FreeSpace() const {
  std::lock_guard lock(mutex_);
  return FreeSpaceLocked();
}

uint32_t CFIFO::BytesHeld() const {
  std::lock_guard lock(mutex_);
  return capacity_ - FreeSpaceLocked();
}

}  // namespace fennik
