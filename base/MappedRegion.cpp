#include "base/MappedRegion.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace fennik {
namespace {

constexpr int kGuardSlots = 32;
constexpr uint64_t kReadAhead = 32u << 20;  // bytes the kernel is asked to read ahead

// One registered mapping; `lost` is the lowest address whose page the file no longer has.
struct GuardSlot {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<uintptr_t> lost{UINTPTR_MAX};
  std::atomic<bool> taken{false};
};

GuardSlot g_slots[kGuardSlots];
struct sigaction g_previous {};
uintptr_t g_pageSize = 4096;
std::once_flag g_installed;

void PassOn(int signal, siginfo_t* info, void* context) {
  if (g_previous.sa_flags & SA_SIGINFO) {
    if (g_previous.sa_sigaction != nullptr) g_previous.sa_sigaction(signal, info, context);
    return;
  }
  if (g_previous.sa_handler == SIG_DFL || g_previous.sa_handler == SIG_IGN) {
    // Not a mapped capture's page: the faulting access repeats under the old disposition.
    sigaction(SIGBUS, &g_previous, nullptr);
    return;
  }
  g_previous.sa_handler(signal);
}

// Only async-signal-safe work: atomics and the mmap system call.
void OnBusError(int signal, siginfo_t* info, void* context) {
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardSlot& slot : g_slots) {
    if (at < slot.begin.load(std::memory_order_acquire) || at >= slot.end.load(std::memory_order_acquire)) {
      continue;
    }
    const uintptr_t page = at & ~(g_pageSize - 1);
    void* zero = mmap(reinterpret_cast<void*>(page), g_pageSize, PROT_READ,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zero == MAP_FAILED) break;
    uintptr_t lost = slot.lost.load();
    while (page < lost && !slot.lost.compare_exchange_weak(lost, page)) {
    }
    return;
  }
  PassOn(signal, info, context);
}

void InstallGuard() {
  g_pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &g_previous);
}

int TakeSlot() {
  for (int i = 0; i < kGuardSlots; ++i) {
    bool expected = false;
    if (g_slots[i].taken.compare_exchange_strong(expected, true)) return i;
  }
  return -1;
}

// Filesystems whose files another host can shorten without this kernel knowing in time.
bool RemoteFilesystem(int fd) {
  struct statfs fs {};
  if (fstatfs(fd, &fs) != 0) return true;
  switch (static_cast<uint32_t>(fs.f_type)) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2
    case 0x65735546:  // FUSE
    case 0x01021997:  // 9P
    case 0x00C36400:  // Ceph
      return true;
    default:
      return false;
  }
}

}  // namespace

bool CMappedRegion::Map(int fd, uint64_t size) {
  Unmap();
  if (size == 0 || size > SIZE_MAX || RemoteFilesystem(fd)) return false;
  std::call_once(g_installed, InstallGuard);
  const int slot = TakeSlot();
  if (slot < 0) return false;
  void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) {
    g_slots[slot].taken.store(false);
    return false;
  }
  madvise(p, static_cast<size_t>(size), MADV_SEQUENTIAL);
  GuardSlot& guard = g_slots[slot];
  guard.lost.store(UINTPTR_MAX);
  guard.begin.store(reinterpret_cast<uintptr_t>(p), std::memory_order_release);
  guard.end.store(reinterpret_cast<uintptr_t>(p) + size, std::memory_order_release);
  data_ = static_cast<const uint8_t*>(p);
  size_ = size;
  fd_ = fd;
  released_ = advised_ = 0;
  slot_ = slot;
  return true;  // read-ahead is asked for once a walk consumes the file, not for other reads
}

void CMappedRegion::Unmap() {
  if (data_ == nullptr) return;
  GuardSlot& guard = g_slots[slot_];
  guard.begin.store(0, std::memory_order_release);
  guard.end.store(0, std::memory_order_release);
  munmap(const_cast<uint8_t*>(data_), static_cast<size_t>(size_));
  guard.taken.store(false);
  data_ = nullptr;
  size_ = 0;
  fd_ = -1;
  slot_ = -1;
}

uint64_t CMappedRegion::Readable(uint64_t offset, uint64_t length) const {
  if (offset >= size_) return 0;
  length = std::min(length, size_ - offset);
  if (length == 0) return 0;
  // One call maps the range's pages (no fault per page); it fails where an access would
  // fault, and then the pages are touched one by one so the guard notes the first one lost.
  const uint64_t first = offset & ~uint64_t{g_pageSize - 1};
  uint8_t* base = const_cast<uint8_t*>(data_);
  if (madvise(base + first, static_cast<size_t>(offset + length - first), MADV_POPULATE_READ) != 0) {
    const volatile uint8_t* bytes = data_;
    for (uint64_t at = first; at < offset + length; at += g_pageSize) (void)bytes[at];
  }
  const uint64_t kept = Kept();
  if (kept >= offset + length) return length;
  return kept > offset ? kept - offset : 0;
}

uint64_t CMappedRegion::Kept() const {
  if (data_ == nullptr) return 0;
  // The file's present size as well: the bytes of a shortened file's last page past its
  // new end read as zeros without a fault.
  uint64_t kept = g_slots[slot_].lost.load() - reinterpret_cast<uintptr_t>(data_);
  struct stat st {};
  if (fstat(fd_, &st) == 0) kept = std::min(kept, static_cast<uint64_t>(st.st_size));
  return std::min(kept, size_);
}

void CMappedRegion::Consumed(uint64_t offset) {
  if (data_ == nullptr) return;
  uint8_t* base = const_cast<uint8_t*>(data_);
  const uint64_t done = std::min(offset, size_) & ~uint64_t{g_pageSize - 1};
  if (done > released_) {
    madvise(base + released_, static_cast<size_t>(done - released_), MADV_DONTNEED);
    released_ = done;
  }
  const uint64_t ahead = std::min(done + kReadAhead, size_);
  if (ahead > advised_) {
    const uint64_t from = std::max(advised_, done);
    madvise(base + from, static_cast<size_t>(ahead - from), MADV_WILLNEED);
    advised_ = ahead;
  }
}

}  // namespace fennik
