// Speex payloads for the information view and decoding through the module xcspeex_x64.so.
// A payload is walked as an Ogg/Speex header packet ("Speex   ", 80 bytes), a comment packet
// or Speex frames (RFC 5574: RTP carries frames only); the frames go to the module, whose
// mode (narrowband, wideband, ultra-wideband) follows the stream's sample rate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/audio/CModuleDecoder.h"
#include "codec/audio/SpeexBitstream.h"

namespace fennik {

// What the walk of a payload found, in order.
struct SpeexItem {
  enum Kind : uint8_t { kHeader, kComment, kFrame } kind = kFrame;
  SpeexHeader header;
  SpeexComments comments;
  SpeexFrameInfo frame;
};

class CSpeex_Decode : public CModuleDecoder<SpeexItem> {
 public:
  static constexpr int32_t kCodecType = 114;
  static constexpr size_t kMaxShownFrames = 10;

  CSpeex_Decode();

  // The mode by sample rate: 32000 Hz and above ultra-wideband (2, 640 samples a frame),
  // below 16000 Hz narrowband (0, 160), otherwise wideband (1, 320).
  static int ModeForRate(uint32_t rate) { return rate >= 32000 ? 2 : rate < 16000 ? 0 : 1; }
  static uint32_t FrameSamplesForRate(uint32_t rate) { return 160u << ModeForRate(rate); }
  // Sets the stream's rate (closing a decoder made for another).
  void SetRate(uint32_t rate, uint32_t channels);

  // Walks the payload for display, then decodes its frames through the module; without the
  // module nothing is written and 0 returned.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);

  // Where the payload's Speex frames start (after any header or comment packet); the
  // length when it has none.
  static size_t FramesStart(const uint8_t* in, size_t length);
};

}  // namespace fennik
