// libFuzzer target for the H.263 stream parser, picture-header reader and decoder. The first
// input byte picks the codec type (bit 0: Sorenson H.263) and how the rest is cut into
// pictures (bit 1: at byte-aligned picture start codes, as the frame list cuts a stream; else
// fixed chunks sized by the remaining bits). The whole input also goes through the stream
// parser's frame-list building. Decoded pictures are read at their corners. One decoder
// serves every input (reset, so that each input starts as a new stream; its picture buffers
// are kept while the picture size repeats).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/video/C263_Decode.h"
#include "codec/video/C263_Parser.h"
#include "stream/CAnarizeBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  const int codec_type = (mode & 1) ? fennik::kCodecTypeSorenson : fennik::kCodecTypeH263;
  static fennik::C263_Decode& dec = *new fennik::C263_Decode;
  dec.SetCodecType(codec_type);
  dec.ResetDecoder();
  std::vector<size_t> starts;
  if (mode & 2) {
    const uint32_t mask = (mode & 1) ? 0xFFFFF8 : 0xFFFFFC;
    for (size_t i = 0; i + 2 < size; ++i)
      if (((uint32_t{data[i]} << 16 | uint32_t{data[i + 1]} << 8 | data[i + 2]) & mask) == 0x80) starts.push_back(i);
  } else {
    const size_t chunk = 32 + static_cast<size_t>(mode >> 2) * 32;
    for (size_t pos = 0; pos < size; pos += chunk) starts.push_back(pos);
  }
  {
    fennik::C263_Parser parser(codec_type);
    parser.Open(data, size, (mode & 4) ? static_cast<int32_t>(0xFFFFFFFF) : codec_type);
    fennik::CAnarizeBuffer buffer(1);
    fennik::AnarizePacket packet{0, 0, 0, 0, static_cast<uint32_t>(size), 1, ~uint64_t{0}};
    buffer.Append(data, static_cast<uint32_t>(size), packet);
    fennik::CPayloadDescriptor descriptor;
    descriptor.Add(&buffer);
    parser.Parse(1, descriptor);
  }
  volatile uint32_t sink = 0;
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : size;
    // Copy so that reads past the picture's bytes are caught.
    std::vector<uint8_t> picture(data + starts[i], data + end);
    if (dec.DecodePicture(picture.data(), picture.size(), static_cast<uint32_t>(i)) != 1) continue;
    const fennik::CVideoFrame* f = dec.GetCurrentPicture();
    if (f == nullptr) continue;
    const int ls = f->LumaStride(), cs = f->ChromaStride();
    sink = sink + f->Y()[0] + f->Y()[(f->Height() - 1) * ls + f->Width() - 1] +
           f->Cr()[((f->Height() + 1) / 2 - 1) * cs + (f->Width() + 1) / 2 - 1];
  }
  return 0;
}
