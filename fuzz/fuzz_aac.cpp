// Fuzzes AAC framing: the first input byte picks the codec type the stream is opened with
// (89 raw or detected, 90 ADIF, 91 ADTS, 92 LOAS); the rest is one stream's analysis buffer,
// opened and cut into frames. The same bytes also go through the AudioSpecificConfig,
// StreamMuxConfig and AudioMuxElement readers the RTP payload formats use.
#include <cstddef>
#include <cstdint>

#include "codec/audio/CAAC_Parser.h"

using namespace fennik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int32_t codecType = 89 + data[0] % 4;
  const bool muxConfigPresent = (data[0] & 0x10) != 0;
  ++data;
  --size;

  CAAC_Parser parser;
  CAnarizeBuffer buffer(1);
  buffer.Append(data, static_cast<uint32_t>(size), AnarizePacket{0, 0, 40, 1, static_cast<uint32_t>(size), 1, ~uint64_t{0}});
  CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  parser.SetStreamId(1);
  if (parser.Open(data, size, codecType) && parser.Parse(1, descriptor) > size) __builtin_trap();

  BitReader r(data, size);
  AudioSpecificConfig asc;
  ReadAudioSpecificConfig(r, asc);
  StreamMuxConfig config;
  bool haveConfig = false;
  AudioMuxElement element;
  if (ReadAudioMuxElement(data, size, muxConfigPresent, config, haveConfig, element)) {
    for (const AudioMuxElement::Payload& p : element.payloads) {
      if (p.length > size || p.bytes.size() != p.length) __builtin_trap();
    }
  }
  return 0;
}
