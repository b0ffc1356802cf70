#include "media/CWavFile.h"

#include "base/ByteOrder.h"

namespace fennik {
namespace {

constexpr uint32_t kHeaderBytes = 44;
constexpr uint64_t kMaxData = 0xFFFFFFFFull - kHeaderBytes;

}  // namespace

// RIFF header: "RIFF" size "WAVE", "fmt " 16: format 1 (PCM), channels, rate, byte rate,
// block align, bits 16, then "data" size.
bool CWavFile::Create(const std::string& name, uint32_t channels, uint32_t sampleRate) {
  if (!file_.OpenFile(name, CAvFile::kWrite)) return false;
  dataBytes_ = 0;
  uint8_t h[kHeaderBytes] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                             'f', 'm', 't', ' ', 16, 0, 0, 0};
  WriteLE16(h + 20, 1);
  WriteLE16(h + 22, static_cast<uint16_t>(channels));
  WriteLE32(h + 24, sampleRate);
  WriteLE32(h + 28, sampleRate * channels * 2);
  WriteLE16(h + 32, static_cast<uint16_t>(channels * 2));
  WriteLE16(h + 34, 16);
  h[36] = 'd', h[37] = 'a', h[38] = 't', h[39] = 'a';
  WriteLE32(h + 4, kHeaderBytes - 8);
  return file_.Write(h, sizeof h);
}

bool CWavFile::Write(const int16_t* samples, uint32_t count) {
  if (!file_.IsFileOpen()) return false;
  if (dataBytes_ + uint64_t{count} * 2 > kMaxData) return false;
  uint8_t bytes[4096];
  uint32_t done = 0;
  while (done < count) {
    uint32_t n = 0;
    for (; n < sizeof bytes / 2 && done < count; ++n, ++done) WriteLE16(bytes + 2 * n, static_cast<uint16_t>(samples[done]));
    if (!file_.Write(bytes, n * 2)) return false;
    dataBytes_ += n * 2;
  }
  return true;
}

bool CWavFile::Close() {
  if (!file_.IsFileOpen()) return true;
  uint8_t size[4];
  WriteLE32(size, static_cast<uint32_t>(dataBytes_ + kHeaderBytes - 8));
  bool ok = file_.WriteAt(4, size, 4);
  WriteLE32(size, static_cast<uint32_t>(dataBytes_));
  ok = file_.WriteAt(40, size, 4) && ok;
  file_.CloseFile();
  return ok;
}

}  // namespace fennik
