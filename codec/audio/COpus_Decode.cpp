#include "codec/audio/COpus_Decode.h"

#include <cstring>

namespace fennik {

bool IsOpusHeaderPacket(const uint8_t* data, size_t length, const char* magic) {
  return data != nullptr && length >= 8 && std::memcmp(data, magic, 8) == 0;
}

COpus_Decode::COpus_Decode() : CModuleDecoder("[Opus]", CodecModule::kOpus) {
  format_.codecType = kCodecType;
  format_.channels = 1;
  format_.sampleRate = kDecodeRate;
  format_.bitsPerSample = 16;
  format_.frameSize = 80;
  SetFrameSamples(80);
  format_.channelPositions[0] = 7;
}

void COpus_Decode::SetChannels(uint32_t channels) {
  channels = channels == 2 ? 2 : 1;
  if (channels != format_.channels) CloseModuleDecoder();
  format_.channels = channels;
  if (channels == 2) {
    format_.channelPositions[0] = kChannelLeft;
    format_.channelPositions[1] = kChannelRight;
  } else {
    format_.channelPositions[0] = 7;
    format_.channelPositions[1] = 0;
  }
}

size_t COpus_Decode::Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes) {
  BeginFrame(in, length, out);
  if (in == nullptr) return 0;
  if (IsOpusHeaderPacket(in, length, "OpusHead") || IsOpusHeaderPacket(in, length, "OpusTags")) return 0;
  records_.push_back(ParseOpusPacket(in, length));
  return ModuleDecode(in, length, out, capacityBytes);
}

}  // namespace fennik
