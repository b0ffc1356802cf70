// File access for captures and written files: POSIX I/O with 64-bit offsets behind the
// open modes the program uses, and the 4 MiB read window the capture walk reads through
// when the file cannot be read in place (a regular file opened for reading is mapped).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/MappedRegion.h"

namespace fennik {

constexpr uint64_t kCurrentPosition = ~uint64_t{0};

// The read window: one buffer of a fixed capacity, refilled at a file offset.
class CFileBuffer {
 public:
  static constexpr uint32_t kWindowSize = 4u << 20;

  // The window is not cleared: only the bytes a read filled (Valid) are ever looked at.
  void Allocate(uint32_t capacity = kWindowSize) {
    data_ = std::make_unique_for_overwrite<uint8_t[]>(capacity);
    capacity_ = capacity;
  }
  void Free() {
    data_.reset();
    capacity_ = 0;
    valid_ = 0;
  }
  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }
  uint32_t Capacity() const { return capacity_; }
  uint32_t Valid() const { return valid_; }
  uint64_t Offset() const { return offset_; }
  void SetRead(uint64_t offset, uint32_t valid) { offset_ = offset, valid_ = valid; }

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint32_t capacity_ = 0;
  uint32_t valid_ = 0;
  uint64_t offset_ = 0;
};

class CAvFile {
 public:
  // Open modes: 0 read existing; 1 write, create or truncate; 2 write, create new only;
  // 3 read/write, create or truncate; 4 read/write, create new only.
  enum Mode : int { kRead = 0, kWrite = 1, kWriteNew = 2, kReadWrite = 3, kReadWriteNew = 4 };

  CAvFile() = default;
  CAvFile(const CAvFile&) = delete;
  CAvFile& operator=(const CAvFile&) = delete;
  virtual ~CAvFile();

  // Returns false for an unknown mode, an object that is already open, or a failed open.
  bool OpenFile(const std::string& name, int mode);
  // Reads from `size` bytes in memory instead of a file (the caller keeps them alive until
  // CloseFile); writes fail. False when the object is already open.
  bool OpenMemory(const uint8_t* data, size_t size, const std::string& name);
  void CloseFile();
  bool IsFileOpen() const { return fd_ >= 0 || memory_ != nullptr; }

  // Reads up to `size` bytes at `offset` (kCurrentPosition: from the current position);
  // returns the bytes read, 0 on failure or at the end of the file.
  uint32_t ReadAt(uint64_t offset, void* buffer, uint32_t size);
  // Writes all bytes at the current position; false when any could not be written.
  bool Write(const void* data, size_t size);
  // Writes all bytes at `offset` (patching a header); the current position stays.
  bool WriteAt(uint64_t offset, const void* data, size_t size);

  // Reads a window at `offset` into the embedded read window; returns the bytes read.
  uint32_t ReadWindow(uint64_t offset);

  // Whether the next OpenFile in read mode may map the file (default: yes).
  void AllowMapping(bool allow) { allowMapping_ = allow; }
  // The whole file in memory, read in place: the mapping of a file opened for reading, or
  // the bytes of a file opened in memory; nullptr when the file is read through windows.
  const uint8_t* InPlace() const { return memory_ != nullptr ? memory_ : mapping_.Data(); }
  // Bytes of [offset, offset + length) that can be read in place (fewer when a mapped
  // file was shortened by another program while open).
  uint64_t ReadableInPlace(uint64_t offset, uint64_t length) const;
  // Whether every byte before `end` that was read in place was the file's (false when a
  // mapped file lost pages or was shortened meanwhile).
  bool IntactInPlace(uint64_t end) const { return memory_ != nullptr || mapping_.Kept() >= end; }
  // The reader is done with everything before `offset` (pages of a mapping are released).
  void ConsumedInPlace(uint64_t offset) { mapping_.Consumed(offset); }

  uint64_t FileSize() const { return size_; }
  const std::string& FileName() const { return name_; }
  CFileBuffer& Window() { return window_; }
  const CFileBuffer& Window() const { return window_; }

 private:
  int fd_ = -1;
  const uint8_t* memory_ = nullptr;  // the bytes of a file opened in memory
  int mode_ = 0;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
  std::string name_;
  CFileBuffer window_;
  CMappedRegion mapping_;
  bool allowMapping_ = true;
};

}  // namespace fennik
