// Feeds arbitrary payloads to the unpacking of the module-decoded voice codecs (G.729 with
// and without Annex B, GSM 06.10, the Opus TOC and frame lengths, the Speex bit-stream and
// Ogg/Speex header and comment packets) and to their decoders' Decode without a module
// (unpacking only). The first input byte picks the output capacity, the rest is one
// payload.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CG729_Decode.h"
#include "codec/audio/CGSM_Decode.h"
#include "codec/audio/COpus_Decode.h"
#include "codec/audio/CSpeex_Decode.h"

using namespace fennik;

namespace {

template <typename Decoder>
void DecodeChecked(Decoder& decoder, const uint8_t* data, size_t size, size_t capacityBytes) {
  std::vector<int16_t> pcm(capacityBytes / 2 + 1, 0x5A5A);
  const size_t produced = decoder.Decode(data, size, pcm.data(), capacityBytes);
  if (produced > capacityBytes || pcm.back() != 0x5A5A) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t capacityBytes = size_t{data[0]} * 8;
  ++data;
  --size;

  G729FrameRecord g729[12];
  if (UnpackG729Payload(data, size, true, g729, 12) > 12) __builtin_trap();
  GsmFrameRecord gsm;
  UnpackGsmFrame(data, size, gsm);
  const OpusPacketInfo opus = ParseOpusPacket(data, size);
  if (opus.frameCount > OpusPacketInfo::kMaxFrames) __builtin_trap();
  if (UnpackSpeexFrames(data, size, 64).size() > 64) __builtin_trap();
  SpeexHeader header;
  ParseSpeexHeader(data, size, header);
  SpeexComments comments;
  ParseSpeexComments(data, size, comments);

  CG729_Decode g729Decoder;
  DecodeChecked(g729Decoder, data, size, capacityBytes);
  CGSM_Decode gsmDecoder;
  DecodeChecked(gsmDecoder, data, size, capacityBytes);
  COpus_Decode opusDecoder;
  DecodeChecked(opusDecoder, data, size, capacityBytes);
  CSpeex_Decode speexDecoder;
  DecodeChecked(speexDecoder, data, size, capacityBytes);
  return 0;
}
