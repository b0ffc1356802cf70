#include "codec/audio/CGSM_Decode.h"

#include "base/BitReader.h"

namespace fennik {

bool UnpackGsmFrame(const uint8_t* frame, size_t length, GsmFrameRecord& r) {
  if (frame == nullptr || length < GsmFrameRecord::kBytes) return false;
  BitReader bits(frame, GsmFrameRecord::kBytes);
  r.signature = static_cast<uint8_t>(bits.Read(4));
  if (r.signature != 0xD) return false;
  for (int i = 0; i < 8; ++i) r.lar[i] = static_cast<uint8_t>(bits.Read(GsmFrameRecord::kLarBits[i]));
  for (GsmSubFrame& s : r.sub) {
    s.ltpLag = static_cast<uint8_t>(bits.Read(7));
    s.ltpGain = static_cast<uint8_t>(bits.Read(2));
    s.gridPosition = static_cast<uint8_t>(bits.Read(2));
    s.blockAmplitude = static_cast<uint8_t>(bits.Read(6));
    for (uint8_t& p : s.pulses) p = static_cast<uint8_t>(bits.Read(3));
  }
  return bits.Ok();
}

CGSM_Decode::CGSM_Decode() : CModuleDecoder("[GSM]", CodecModule::kGsm) {
  format_.codecType = kCodecType;
  format_.channels = 1;
  format_.sampleRate = 8000;
  format_.bitsPerSample = 16;
  format_.bitRate = 13200;
  format_.frameSize = GsmFrameRecord::kBytes;
  SetFrameSamples(kFrameSamples);
}

size_t CGSM_Decode::Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes) {
  BeginFrame(in, length, out);
  format_.samples = kFrameSamples;  // the frame's time, also when it decodes to nothing
  GsmFrameRecord record;
  if (!UnpackGsmFrame(in, length, record)) return 0;
  records_.push_back(record);
  if (capacityBytes / 2 < kFrameSamples) return 0;
  // One frame goes to the module even when the stream's frame carries more bytes.
  return ModuleDecode(in, GsmFrameRecord::kBytes, out, kFrameSamples * 2);
}

}  // namespace fennik
