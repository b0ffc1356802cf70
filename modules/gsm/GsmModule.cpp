// xcgsm_x64.so: GSM 06.10 full-rate decoding on libgsm. A frame is the 33-byte RTP packing
// (RFC 3551 4.5.8: signature 0xD then 260 bits of parameters); each complete frame of the
// input decodes to 160 samples at 8000 Hz. An input without a complete frame gives nothing.
#include <gsm/gsm.h>

#include "modules/common/CodecModuleEntry.h"

namespace {

constexpr uint32_t kFrameBytes = 33;
constexpr uint32_t kFrameSamples = 160;

class GsmDecoder {
 public:
  static GsmDecoder* Make(const fennik::CodecModuleConfig&) {
    gsm state = gsm_create();
    return state != nullptr ? new GsmDecoder(state) : nullptr;
  }
  ~GsmDecoder() { gsm_destroy(state_); }

  // libgsm has no reset call: a fresh state is the reset state.
  void Reset() {
    gsm fresh = gsm_create();
    if (fresh == nullptr) return;
    gsm_destroy(state_);
    state_ = fresh;
  }

  int32_t Decode(const uint8_t* frame, uint32_t length, int16_t* out, uint32_t capacity) {
    uint32_t written = 0;
    for (uint32_t at = 0; at + kFrameBytes <= length && written + kFrameSamples <= capacity; at += kFrameBytes) {
      // gsm_decode refuses a frame without the 0xD signature; it then writes nothing.
      gsm_byte bytes[kFrameBytes];
      for (uint32_t i = 0; i < kFrameBytes; ++i) bytes[i] = frame[at + i];
      if (gsm_decode(state_, bytes, out + written) != 0) continue;
      written += kFrameSamples;
    }
    return static_cast<int32_t>(written);
  }

  static const wchar_t* Notice() {
    return L"GSM 06.10 decoding: libgsm\r\n"
           L"Copyright 1992, 1993, 1994 by Jutta Degener and Carsten Bormann,\r\n"
           L"Technische Universitaet Berlin\r\n"
           L"Any use of this software is permitted provided that this notice is not removed and\r\n"
           L"that neither the authors nor the Technische Universitaet Berlin are deemed to have\r\n"
           L"made any representations as to the suitability of this software for any purpose nor\r\n"
           L"are held responsible for any defects of this software. THERE IS ABSOLUTELY NO\r\n"
           L"WARRANTY FOR THIS SOFTWARE.\r\n";
  }

 private:
  explicit GsmDecoder(gsm state) : state_(state) {}
  gsm state_;
};

}  // namespace

FENNIK_CODEC_MODULE(GsmDecoder)
