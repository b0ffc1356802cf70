// xcspeex_x64.so: Speex decoding on libspeex. The configured sample rate picks the mode:
// below 16000 Hz narrowband (160 samples a frame), below 32000 Hz wideband (320), else
// ultra-wideband (640). One call decodes every frame of an RTP payload (RFC 5574 3.3:
// frames follow one another, the last padded with ones or ended by a terminator), each
// whole frame that fits into the output; an empty input conceals one frame.
#include <speex/speex.h>

#include "modules/common/CodecModuleEntry.h"
#include "modules/common/Notices.h"

namespace {

class SpeexModuleDecoder {
 public:
  static SpeexModuleDecoder* Make(const fennik::CodecModuleConfig& config) {
    int modeId = SPEEX_MODEID_NB;
    if (config.sampleRate >= 16000) modeId = SPEEX_MODEID_WB;
    if (config.sampleRate >= 32000) modeId = SPEEX_MODEID_UWB;
    void* state = speex_decoder_init(speex_lib_get_mode(modeId));
    if (state == nullptr) return nullptr;
    return new SpeexModuleDecoder(state);
  }
  ~SpeexModuleDecoder() {
    speex_bits_destroy(&bits_);
    speex_decoder_destroy(state_);
  }

  void Reset() { speex_decoder_ctl(state_, SPEEX_RESET_STATE, nullptr); }

  int32_t Decode(const uint8_t* frame, uint32_t length, int16_t* out, uint32_t capacity) {
    const auto frameSamples = static_cast<uint32_t>(frameSize_);
    if (length == 0) {
      if (frameSamples > capacity) return 0;
      speex_decode_int(state_, nullptr, out);
      return frameSize_;
    }
    // speex_bits_read_from takes a char pointer and an int length and copies the bytes.
    if (length > 1u << 20) return 0;
    speex_bits_read_from(&bits_, reinterpret_cast<const char*>(frame), static_cast<int>(length));
    uint32_t written = 0;
    // A frame's smallest header is 5 bits; fewer remaining bits are padding.
    while (written + frameSamples <= capacity && speex_bits_remaining(&bits_) >= 5) {
      if (speex_decode_int(state_, &bits_, out + written) != 0) break;  // -1 end, -2 corrupt
      written += frameSamples;
    }
    return static_cast<int32_t>(written);
  }

  static const wchar_t* Notice() {
    return L"Speex decoding: libspeex\r\n"
           L"Copyright 2002-2007 Jean-Marc Valin, 1994-2007 Xiph.Org Foundation\r\n"
           L"Copyright 1992, 1993, 1994 by Jutta Degener and Carsten Bormann,\r\n"
           L"Technische Universitaet Berlin\r\n" FENNIK_BSD3_TERMS;
  }

 private:
  explicit SpeexModuleDecoder(void* state) : state_(state) {
    speex_bits_init(&bits_);
    speex_decoder_ctl(state_, SPEEX_GET_FRAME_SIZE, &frameSize_);
  }
  void* state_;
  SpeexBits bits_;
  int frameSize_ = 160;
};

}  // namespace

FENNIK_CODEC_MODULE(SpeexModuleDecoder)
