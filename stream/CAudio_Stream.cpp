#include "stream/CAudio_Stream.h"

#include <algorithm>

#include "base/DebugPrint.h"
#include "stream/AudioTimeline.h"

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

// Frame times come from the frames' own sample counts and RTP timestamps, never from the
// size of whichever frame was decoded last.
uint64_t CAudio_Stream::GetTime(uint32_t index) {
  AudioFormat f;
  if (!GetAudioFormat(f) || f.sampleRate == 0) return 0;
  return FramePosition(index) * 1000000 / f.sampleRate;
}

uint64_t CAudio_Stream::FramePosition(uint32_t index) {
  std::lock_guard<std::mutex> lock(positionsMutex_);
  const uint64_t count = frames_.GetCount();
  if (positions_.size() != count || positionsConcatenated_ != Concatenated()) {
    AudioFormat f;
    GetAudioFormat(f);
    const uint32_t clock = RtpClockRate() != 0 ? RtpClockRate() : f.sampleRate;
    CAudioTimeline timeline(clock, f.sampleRate, Concatenated());
    positions_.assign(count, 0);
    FrameEntry e, next;
    uint64_t estimate = f.samples;
    for (uint64_t i = 0; i < count; ++i) {
      if (!frames_.Get(i, nullptr, &e)) continue;
      uint64_t samples = FrameSamples(e.size);
      if (samples == 0 && clock != 0) {
        // Unknown from the size: the timestamp step to the next frame, when plausible
        // (up to a second), else the last such step.
        if (i + 1 < count && frames_.Get(i + 1, nullptr, &next)) {
          const int64_t step = static_cast<int32_t>(static_cast<uint32_t>(next.timestamp) -
                                                    static_cast<uint32_t>(e.timestamp));
          if (step > 0 && step <= clock) estimate = static_cast<uint64_t>(step) * f.sampleRate / clock;
        }
        samples = estimate;
      }
      positions_[i] = timeline.Place(static_cast<uint32_t>(e.timestamp), samples).position;
    }
    positionsEnd_ = timeline.End();
    positionsConcatenated_ = Concatenated();
  }
  if (index == kNone || index >= count) return positionsEnd_;
  return positions_[index];
}

}  // namespace fennik
