// xcilbc_x64.so: iLBC decoding (RFC 3951) on the program's own decoder. The handle decodes
// the frame mode it was created with (the config's frame mode, 30 or else 20 ms); an input
// holds one or more frames of that mode (RFC 3952 3.2), each decoded to 160 or 240 samples
// at 8000 Hz. An input without a complete frame (an empty payload, a cut frame) is a lost
// frame and gives one concealed frame.
#include "codec/audio/ilbc/IlbcDecoder.h"
#include "modules/common/CodecModuleEntry.h"

namespace {

class IlbcModuleDecoder {
 public:
  static IlbcModuleDecoder* Make(const fennik::CodecModuleConfig& config) {
    if (config.frameMode != 0 && config.frameMode != 20 && config.frameMode != 30) return nullptr;
    return new IlbcModuleDecoder(config.frameMode == 30 ? 30 : 20);
  }

  void Reset() { decoder_.Reset(); }

  int32_t Decode(const uint8_t* frame, uint32_t length, int16_t* out, uint32_t capacity) {
    const auto bytes = static_cast<uint32_t>(fennik::ilbc::FrameBytes(decoder_.mode()));
    const auto samples = static_cast<uint32_t>(decoder_.samples());
    uint32_t written = 0;
    if (length < bytes) {
      if (capacity >= samples) written = static_cast<uint32_t>(decoder_.Conceal(out));
      return static_cast<int32_t>(written);
    }
    for (uint32_t at = 0; at + bytes <= length && written + samples <= capacity; at += bytes) {
      written += static_cast<uint32_t>(decoder_.Decode(frame + at, bytes, out + written));
    }
    return static_cast<int32_t>(written);
  }

  static const wchar_t* Notice() {
    return L"iLBC decoding: Fennik's own decoder, written from the description of the Internet\r\n"
           L"Low Bit Rate Codec in RFC 3951 (20 and 30 ms frames, enhancer, packet-loss\r\n"
           L"concealment). It uses no code of the RFC's reference implementation; its constant\r\n"
           L"tables are those the RFC publishes.\r\n";
  }

 private:
  explicit IlbcModuleDecoder(int mode) : decoder_(mode) {}
  fennik::ilbc::Decoder decoder_;
};

}  // namespace

FENNIK_CODEC_MODULE(IlbcModuleDecoder)
