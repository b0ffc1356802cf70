#include "codec/audio/COpus_Parser.h"

#include <cstdio>
#include <string>

#include "base/ByteOrder.h"
#include "codec/audio/AudioViews.h"

namespace fennik {

void COpus_Parser::OnMediaFormat() {
  // RFC 7587 7.1: stereo=1 says the receiver prefers stereo; sprop-stereo that the sender
  // sends it.
  const auto stereo = Fmtp("sprop-stereo") ? Fmtp("sprop-stereo") : Fmtp("stereo");
  if (stereo && *stereo == "1") {
    SetChannels(2);
    channelsKnown_ = true;
  }
}

int COpus_Parser::Open(const uint8_t* data, size_t length, int32_t) {
  if (IsOpusHeaderPacket(data, length, "OpusHead")) {
    if (length >= 10) {
      SetChannels(data[9]);
      channelsKnown_ = true;
    }
    return 1;  // not open yet: the next packet is offered again
  }
  if (IsOpusHeaderPacket(data, length, "OpusTags")) return 0;
  const OpusPacketInfo toc = ParseOpusPacket(data, length);
  if (!channelsKnown_ && length > 0) {
    SetChannels(toc.stereo ? 2 : 1);
    channelsKnown_ = true;
  }
  OpenModuleDecoder();
  return 1;
}

size_t COpus_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer != nullptr && frames_.GetCount() == 0 && buffer->Pending() > 0) {
    const OpusPacketInfo toc = ParseOpusPacket(buffer->Data() + buffer->Consumed(), buffer->Pending());
    if (toc.valid) SetFrameSamples(toc.SamplesAt(kDecodeRate));
  }
  return ParseWholeUnit(streamId, descriptor);
}

void COpus_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("Opus AUDIO INFORMATION");
  PrintAudioFramePlace(*this, index, tree);
  AudioFormat f;
  GetAudioFormat(f);
  PrintAudioFormatBlock(f, "Opus", tree);
}

void COpus_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  (void)index;  // the views decode the frame before showing it
  if (Records().empty()) return;
  const OpusPacketInfo& p = Records().front();
  tree.Title("TOC");
  char mode[64];
  std::snprintf(mode, sizeof mode, "%s, %s, %g ms", OpusModeName(p.mode), OpusBandwidthName(p.bandwidthRate),
                p.frameDuration48k / 48.0);
  tree.Field(1, "operating mode", 5, kModeDecimal, colour::kField, p.config, p.config, mode);
  tree.Field(1, "stereo/mono", 1, kModeDecimal, colour::kField, p.stereo, p.stereo, p.stereo ? "stereo" : "mono");
  static constexpr const char* kCodes[4] = {"1 frame", "2 frames, equal size", "2 frames, different sizes",
                                            "an arbitrary number of frames"};
  tree.Field(1, "number of frames per packet", 2, kModeDecimal, colour::kField, p.code, p.code, kCodes[p.code]);
  if (p.code == 3) {
    tree.Field(1, "VBR", 1, kModeDecimal, colour::kField, p.vbr, p.vbr);
    tree.Field(1, "padding", 1, kModeDecimal, colour::kField, p.padding, p.padding);
    tree.Field(1, "frame count", 6, kModeDecimal, colour::kField, p.frameCount, p.frameCount);
    if (p.padding) tree.Field(1, "padding length", 0, kModeDecimal, colour::kField, 0, p.paddingLength, {}, "bytes");
  }
  if (!p.valid) {
    tree.FieldText(1, "packet", 0, colour::kField, "malformed (RFC 6716 3.4)");
    return;
  }
  for (uint32_t i = 0; i < p.frameCount; ++i) {
    tree.Field(1, "frame " + std::to_string(i + 1) + " length", 0, kModeDecimal, colour::kField, 0,
               p.frameLengths[i], {}, "bytes");
  }
}

}  // namespace fennik
