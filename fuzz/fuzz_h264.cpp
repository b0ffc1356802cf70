// libFuzzer target for the H.264 decoder. The first input byte chooses how the rest is fed:
// bit 0 clear: Annex B byte stream unit by unit (DecodeNalUnit); bit 0 set: frame-wise
// Decode() calls on chunks, with bit 1 selecting 4-byte length prefixes instead of start
// codes. Decoded pictures are taken and touched so that their memory is checked.
// One decoder serves every input (reset with its parameter sets forgotten, so each input
// starts as a new stream; its picture buffers are kept when the size repeats), and pictures
// are bounded at 396 macroblocks (352x288, four times the seeds' 176x144): an input of a few
// bytes can declare any size, and a skipped macroblock costs the same at any size.
#include <cstddef>
#include <cstdint>

#include "codec/video/C264_Decode.h"
#include "h264/H264Nal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  static fennik::C264_Decode& dec = *[] {
    auto* decoder = new fennik::C264_Decode;
    decoder->SetMaxPictureMacroblocks(396);
    return decoder;
  }();
  dec.ResetDecoder();
  dec.ClearParameterSets();
  dec.SetLengthPrefixed(false);
  static fennik::CVideoFrame frame;
  fennik::H264Crop crop;
  volatile uint32_t sink = 0;
  auto drain = [&]() {
    while (dec.GetNextPicture(frame, &crop)) {
      // Read the corners of the visible area.
      const int ls = frame.LumaStride();
      sink = sink + frame.Y()[crop.top * ls + crop.left] +
             frame.Y()[(crop.top + crop.height - 1) * ls + crop.left + crop.width - 1];
    }
  };
  if ((mode & 1) == 0) {
    for (const fennik::NalSpan& u : fennik::SplitAnnexB(data, size)) {
      dec.DecodeNalUnit(data + u.offset, u.size);
      drain();
    }
  } else {
    dec.SetLengthPrefixed((mode & 2) != 0);
    // Chunks of a size taken from the mode byte, as a frame table would cut them.
    const size_t chunk = 64 + static_cast<size_t>(mode >> 2) * 64;
    for (size_t pos = 0; pos < size; pos += chunk) {
      const size_t n = size - pos < chunk ? size - pos : chunk;
      dec.Decode(data + pos, static_cast<uint32_t>(n), static_cast<uint32_t>(pos / chunk));
      drain();
    }
  }
  dec.Flush();
  drain();
  return 0;
}
