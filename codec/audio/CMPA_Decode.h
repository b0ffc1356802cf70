// The MPEG audio decoder front: finds the frame header in the bytes it is given, keeps
// the current header, and runs the Layer I, II or III decoder chosen from the stream's
// first header; the decoded channels are interleaved into 16-bit PCM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/audio/CMPA_Common.h"
#include "codec/audio/MpaHeader.h"

namespace fennik {

class CMPA_Decode {
 public:
  virtual ~CMPA_Decode() = default;

  // Creates and initialises the decoder of `layer` (1..3); false if one exists already.
  bool CreateLayerDecoder(int layer);
  bool HasLayerDecoder() const { return layer_ != nullptr; }
  // Decodes the first frame in `data`: returns the offset of the frame's end and sets
  // `consumed` to it; 0 when the frame is incomplete or no frame was found (consumed: how
  // far the search got), -1 without a layer decoder. A frame the layer decoder rejects
  // leaves silence of its length.
  int DecodeToInternal(const uint8_t* data, size_t length, size_t* consumed);
  // The last frame's samples interleaved (one channel for mono): bytes written, 0 when
  // `capacityBytes` is too small.
  size_t CopyPcm(int16_t* out, size_t capacityBytes) const;

  const MpaHeader& Header() const { return header_; }
  bool HaveHeader() const { return haveHeader_; }
  const CMPA_Common* LayerDecoder() const { return layer_.get(); }

 protected:
  void ResetLayer() {
    if (layer_) layer_->Reset();
  }
  void ReleaseLayer() {
    if (layer_) layer_->Release();
  }
  void SetHeader(const MpaHeader& h) {
    header_ = h;
    haveHeader_ = true;
  }

 private:
  std::unique_ptr<CMPA_Common> layer_;
  int layerNumber_ = 0;
  MpaHeader header_;
  bool haveHeader_ = false;
  uint32_t lastSamples_ = 0;
  int lastChannels_ = 0;
};

}  // namespace fennik
