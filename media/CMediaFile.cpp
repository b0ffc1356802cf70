#include "media/CMediaFile.h"

#include <cerrno>

namespace fennik {

int CMediaFile::Create(const std::string& path, bool replace) {
  if (IsFileOpen()) return EBUSY;
  errno = 0;
  if (!OpenFile(path, replace ? kWrite : kWriteNew)) {
    // OpenFile refuses folders after opening them, so errno may not say why.
    return errno != 0 ? errno : EISDIR;
  }
  failed_ = false;
  return 0;
}

int CMediaFile::SetVideoFormat(uint32_t kind, const MediaVideoFormat* format) {
  return kind == 0 && format != nullptr ? 1 : 0;
}

int CMediaFile::SetAudioFormat(uint32_t kind, const MediaAudioFormat* format) {
  return kind == 0 && format != nullptr ? 1 : 0;
}

bool CMediaFile::Append(const void* data, size_t length) {
  if (failed_ || !IsFileOpen()) return false;
  if (length != 0 && !Write(data, length)) failed_ = true;
  return !failed_;
}

int CMediaFile::WriteVideo(const uint8_t* data, uint32_t length, bool keyFrame) {
  (void)keyFrame;
  return Append(data, length) ? 1 : 0;
}

int CMediaFile::WriteAudio(const uint8_t* data, uint32_t length) {
  return Append(data, length) ? 1 : 0;
}

bool CMediaFile::Close() {
  const bool ok = IsFileOpen() && !failed_;
  CloseFile();
  return ok;
}

}  // namespace fennik
