// The Opus stream (codec type 113): one Opus packet per frame. It opens on its first packet
// that is neither "OpusHead" nor "OpusTags": the channels come from that packet's stereo
// flag (or an "OpusHead"'s channel count, or the SDP's stereo=1), and the decoder of the
// module xcopus_x64.so is created for them at 48 kHz.
#pragma once

#include "codec/audio/CDecoderStream.h"
#include "codec/audio/COpus_Decode.h"

namespace fennik {

class COpus_Parser : public CDecoderStream<COpus_Decode> {
 public:
  const char* GetCodecName() const override { return "Opus"; }
  // True with a data source and the module's decoder (without the module, never: every
  // packet is offered to Open again, which costs a TOC read).
  bool IsOpen() const override { return source_ != nullptr && HasModuleDecoder(); }
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  // The generic parse; the first frame's TOC sets the samples per frame.
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  // The rate is the decoder's 48 kHz (RFC 7587 4.1: the RTP clock of Opus is 48000 whatever
  // the rtpmap's channel count), the channels the stream's own.
  void SetAudioFormat(int32_t, uint16_t, uint16_t, uint32_t, int32_t) override {}
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  // Group "TOC" and the packet's frames.
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;

 protected:
  void OnMediaFormat() override;

 private:
  bool channelsKnown_ = false;
};

}  // namespace fennik
