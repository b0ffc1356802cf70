// Fuzzes MPEG audio: the frame parse of CMPA_Parser over the input as one stream's
// analysis buffer (headers, ID3 tags, free format, Layer III side information), then the
// Layer I, II or III decoder (the first input byte picks it) over every frame it finds,
// with its state (synthesis, overlap, bit reservoir) carried from frame to frame.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CMPA_Parser.h"

using namespace fennik;

namespace {
struct Decoder : CMPA_Decode {};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int layer = 1 + data[0] % 3;
  ++data;
  --size;

  CMPA_Parser parser;
  CAnarizeBuffer buffer(1);
  AnarizePacket packet{0, 0, 40, 1, static_cast<uint32_t>(size), 1, ~uint64_t{0}};
  buffer.Append(data, static_cast<uint32_t>(size), packet);
  CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  parser.SetStreamId(1);
  if (parser.Parse(1, descriptor) > size) __builtin_trap();

  Decoder decoder;
  decoder.CreateLayerDecoder(layer);
  std::vector<int16_t> pcm(1152 * 2);
  // A few frames per input: the filter banks are the costly part under instrumentation,
  // and state carried over three frames already reaches the bit reservoir and overlap.
  size_t pos = 0, consumed = 0;
  for (int frames = 0; frames < 3 && pos < size && decoder.DecodeToInternal(data + pos, size - pos, &consumed) > 0;
       ++frames) {
    if (consumed == 0 || consumed > size - pos) __builtin_trap();
    if (decoder.CopyPcm(pcm.data(), pcm.size() * 2) > pcm.size() * 2) __builtin_trap();
    pos += consumed;
  }
  return 0;
}
