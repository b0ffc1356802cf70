// xcaac_x64.so: AAC decoding on FAAD2 (Debian's libfaad). The decoder is created from the
// stream's AudioSpecificConfig (ISO/IEC 14496-3 1.6.2.1), which the program passes in the
// config record's reserved bytes with its length as the frame mode; a frame is one raw
// access unit. Output: 16-bit samples interleaved by channel, at the rate and channel count
// the configuration gives (HE-AAC: the SBR rate; HE-AACv2: stereo). FAAD2 is told not to
// double the rate on its own for low-rate AAC-LC, so a stream without signalled SBR keeps
// its core rate.
#include <neaacdec.h>

#include <cstring>

#include "modules/common/CodecModuleEntry.h"

namespace {

class AacDecoder {
 public:
  static AacDecoder* Make(const fennik::CodecModuleConfig& config) {
    const uint32_t length = config.frameMode;
    if (length == 0 || length > sizeof config.reserved) return nullptr;
    auto* d = new AacDecoder();
    std::memcpy(d->asc_, config.reserved, length);
    d->ascLength_ = length;
    if (!d->Open()) {
      delete d;
      return nullptr;
    }
    return d;
  }
  ~AacDecoder() { Close(); }

  void Reset() {
    Close();
    Open();
  }

  int32_t Decode(const uint8_t* frame, uint32_t length, int16_t* out, uint32_t capacity) {
    if (decoder_ == nullptr || length == 0) return 0;
    NeAACDecFrameInfo info;
    std::memset(&info, 0, sizeof info);
    auto* samples = static_cast<int16_t*>(
        NeAACDecDecode(decoder_, &info, const_cast<unsigned char*>(frame), length));
    if (samples == nullptr || info.error != 0 || info.samples == 0) return 0;
    const unsigned long count = info.samples < capacity ? info.samples : capacity;
    std::memcpy(out, samples, count * sizeof(int16_t));
    return static_cast<int32_t>(count);
  }

  static const wchar_t* Notice() {
    return L"AAC decoding: FAAD2 (Freeware Advanced Audio (AAC) Decoder)\r\n"
           L"Copyright (C) 2003-2005 M. Bakker, Nero AG, http://www.nero.com\r\n"
           L"FAAD2 is free software, distributed under the GNU General Public License version 2\r\n"
           L"or later; this module is distributed under the same terms.\r\n";
  }

 private:
  bool Open() {
    decoder_ = NeAACDecOpen();
    if (decoder_ == nullptr) return false;
    NeAACDecConfigurationPtr config = NeAACDecGetCurrentConfiguration(decoder_);
    config->outputFormat = FAAD_FMT_16BIT;
    config->downMatrix = 0;
    config->dontUpSampleImplicitSBR = 1;
    NeAACDecSetConfiguration(decoder_, config);
    unsigned long rate = 0;
    unsigned char channels = 0;
    if (NeAACDecInit2(decoder_, asc_, ascLength_, &rate, &channels) < 0) {
      Close();
      return false;
    }
    return true;
  }
  void Close() {
    if (decoder_ != nullptr) NeAACDecClose(decoder_);
    decoder_ = nullptr;
  }

  NeAACDecHandle decoder_ = nullptr;
  unsigned char asc_[24] = {};
  unsigned long ascLength_ = 0;
};

}  // namespace

FENNIK_CODEC_MODULE(AacDecoder)
