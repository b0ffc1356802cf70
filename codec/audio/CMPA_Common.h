// The layer decoder interface of MPEG audio: the Layer I, II and III decoders share the
// per-channel synthesis filter banks and 16-bit output buffers; each decodes one frame
// (header already read) into the buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/BitReader.h"
#include "codec/audio/MpaHeader.h"
#include "codec/audio/MpaSynthesis.h"

namespace fennik {

struct MpaSideInfo;

class CMPA_Common {
 public:
  virtual ~CMPA_Common() = default;
  // Allocates the two channel buffers (samples per frame each) and clears the filter state.
  virtual bool Init();
  virtual void Release();
  // Clears the synthesis state (Layer III also its overlap and bit reservoir).
  virtual void Reset();
  // Decodes the frame `frame[0..size)` (header included) whose header is `h`; `reader`
  // stands after the header and CRC. False when the frame could not be decoded (the
  // output then holds silence of the frame's length).
  virtual bool DecodeFrame(BitReader& reader, const MpaHeader& h, const uint8_t* frame, size_t size) = 0;
  // The Layer III side information of the last frame (none for Layers I and II).
  virtual const MpaSideInfo* SideInfo() const { return nullptr; }

  // Samples per channel of the last frame, and the channel buffers.
  uint32_t Samples() const { return samples_; }
  const int16_t* Channel(int ch) const { return out_[ch].data(); }

 protected:
  // Runs the filter bank of `ch` over `slots` steps of 32 sub-band samples each,
  // appending 32 × slots samples at `offset` of the channel buffer.
  void Synthesize(int ch, const float* subbands, int slots, uint32_t offset);
  // Silence for a frame that could not be decoded (keeps the output length).
  void Silence(uint32_t samples, int channels);

  virtual uint32_t FrameSamples() const = 0;

  MpaSynthesis synthesis_[2];
  std::vector<int16_t> out_[2];
  uint32_t samples_ = 0;
};

}  // namespace fennik
