// xcopus_x64.so: Opus decoding on libopus. One call decodes one Opus packet (RFC 6716 3:
// a TOC byte and one or more frames) to interleaved 16-bit samples at the configured rate
// (8, 12, 16, 24 or 48 kHz; 48 kHz otherwise) and channel count (1 or 2). An empty input
// asks libopus to conceal one packet of the length decoded last.
#include <opus/opus.h>

#include "modules/common/CodecModuleEntry.h"
#include "modules/common/Notices.h"

namespace {

class OpusModuleDecoder {
 public:
  static OpusModuleDecoder* Make(const fennik::CodecModuleConfig& config) {
    int rate = static_cast<int>(config.sampleRate);
    if (rate != 8000 && rate != 12000 && rate != 16000 && rate != 24000) rate = 48000;
    const int channels = config.channels == 2 ? 2 : 1;
    int error = OPUS_OK;
    OpusDecoder* decoder = opus_decoder_create(rate, channels, &error);
    if (decoder == nullptr || error != OPUS_OK) return nullptr;
    return new OpusModuleDecoder(decoder, channels, rate);
  }
  ~OpusModuleDecoder() { opus_decoder_destroy(decoder_); }

  void Reset() { opus_decoder_ctl(decoder_, OPUS_RESET_STATE); }

  int32_t Decode(const uint8_t* frame, uint32_t length, int16_t* out, uint32_t capacity) {
    const int perChannel = static_cast<int>(capacity / static_cast<uint32_t>(channels_));
    int samples;
    if (length == 0) {
      // Packet-loss concealment needs a multiple of 2.5 ms: the last packet's length.
      const int conceal = lastSamples_ != 0 ? lastSamples_ : rate_ / 50;
      if (conceal > perChannel) return 0;
      samples = opus_decode(decoder_, nullptr, 0, out, conceal, 0);
    } else {
      samples = opus_decode(decoder_, frame, static_cast<opus_int32>(length), out, perChannel, 0);
    }
    if (samples <= 0) return 0;
    if (length != 0) lastSamples_ = samples;
    return samples * channels_;
  }

  static const wchar_t* Notice() {
    return L"Opus decoding: libopus\r\n"
           L"Copyright 2001-2018 Xiph.Org, Skype Limited, Octasic, Jean-Marc Valin,\r\n"
           L"Timothy B. Terriberry, CSIRO, Gregory Maxwell, Mark Borgerding,\r\n"
           L"Erik de Castro Lopo\r\n" FENNIK_BSD3_TERMS;
  }

 private:
  OpusModuleDecoder(OpusDecoder* decoder, int channels, int rate)
      : decoder_(decoder), channels_(channels), rate_(rate) {}
  OpusDecoder* decoder_;
  int channels_;
  int rate_;
  int lastSamples_ = 0;
};

}  // namespace

FENNIK_CODEC_MODULE(OpusModuleDecoder)
