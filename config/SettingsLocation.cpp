#include "config/SettingsLocation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

namespace fennik {
namespace {

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CanOpenForReading(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return ok;
}

// mkdir -p for the folders above a file.
bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat st;
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = FolderOf(folder);
  if (parent != folder && !MakeFolders(parent)) return false;
  return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  return FolderOf(std::string_view(buffer, static_cast<size_t>(n)));
}

std::string CurrentFolder() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return "";
  return buffer;
}

std::string UserConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return JoinPath(xdg, "fennik");
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return JoinPath(JoinPath(home, ".config"), "fennik");
  return "";
}

bool IsFolderWritable(const std::string& folder) {
  return ::access(folder.c_str(), W_OK) == 0;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string FolderOf(std::string_view path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string LocateSettingsFile(const std::string& currentPath, const std::string& appPath,
                               const std::string& userConfigFolder,
                               FolderWritableCheck isWritable) {
  std::string inCurrent = JoinPath(currentPath, kSettingsFileName);
  if (!currentPath.empty() && CanOpenForReading(inCurrent)) return inCurrent;
  std::string inApp = JoinPath(appPath, kSettingsFileName);
  if (IsRegularFile(inApp) || isWritable(appPath) || userConfigFolder.empty()) return inApp;
  return JoinPath(userConfigFolder, kSettingsFileName);
}

ReadFileResult ReadWholeFile(const std::string& path, size_t maxSize, std::string& out) {
  out.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadFileResult::kMissing : ReadFileResult::kUnreadable;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) > maxSize) {
    ::close(fd);
    return ReadFileResult::kUnreadable;
  }
  out.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (done < out.size()) {
    out.clear();
    return ReadFileResult::kUnreadable;
  }
  return ReadFileResult::kOk;
}

bool ReplaceFile(const std::string& linkOrPath, std::string_view data) {
  // A settings file that is a symbolic link (kept with the user's other dotfiles) stays
  // one: its target is replaced.
  std::string path = linkOrPath;
  struct stat linkStat;
  if (::lstat(path.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode)) {
    char* target = ::realpath(path.c_str(), nullptr);
    if (target == nullptr) return false;
    path = target;
    std::free(target);
  }
  std::string folder = FolderOf(path);
  if (!MakeFolders(folder)) return false;
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  mode_t mode = 0644;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) mode = st.st_mode & 07777;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
  return true;
}

}  // namespace fennik
