#include "codec/audio/CMPA_Decode.h"

#include "codec/audio/CMP1_Decode.h"
#include "codec/audio/CMP2_Decode.h"
#include "codec/audio/CMP3_Decode.h"

namespace fennik {

bool CMPA_Decode::CreateLayerDecoder(int layer) {
  if (layer_) return false;
  switch (layer) {
    case 1: layer_ = std::make_unique<CMP1_Decode>(); break;
    case 2: layer_ = std::make_unique<CMP2_Decode>(); break;
    case 3: layer_ = std::make_unique<CMP3_Decode>(); break;
    default: return false;
  }
  layerNumber_ = layer;
  return layer_->Init();
}

int CMPA_Decode::DecodeToInternal(const uint8_t* data, size_t length, size_t* consumed) {
  *consumed = 0;
  if (!layer_) return -1;
  lastSamples_ = 0;
  for (size_t pos = 0; pos + 4 <= length; ++pos) {
    const uint32_t word = uint32_t{data[pos]} << 24 | uint32_t{data[pos + 1]} << 16 |
                          uint32_t{data[pos + 2]} << 8 | data[pos + 3];
    MpaHeader h;
    if ((word & 0xFFE00000u) != 0xFFE00000u || !ParseMpaHeader(word, h) || h.version == kMpaVersionReserved ||
        h.layer != layerNumber_) {
      continue;
    }
    size_t size = h.frameSize;
    // A free-format frame is the whole of what the stream cut for it.
    if (h.FreeFormat()) size = length - pos;
    if (length - pos < size) {
      *consumed = pos;
      return 0;
    }
    SetHeader(h);
    BitReader reader(data + pos + 4, size - 4);
    if (h.protectionBit == 0) header_.crc = static_cast<uint16_t>(reader.Read(16));
    layer_->DecodeFrame(reader, header_, data + pos, size);
    lastSamples_ = layer_->Samples();
    lastChannels_ = h.channels;
    *consumed = pos + size;
    return static_cast<int>(pos + size);
  }
  *consumed = length >= 5 ? length - 4 : 0;
  return 0;
}

size_t CMPA_Decode::CopyPcm(int16_t* out, size_t capacityBytes) const {
  if (!layer_ || lastSamples_ == 0) return 0;
  const size_t channels = lastChannels_ == 1 ? 1 : 2;
  const size_t bytes = size_t{lastSamples_} * channels * 2;
  if (capacityBytes < bytes) return 0;
  const int16_t* left = layer_->Channel(0);
  if (channels == 1) {
    for (uint32_t i = 0; i < lastSamples_; ++i) out[i] = left[i];
    return bytes;
  }
  const int16_t* right = layer_->Channel(1);
  for (uint32_t i = 0; i < lastSamples_; ++i) {
    out[2 * i] = left[i];
    out[2 * i + 1] = right[i];
  }
  return bytes;
}

}  // namespace fennik
