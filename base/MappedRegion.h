// A read-only mapping of a whole file, for the capture walk to read records in place instead
// of copying them into a window.
//
// A mapped file that another program shortens while it is mapped would kill the process
// with SIGBUS at the first access to a page past the new end. Each mapping is therefore
// registered with a SIGBUS handler that puts a zero-filled page in place of the lost one and
// notes the lowest lost offset; the reader asks Readable() (which also compares the file's
// present size) before it trusts a range and stops where the file was lost. Growth needs
// nothing: only the size at open is mapped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennik {

class CMappedRegion {
 public:
  CMappedRegion() = default;
  CMappedRegion(const CMappedRegion&) = delete;
  CMappedRegion& operator=(const CMappedRegion&) = delete;
  ~CMappedRegion() { Unmap(); }

  // Maps `size` bytes of the open regular file `fd` (kept open by the caller while mapped). False (nothing mapped) for an empty
  // file, a file on a network or user-space filesystem (another host may shorten it behind
  // this kernel's back), when every guard slot is taken, or when mmap fails: the caller
  // then reads the file with pread.
  bool Map(int fd, uint64_t size);
  void Unmap();

  const uint8_t* Data() const { return data_; }
  uint64_t Size() const { return size_; }
  // Touches every page of [offset, offset + length) and returns how many bytes from
  // `offset` can be trusted: `length`, or fewer when the file lost pages while mapped.
  uint64_t Readable(uint64_t offset, uint64_t length) const;
  // Bytes from the start that are still good, without touching anything: the mapped size,
  // or less when a page was lost or the file is now shorter.
  uint64_t Kept() const;
  // The walk has consumed everything before `offset`: those pages leave the process's
  // resident set (they stay in the page cache), and the kernel reads ahead of `offset`.
  void Consumed(uint64_t offset);

 private:
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  int fd_ = -1;
  uint64_t released_ = 0;  // pages before this offset were given back
  uint64_t advised_ = 0;   // read-ahead was asked for up to here
  int slot_ = -1;          // the SIGBUS guard slot
};

}  // namespace fennik
