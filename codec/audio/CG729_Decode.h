// G.729 (and G.729 Annex A/B) frames for the information view and decoding through the
// module xcg729_x64.so. An RTP payload (RFC 3551 4.5.6) is a run of 10-byte frames, each
// the 15 transmitted parameters of G.729 Table 8 (80 bits, most significant bit first),
// optionally followed by one 2-byte Annex B SID frame (G.729 Annex B Table B.2: 15 bits).
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/audio/CModuleDecoder.h"

namespace fennik {

// The unpacked parameters of one frame.
struct G729FrameRecord {
  static constexpr int kSpeechParameters = 15;
  static constexpr int kSidParameters = 4;
  bool sid = false;  // an Annex B SID frame (its four parameters in values[0..3])
  uint16_t values[kSpeechParameters] = {};
};

// Speech frame parameters in transmission order: name and width in bits.
struct G729Parameter {
  const char* name;
  int bits;
};
extern const G729Parameter kG729SpeechParameters[G729FrameRecord::kSpeechParameters];
extern const G729Parameter kG729SidParameters[G729FrameRecord::kSidParameters];

// Unpacks the frames of a payload: every complete 10-byte frame (at most `maxFrames`) and,
// when Annex B is in use, a 2-byte SID frame that ends the payload. Returns the count.
size_t UnpackG729Payload(const uint8_t* payload, size_t length, bool annexB, G729FrameRecord* out,
                         size_t maxFrames);

class CG729_Decode : public CModuleDecoder<G729FrameRecord> {
 public:
  static constexpr int32_t kCodecType = 110;
  static constexpr size_t kMaxShownFrames = 10;

  CG729_Decode();

  // Annex B (SDP "annexb", RFC 4856: yes unless the SDP says no): a 2-byte remainder is a
  // SID frame.
  void SetAnnexB(bool annexB) { annexB_ = annexB; }
  bool AnnexB() const { return annexB_; }

  // Unpacks the first 10 frames for the information view, then decodes the whole payload
  // through the module (80 samples per frame). Returns the PCM bytes written.
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);

  // Samples a payload of `length` bytes decodes to (80 per 10-byte frame and per SID frame).
  uint32_t PayloadSamples(size_t length) const;

 private:
  bool annexB_ = true;
};

}  // namespace fennik
