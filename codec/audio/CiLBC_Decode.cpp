#include "codec/audio/CiLBC_Decode.h"

#include "base/DebugPrint.h"

namespace fennik {
namespace {

// RFC 3951 1: 15.20 kbit/s for 20 ms frames, 13.33 kbit/s for 30 ms frames.
uint32_t BitRateOf(int mode) { return mode == 30 ? 13333 : 15200; }

}  // namespace

CiLBC_Decode::CiLBC_Decode() : CAudioDecoder("[iLBC]") {
  format_.codecType = kCodecType;
  format_.channels = 1;
  format_.sampleRate = 8000;
  format_.bitsPerSample = 16;
  format_.frameSize = 0;
  format_.samples = 160;
  format_.bitRate = BitRateOf(mode_);
  format_.channelPositions[0] = kChannelCenter;
  records_.shrink_to_fit();
}

CiLBC_Decode::~CiLBC_Decode() { DestroyHandle(); }

void CiLBC_Decode::SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, int32_t mode) {
  DebugPrint("[iLBC] SetAudioFormat(%d, %d, %d, %d, %d)\n", channels, sampleRate, bitsPerSample, 0, mode);
  (void)bitsPerSample;
  if (sampleRate > 0) format_.sampleRate = static_cast<uint32_t>(sampleRate);
  if (channels != 0) format_.channels = channels;
  format_.bitsPerSample = 16;
  if (mode == 20 || mode == 30) {
    if (!modeSignalled_) SetMode(mode);
  } else {
    format_.frameSize = 0;
  }
}

void CiLBC_Decode::SetSignalledMode(int mode) {
  if (mode != 20 && mode != 30) return;
  SetMode(mode);
  modeSignalled_ = true;
}

void CiLBC_Decode::SetMode(int mode) {
  mode_ = mode == 30 ? 30 : 20;
  format_.frameSize = static_cast<uint32_t>(ilbc::FrameBytes(mode_));
  format_.samples = static_cast<uint32_t>(ilbc::FrameSamples(mode_));
  format_.bitRate = BitRateOf(mode_);
  // A decoder made for the other mode would decode noise: make a new one.
  if (handle_ != nullptr && handleMode_ != mode_) {
    DestroyHandle();
    CreateHandle();
  }
}

void CiLBC_Decode::FollowPayloadSize(size_t length) {
  if (modeSignalled_ || length == 0) return;
  const bool whole20 = length % ilbc::kFrameBytes20 == 0;
  const bool whole30 = length % ilbc::kFrameBytes30 == 0;
  if (whole20 != whole30) SetMode(whole30 ? 30 : 20);
}

void CiLBC_Decode::CountSamples(size_t length) {
  // An empty or cut payload stands for one lost frame. The count is kept also when nothing
  // can be decoded (no module), so that frame times stay right.
  const auto frameBytes = static_cast<size_t>(ilbc::FrameBytes(mode_));
  const size_t frames = length >= frameBytes ? length / frameBytes : 1;
  format_.samples = static_cast<uint32_t>(frames * static_cast<size_t>(ilbc::FrameSamples(mode_)));
}

void CiLBC_Decode::CreateHandle() {
  if (handle_ != nullptr) return;
  ops_ = CodecModuleTable(CodecModule::kIlbc);
  if (ops_ == nullptr || ops_->Create == nullptr) return;
  CodecModuleConfig config;
  config.channels = format_.channels;
  config.sampleRate = format_.sampleRate;
  config.frameMode = static_cast<uint32_t>(mode_);
  handle_ = ops_->Create(1, &config);
  handleMode_ = mode_;
}

void CiLBC_Decode::DestroyHandle() {
  if (handle_ != nullptr && ops_ != nullptr && ops_->Destroy != nullptr) ops_->Destroy(handle_);
  handle_ = nullptr;
}

void CiLBC_Decode::Reset() {
  if (handle_ != nullptr && ops_ != nullptr && ops_->Reset != nullptr) ops_->Reset(handle_);
}

size_t CiLBC_Decode::Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes) {
  BeginFrame(in, length, out);
  unpacked_.clear();
  if (out == nullptr || (in == nullptr && length != 0)) return 0;
  FollowPayloadSize(length);
  const auto frameBytes = static_cast<size_t>(ilbc::FrameBytes(mode_));
  for (size_t at = 0; at + frameBytes <= length && unpacked_.size() < kMaxShownFrames; at += frameBytes) {
    ilbc::FrameParams params;
    ilbc::UnpackFrame(in + at, frameBytes, mode_, params);
    unpacked_.push_back(params);
  }
  CountSamples(length);
  format_.frameSize = static_cast<uint32_t>(length);
  if (handle_ == nullptr || ops_ == nullptr || ops_->Decode == nullptr) return 0;
  uint8_t info[16] = {};
  const int32_t samples = ops_->Decode(handle_, 0, in, static_cast<uint32_t>(length), out,
                                       static_cast<uint32_t>(capacityBytes / 2), info);
  if (samples <= 0) return 0;
  return EndFrame(static_cast<size_t>(samples));
}

}  // namespace fennik
