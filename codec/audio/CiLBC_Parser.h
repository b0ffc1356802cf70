// The iLBC stream (codec type 116, "iLBC"): one frame per run of packets sharing an RTP
// timestamp (each holding one or more iLBC frames of the stream's mode), unpacked for the
// detail view and decoded by the codec module. See CiLBC_Decode for how the frame mode is
// found.
#pragma once

#include "codec/audio/CDecoderStream.h"
#include "codec/audio/CiLBC_Decode.h"

namespace fennik {

class CiLBC_Parser : public CDecoderStream<CiLBC_Decode> {
 public:
  const char* GetCodecName() const override { return "iLBC"; }
  // Takes the mode from the first payload's size unless the SDP gave it, then creates the
  // module's decoder. Always 1: the stream is browsable without the module.
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  // "iLBC AUDIO INFORMATION", the frame's address, number, samples and time, then the format
  // block of iLBC (format, frame size, channels, sampling frequency, bit rate).
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  // "Internet Low Bit Rate Codec (iLBC)": every transmitted parameter of each frame of the
  // last decoded payload.
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;

 protected:
  void OnMediaFormat() override;
};

}  // namespace fennik
