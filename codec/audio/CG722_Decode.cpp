#include "codec/audio/CG722_Decode.h"

namespace fennik {
CG722_Decode::CG722_Decode() : CAudioDecoder("[G722]") {
  format_.codecType = kCodecType;
  format_.channels = 1;
  format_.sampleRate = 16000;
  format_.bitsPerSample = 8;
  format_.bitRate = 128000;
  format_.frameSize = 2048;
  format_.samples = 160;
  Reset();
}

void CG722_Decode::Reset() {
  G722ResetLowBand(low_);
  G722ResetHighBand(high_);
  qmf_ = G722QmfState{};
}

size_t CG722_Decode::Decode(const uint8_t* in, size_t length, int16_t* out,
                            size_t capacityBytes) {
  if (!BeginFrame(in, length, out)) return 0;

  const size_t perOctet = format_.sampleRate == 16000 ? 2 : 1;
  const size_t capacity = capacityBytes / 2;
  size_t written = 0;
  for (size_t i = 0; i < length && written + perOctet <= capacity; ++i) {
    G722OctetRecord record;
    record.ih = in[i] >> 6;
    record.il = in[i] & 0x3F;
    record.rl = G722DecodeLowBand(low_, static_cast<uint32_t>(record.il));
    record.rh = G722DecodeHighBand(high_, static_cast<uint32_t>(record.ih));
    G722ReceiveQmf(qmf_, record.rl, record.rh, record.xout);
    for (size_t k = 0; k < perOctet; ++k) out[written++] = static_cast<int16_t>(record.xout[k]);
    records_.push_back(record);
  }
  return EndFrame(written);
}

}  // namespace fennik
