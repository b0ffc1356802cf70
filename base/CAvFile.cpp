#include "base/CAvFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fennik {

CAvFile::~CAvFile() { CloseFile(); }

bool CAvFile::OpenFile(const std::string& name, int mode) {
  if (IsFileOpen()) return false;
  int flags = 0;
  switch (mode) {
    case kRead: flags = O_RDONLY; break;
    case kWrite: flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case kWriteNew: flags = O_WRONLY | O_CREAT | O_EXCL; break;
    case kReadWrite: flags = O_RDWR | O_CREAT | O_TRUNC; break;
    case kReadWriteNew: flags = O_RDWR | O_CREAT | O_EXCL; break;
    default: return false;
  }
  int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (mode == kRead) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  // The capture walk reads a mapped file in place; other reads keep using pread.
  if (mode == kRead && allowMapping_ && S_ISREG(st.st_mode)) {
    mapping_.Map(fd, static_cast<uint64_t>(st.st_size));
  }
  fd_ = fd;
  mode_ = mode;
  size_ = static_cast<uint64_t>(st.st_size);
  position_ = 0;
  name_ = name;
  return true;
}

bool CAvFile::OpenMemory(const uint8_t* data, size_t size, const std::string& name) {
  if (IsFileOpen() || data == nullptr) return false;
  memory_ = data;
  mode_ = kRead;
  size_ = size;
  position_ = 0;
  name_ = name;
  return true;
}

void CAvFile::CloseFile() {
  mapping_.Unmap();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  memory_ = nullptr;
  mode_ = 0;
  size_ = 0;
  position_ = 0;
  window_.Free();
}

uint32_t CAvFile::ReadAt(uint64_t offset, void* buffer, uint32_t size) {
  if (!IsFileOpen() || size == 0) return 0;
  // Reads at an explicit offset leave the current position alone, so loaders on other
  // threads can read the same file.
  const bool sequential = offset == kCurrentPosition;
  if (sequential) offset = position_;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  if (memory_ != nullptr) {
    if (offset < size_) {
      done = static_cast<uint32_t>(std::min<uint64_t>(size, size_ - offset));
      std::memcpy(out, memory_ + offset, done);
    }
    if (sequential) position_ = offset + done;
    return done;
  }
  while (done < size) {
    ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  if (sequential) position_ = offset + done;
  return done;
}

bool CAvFile::Write(const void* data, size_t size) {
  if (fd_ < 0) return false;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(position_ + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  position_ += done;
  if (position_ > size_) size_ = position_;
  return true;
}

bool CAvFile::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (fd_ < 0) return false;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  if (offset + size > size_) size_ = offset + size;
  return true;
}

uint64_t CAvFile::ReadableInPlace(uint64_t offset, uint64_t length) const {
  if (memory_ != nullptr) return offset < size_ ? std::min(length, size_ - offset) : 0;
  return mapping_.Readable(offset, length);
}

uint32_t CAvFile::ReadWindow(uint64_t offset) {
  if (window_.Capacity() == 0) {
    // A file in memory never needs a window larger than itself.
    window_.Allocate(memory_ != nullptr
                         ? static_cast<uint32_t>(std::clamp<uint64_t>(size_, 1, CFileBuffer::kWindowSize))
                         : CFileBuffer::kWindowSize);
  }
  uint32_t n = ReadAt(offset, window_.Data(), window_.Capacity());
  window_.SetRead(offset, n);
  return n;
}

}  // namespace fennik
