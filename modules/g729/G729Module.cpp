// xcg729_x64.so: G.729 decoding on bcg729. An RTP payload (RFC 3551 4.5.6) is zero or more
// 10-byte frames, optionally followed by one 2-byte Annex B SID frame; each frame decodes
// to 80 samples at 8000 Hz. An empty input is a frame not received: bcg729 conceals it
// (G.729 4.4) or, after a SID frame, goes on generating comfort noise (Annex B).
// bcg729's headers declare C functions without a C++ guard.
extern "C" {
#include <bcg729/decoder.h>
}

#include "modules/common/CodecModuleEntry.h"

namespace {

constexpr uint32_t kFrameBytes = 10;
constexpr uint32_t kSidBytes = 2;
constexpr uint32_t kFrameSamples = 80;

class G729Decoder {
 public:
  static G729Decoder* Make(const fennik::CodecModuleConfig&) {
    bcg729DecoderChannelContextStruct* context = initBcg729DecoderChannel();
    return context != nullptr ? new G729Decoder(context) : nullptr;
  }
  ~G729Decoder() { closeBcg729DecoderChannel(context_); }

  // bcg729 has no reset call: a fresh channel is the reset state.
  void Reset() {
    bcg729DecoderChannelContextStruct* fresh = initBcg729DecoderChannel();
    if (fresh == nullptr) return;
    closeBcg729DecoderChannel(context_);
    context_ = fresh;
  }

  int32_t Decode(const uint8_t* frame, uint32_t length, int16_t* out, uint32_t capacity) {
    if (capacity < kFrameSamples) return 0;
    if (length == 0) {
      // Erased (or, in DTX, untransmitted) frame.
      bcg729Decoder(context_, nullptr, 0, 1, 0, 0, out);
      return static_cast<int32_t>(kFrameSamples);
    }
    uint32_t written = 0;
    uint32_t at = 0;
    while (written + kFrameSamples <= capacity) {
      const uint32_t left = length - at;
      if (left >= kFrameBytes) {
        bcg729Decoder(context_, frame + at, kFrameBytes, 0, 0, 0, out + written);
        at += kFrameBytes;
      } else if (left == kSidBytes) {
        bcg729Decoder(context_, frame + at, kSidBytes, 0, 1, 0, out + written);
        at += kSidBytes;
      } else {
        break;  // nothing left, or a remainder that is no frame
      }
      written += kFrameSamples;
    }
    return static_cast<int32_t>(written);
  }

  static const wchar_t* Notice() {
    return L"G.729 decoding: bcg729\r\n"
           L"Copyright 2011-2019 Belledonne Communications, Grenoble, France\r\n"
           L"This program is free software: you can redistribute it and/or modify it under the\r\n"
           L"terms of the GNU General Public License as published by the Free Software\r\n"
           L"Foundation, either version 3 of the License, or (at your option) any later version.\r\n"
           L"This program is distributed in the hope that it will be useful, but WITHOUT ANY\r\n"
           L"WARRANTY; without even the implied warranty of MERCHANTABILITY or FITNESS FOR A\r\n"
           L"PARTICULAR PURPOSE. See the GNU General Public License for more details.\r\n";
  }

 private:
  explicit G729Decoder(bcg729DecoderChannelContextStruct* context) : context_(context) {}
  bcg729DecoderChannelContextStruct* context_;
};

}  // namespace

FENNIK_CODEC_MODULE(G729Decoder)
