#include "codec/audio/CModuleHandle.h"

#include <algorithm>

namespace fennik {

bool CModuleHandle::Create(uint32_t channels, uint32_t sampleRate, uint32_t frameMode) {
  if (handle_ != nullptr) return true;
  const CodecModuleOps* ops = CodecModuleTable(module_);
  if (ops == nullptr || ops->Create == nullptr) return false;
  CodecModuleConfig config;
  config.channels = channels;
  config.sampleRate = sampleRate;
  config.frameMode = frameMode;
  handle_ = ops->Create(1, &config);
  ops_ = handle_ != nullptr ? ops : nullptr;
  return handle_ != nullptr;
}

void CModuleHandle::Destroy() {
  if (handle_ != nullptr && ops_->Destroy != nullptr) ops_->Destroy(handle_);
  handle_ = nullptr;
  ops_ = nullptr;
}

void CModuleHandle::Reset() {
  if (handle_ != nullptr && ops_->Reset != nullptr) ops_->Reset(handle_);
}

size_t CModuleHandle::Decode(const uint8_t* frame, size_t length, int16_t* out, size_t capacitySamples) {
  if (handle_ == nullptr || ops_->Decode == nullptr || out == nullptr) return 0;
  // The module takes 32-bit lengths; a frame beyond them is not one frame of these codecs.
  if (length > 0xFFFFFFFFu) return 0;
  const auto capacity = static_cast<uint32_t>(std::min<size_t>(capacitySamples, 0x7FFFFFFF));
  uint8_t info[16] = {};
  const int32_t n = ops_->Decode(handle_, 0, frame, static_cast<uint32_t>(length), out, capacity, info);
  return n > 0 && static_cast<uint32_t>(n) <= capacity ? static_cast<size_t>(n) : 0;
}

}  // namespace fennik
