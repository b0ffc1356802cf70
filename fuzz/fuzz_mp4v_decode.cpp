// libFuzzer target for the MPEG-4 Visual VOP decoder (CMP4_Decode). Input: a mode byte, then
// an MPEG-4 Visual byte stream whose first VOL (start code 0x20-0x2F) configures the decoder
// and whose VOPs (up to 8) are decoded in turn, each as the bytes up to the next start code;
// decoded pictures are read at their corners as they leave in display order. The mode byte
// flips VOL tools so that small seeds reach them: bit 0 quant_type, bit 1
// resync_marker_disable, bit 2 low_delay, bit 3 decodes the whole input once more as a
// short-video-header picture. Pictures are bounded to 176x144 and the decoder (with its
// picture buffers) is reused between inputs, only its references reset.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/video/CMP4_Decode.h"
#include "codec/video/M4VHeaders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static fennik::CMP4_Decode* decoder = new fennik::CMP4_Decode;
  decoder->ResetPictures();
  const uint8_t mode = data[0];
  ++data;
  --size;
  volatile uint32_t sink = 0;
  auto touch = [&](const fennik::CVideoFrame* f) {
    if (f == nullptr) return;
    const int ls = f->LumaStride(), cs = f->ChromaStride();
    sink = sink + f->Y()[0] + f->Y()[(f->Height() - 1) * ls + f->Width() - 1] +
           f->Cb()[((f->Height() + 1) / 2 - 1) * cs + (f->Width() + 1) / 2 - 1];
  };
  fennik::M4vVol vol;
  int vops = 0;
  for (size_t pos = fennik::FindM4vStartCode(data, size, 0); pos + 4 <= size && vops < 8;) {
    const uint32_t code = data[pos + 3];
    const size_t next = fennik::FindM4vStartCode(data, size, pos + 4);
    if (code <= fennik::kM4vVolLast && !vol.valid) {
      fennik::ReadM4vVol(data + pos, size - pos, 1, vol);
      if (vol.valid && (vol.width > 176 || vol.height > 144)) return 0;
      if (mode & 1) vol.quant_type = !vol.quant_type;
      if (mode & 2) vol.resync_marker_disable = !vol.resync_marker_disable;
      if (mode & 4) vol.low_delay = !vol.low_delay;
    } else if (code == fennik::kM4vVopStart && vol.valid) {
      // Copied so that reads past the VOP's bytes are caught.
      std::vector<uint8_t> vop(data + pos, data + next);
      decoder->DecodeVop(vop.data(), vop.size(), vol, static_cast<uint32_t>(vops++));
      touch(decoder->TakeOutput());
    }
    pos = next;
  }
  decoder->FlushOutput();
  touch(decoder->TakeOutput());
  for (uint32_t mb = 0; mb < decoder->MacroblockCount(); mb += 7) {
    const fennik::M4vMacroblock* m = decoder->Macroblock(mb);
    if (m != nullptr) sink = sink + static_cast<uint32_t>(m->coef[5][63]);
  }
  if ((mode & 8) && size >= 4 && data[0] == 0 && data[1] == 0 && (data[2] & 0xFC) == 0x80) {
    // H.263 pictures larger than the bound are not decoded: the source format is in bits
    // 35-37 of the picture header (sub-QCIF and QCIF allowed).
    const int format = size > 4 ? (data[4] >> 2) & 7 : 0;
    if (format >= 1 && format <= 2) {
      std::vector<uint8_t> picture(data, data + size);
      if (decoder->DecodeShortHeader(picture.data(), picture.size(), 0) == 1) touch(decoder->CurrentPicture());
    }
  }
  return 0;
}
