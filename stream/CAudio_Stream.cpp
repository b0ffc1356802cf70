#include "stream/CAudio_Stream.h"

#include <algorithm>

#include "base/DebugPrint.h"

namespace fennik {

CAudio_Stream::CAudio_Stream() {
  format_.channels = 2;
  format_.sampleRate = 48000;
  format_.bitsPerSample = 16;
  format_.frameSize = 2048;
  format_.samples = 512;
  format_.channelPositions[0] = kChannelLeft;
  format_.channelPositions[1] = kChannelRight;
}

void CAudio_Stream::AttachView(CViewHost*) {
  if (readBuffer_.empty()) readBuffer_.resize(kReadBufferSize);
}

// The payload bytes of a frame: from the RTP payload of the packet the frame starts in, up
// to the frame's end; the loader skips the headers of later packets, so a frame that
// spans packets comes back contiguous.
const uint8_t* CAudio_Stream::ReadFrame(const FrameEntry& e, uint64_t address) {
  if (source_ == nullptr || e.frameOffset < e.payloadOffset) return nullptr;
  const uint32_t lead = e.frameOffset - e.payloadOffset;
  const uint64_t need = uint64_t{lead} + e.size;
  if (need > 0xFFFFFFF0u) return nullptr;
  if (cachedAddress_ != address || cachedBytes_ < need) {
    if (readBuffer_.size() < need) readBuffer_.resize(need + 1024);
    cachedAddress_ = address;
    uint32_t n = source_->Read(readBuffer_.data(), static_cast<uint32_t>(readBuffer_.size()),
                               static_cast<uint32_t>(need), address);
    cachedBytes_ = n == CAvLoadStream::kTooLarge ? 0 : n;
  }
  if (cachedBytes_ < need) return nullptr;
  return readBuffer_.data() + lead;
}

const uint8_t* CAudio_Stream::GetFrameData(uint32_t index, uint32_t* size, uint64_t* address) {
  uint64_t frameAddress;
  FrameEntry e;
  if (size) *size = 0;
  if (address) *address = 0;
  if (!frames_.Get(index, &frameAddress, &e)) return nullptr;
  const uint8_t* data = ReadFrame(e, frameAddress);
  if (address) *address = frameAddress + e.frameOffset;
  if (data == nullptr) return nullptr;
  if (size) *size = e.size;
  return data;
}

uint64_t CAudio_Stream::DecodeFrame(uint32_t index) {
  uint64_t frameAddress;
  FrameEntry e;
  if (!frames_.Get(index, &frameAddress, &e)) return ~uint64_t{0};
  if (pcm_.empty()) {
    AudioFormat f;
    if (!GetAudioFormat(f)) return ~uint64_t{0};
    format_ = f;
    const uint32_t channels = std::max<uint32_t>(f.channels, 1);
    // Room for a frame of the stream's own size, or for 65,536 samples per channel.
    const uint64_t perChannel = std::max<uint64_t>(e.size / (2 * channels) + 1, 65536);
    pcm_.assign(channels * perChannel, 0);
    pcmBytes_ = 0;
  }
  const uint8_t* data = ReadFrame(e, frameAddress);
  if (data == nullptr) {
    currentFrame_ = index;  // unreadable: nothing is decoded
    pcmBytes_ = 0;
    return frameAddress + e.frameOffset;
  }
  if (currentFrame_ == kNone || index != currentFrame_ + 1) {
    DebugPrint("audio reset\n");
    ResetDecoder();
  }
  pcmBytes_ = static_cast<uint32_t>(Decode(data, e.size, pcm_.data(), pcm_.size() * 2));
  currentFrame_ = index;
  return frameAddress + e.frameOffset;
}

int CAudio_Stream::GetAudioFrame(uint32_t index, AudioFrame& frame) {
  if (index == kNone) index = currentFrame_ + 1;  // the next frame (0 before any)
  if (index != currentFrame_ && DecodeFrame(index) == ~uint64_t{0}) return 0;
  GetAudioFormat(frame.format);
  const uint32_t samples = pcmBytes_ / 2;
  const bool mono = frame.format.channels == 1;
  if (samples > frame.capacityBytes / 2) {
    frame.validBytes = 0;
    return 1;
  }
  uint32_t written = 0;
  const uint32_t room = frame.capacityBytes / 2;
  for (uint32_t i = 0; i < samples && written < room; ++i) {
    frame.samples[written++] = pcm_[i];
    if (mono && written < room) frame.samples[written++] = pcm_[i];
  }
  frame.validBytes = written * 2;
  return 1;
}

uint64_t CAudio_Stream::GetTime(uint32_t index) {
  AudioFormat f;
  if (!GetAudioFormat(f) || f.sampleRate == 0) return 0;
  const uint64_t i = index == kNone ? frames_.GetCount() : index;
  return i * f.samples * 1000000 / f.sampleRate;
}

}  // namespace fennik
