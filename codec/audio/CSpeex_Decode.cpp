#include "codec/audio/CSpeex_Decode.h"

#include <cstring>

namespace fennik {
namespace {

bool IsHeaderAt(const uint8_t* p, size_t left) { return left >= 8 && std::memcmp(p, "Speex   ", 8) == 0; }

}  // namespace

CSpeex_Decode::CSpeex_Decode() : CModuleDecoder("[Speex]", CodecModule::kSpeex) {
  format_.codecType = kCodecType;
  format_.channels = 1;
  format_.sampleRate = 8000;
  format_.bitsPerSample = 16;
  format_.frameSize = 2048;
  SetFrameSamples(160);
  format_.channelPositions[0] = 7;
}

void CSpeex_Decode::SetRate(uint32_t rate, uint32_t channels) {
  if (rate != format_.sampleRate || (channels != 0 && channels != format_.channels)) CloseModuleDecoder();
  if (rate > 0) format_.sampleRate = rate;
  if (channels > 0) format_.channels = channels;
}

size_t CSpeex_Decode::FramesStart(const uint8_t* in, size_t length) {
  size_t at = 0;
  while (at < length) {
    if (IsHeaderAt(in + at, length - at)) {
      at += length - at < SpeexHeader::kSize ? length - at : SpeexHeader::kSize;
      continue;
    }
    SpeexComments comments;
    if (ParseSpeexComments(in + at, length - at, comments)) return length;
    break;
  }
  return at;
}

size_t CSpeex_Decode::Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes) {
  BeginFrame(in, length, out);
  if (in == nullptr) return ModuleDecode(nullptr, 0, nullptr, 0);
  size_t at = 0;
  while (at < length) {
    SpeexItem item;
    if (IsHeaderAt(in + at, length - at)) {
      item.kind = SpeexItem::kHeader;
      if (!ParseSpeexHeader(in + at, length - at, item.header)) break;
      records_.push_back(item);
      at += SpeexHeader::kSize;
      continue;
    }
    // A comment packet only when its lengths fill the rest exactly; anything else is frames.
    if (ParseSpeexComments(in + at, length - at, item.comments)) {
      item.kind = SpeexItem::kComment;
      records_.push_back(std::move(item));
      at = length;
      break;
    }
    for (SpeexFrameInfo& frame : UnpackSpeexFrames(in + at, length - at, kMaxShownFrames)) {
      SpeexItem f;
      f.frame = frame;
      records_.push_back(f);
    }
    break;
  }
  if (at >= length) return ModuleDecode(nullptr, 0, nullptr, 0);  // headers only: no samples
  return ModuleDecode(in + at, length - at, out, capacityBytes);
}

}  // namespace fennik
