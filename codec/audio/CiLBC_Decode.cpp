#include "codec/audio/CiLBC_Decode.h"

#include "base/DebugPrint.h"

namespace fennik {
namespace {

// RFC 3951 1: 15.20 kbit/s for 20 ms frames, 13.33 kbit/s for 30 ms frames.
uint32_t BitRateOf(int mode) { return mode == 30 ? 13333 : 15200; }

}  // namespace

CiLBC_Decode::CiLBC_Decode() : CModuleDecoder("[iLBC]", CodecModule::kIlbc) {
  format_.codecType = kCodecType;
  format_.channels = 1;
  format_.sampleRate = 8000;
  format_.bitsPerSample = 16;
  format_.frameSize = 0;
  SetFrameSamples(160);
  format_.bitRate = BitRateOf(mode_);
  format_.channelPositions[0] = kChannelCenter;
  SetFrameMode(static_cast<uint32_t>(mode_));
  // A record is a whole frame's parameters: keep room for the frames of one payload only.
  records_ = {};
  records_.reserve(kMaxShownFrames);
}

void CiLBC_Decode::SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, int32_t mode) {
  DebugPrint("[iLBC] SetAudioFormat(%d, %d, %d, %d, %d)\n", channels, sampleRate, bitsPerSample, 0, mode);
  const uint32_t oldChannels = format_.channels, oldRate = format_.sampleRate;
  if (sampleRate > 0) format_.sampleRate = static_cast<uint32_t>(sampleRate);
  if (channels != 0) format_.channels = channels;
  format_.bitsPerSample = 16;
  if (format_.channels != oldChannels || format_.sampleRate != oldRate) CloseModuleDecoder();
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
  SetFrameSamples(static_cast<uint32_t>(ilbc::FrameSamples(mode_)));
  format_.bitRate = BitRateOf(mode_);
  // A decoder made for the other mode would decode noise: the next decode makes a new one.
  SetFrameMode(static_cast<uint32_t>(mode_));
}

void CiLBC_Decode::FollowPayloadSize(size_t length) {
  if (modeSignalled_ || length == 0) return;
  const bool whole20 = length % ilbc::kFrameBytes20 == 0;
  const bool whole30 = length % ilbc::kFrameBytes30 == 0;
  if (whole20 != whole30) SetMode(whole30 ? 30 : 20);
}

void CiLBC_Decode::CountSamples(size_t length) {
  const auto frameBytes = static_cast<size_t>(ilbc::FrameBytes(mode_));
  const size_t frames = length >= frameBytes ? length / frameBytes : 1;
  SetFrameSamples(static_cast<uint32_t>(frames * static_cast<size_t>(ilbc::FrameSamples(mode_))));
}

size_t CiLBC_Decode::Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes) {
  BeginFrame(in, length, out);
  if (in == nullptr && length != 0) return 0;
  FollowPayloadSize(length);
  const auto frameBytes = static_cast<size_t>(ilbc::FrameBytes(mode_));
  for (size_t at = 0; at + frameBytes <= length && records_.size() < kMaxShownFrames; at += frameBytes) {
    ilbc::FrameParams params;
    ilbc::UnpackFrame(in + at, frameBytes, mode_, params);
    records_.push_back(params);
  }
  // The frame's nominal length, which its time keeps also when nothing is decoded.
  CountSamples(length);
  const size_t bytes = ModuleDecode(in, length, out, capacityBytes);
  format_.frameSize = static_cast<uint32_t>(length);
  return bytes;
}

}  // namespace fennik
