#include "codec/audio/CSpeex_Parser.h"

#include <cstring>
#include <string>
#include <string_view>

#include "base/DebugPrint.h"
#include "codec/audio/AudioViews.h"

namespace fennik {
namespace {

bool IsSpeexRate(uint32_t rate) { return rate == 8000 || rate == 16000 || rate == 32000; }

}  // namespace

int CSpeex_Parser::Open(const uint8_t* data, size_t length, int32_t) {
  const std::string_view payload(reinterpret_cast<const char*>(data), data != nullptr ? length : 0);
  const size_t magic = payload.find("Speex");
  SpeexHeader header;
  if (magic != std::string_view::npos && ParseSpeexHeader(data + magic, length - magic, header)) {
    DebugPrint("[Speex] SetAudioFormat(%d, %d, %d, %d, %d)\n", header.channels, header.rate, 16, 0, 0);
    SetRate(header.rate > 0 ? static_cast<uint32_t>(header.rate) : 0,
            header.channels > 0 && header.channels <= 2 ? static_cast<uint32_t>(header.channels) : 0);
  } else if (!(GetMediaFormat().hasRtpmap && IsSpeexRate(GetMediaFormat().clockRate))) {
    // No header and no SDP rate: the first frame's layers tell the mode.
    const size_t start = FramesStart(data, length);
    const auto frames = UnpackSpeexFrames(data + start, length - start, 1);
    if (!frames.empty() && frames[0].layers > 0 && frames[0].complete) {
      SetRate(8000u << (frames[0].layers - 1), 0);
    }
  }
  OpenModuleDecoder();
  return 1;
}

size_t CSpeex_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer != nullptr && frames_.GetCount() == 0 && buffer->Pending() > 0) {
    const uint8_t* data = buffer->Data() + buffer->Consumed();
    const size_t length = buffer->Pending();
    const size_t start = FramesStart(data, length);
    size_t count = 0;
    for (const SpeexFrameInfo& f : UnpackSpeexFrames(data + start, length - start, 64)) count += f.complete;
    if (count > 0) SetFrameSamples(static_cast<uint32_t>(count) * FrameSamplesForRate(Format().sampleRate));
  }
  return ParseWholeUnit(streamId, descriptor);
}

void CSpeex_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("Speex AUDIO INFORMATION");
  PrintCommonAudioFrameBlock(*this, index, tree);
}

namespace {

void ShowHeader(const SpeexHeader& h, CFieldTree& tree) {
  tree.Title("Ogg/Speex header packet");
  tree.Text(1, "speex_string", std::span(reinterpret_cast<const uint8_t*>(h.speexString), 8));
  tree.Text(1, "speex_version", std::span(reinterpret_cast<const uint8_t*>(h.speexVersion), std::strlen(h.speexVersion)));
  const std::pair<const char*, int32_t> fields[] = {
      {"speex_version_id", h.versionId}, {"header_size", h.headerSize}, {"rate", h.rate}, {"mode", h.mode},
      {"mode_bitstream_version", h.modeBitstreamVersion}, {"nb_channels", h.channels}, {"bitrate", h.bitrate},
      {"frame_size", h.frameSize}, {"vbr", h.vbr}, {"frames_per_packet", h.framesPerPacket},
      {"extra_headers", h.extraHeaders}, {"reserved1", h.reserved1}, {"reserved2", h.reserved2}};
  for (const auto& [name, value] : fields) {
    tree.Field(1, name, 32, kModeDecimal, colour::kField, static_cast<uint32_t>(value), value);
  }
}

void ShowComments(const SpeexComments& c, CFieldTree& tree) {
  tree.Title("Comment packet");
  tree.Field(1, "vendor_length", 32, kModeDecimal, colour::kField, c.vendor.size(), static_cast<int64_t>(c.vendor.size()));
  tree.Text(1, "vendor_string", std::span(reinterpret_cast<const uint8_t*>(c.vendor.data()), c.vendor.size()));
  tree.Field(1, "user_comment_list_length", 32, kModeDecimal, colour::kField, c.comments.size(),
             static_cast<int64_t>(c.comments.size()));
  for (size_t i = 0; i < c.comments.size(); ++i) {
    const std::string n = "[" + std::to_string(i) + "] ";
    tree.Field(1, n + "user comment length", 32, kModeDecimal, colour::kField, c.comments[i].size(),
               static_cast<int64_t>(c.comments[i].size()));
    tree.Text(1, n + "user comment", std::span(reinterpret_cast<const uint8_t*>(c.comments[i].data()), c.comments[i].size()));
  }
}

void ShowLayer(const SpeexLayer& l, bool narrowband, CFieldTree& tree) {
  auto field = [&](int level, const std::string& name, int bits, uint32_t value) {
    tree.Field(level, name, bits, kModeDecimal, colour::kField, value, value);
  };
  field(2, "Wideband bit", 1, l.wideband);
  field(2, "Mode ID", narrowband ? 4 : 3, l.modeId);
  for (int i = 0; i < l.lspCount; ++i) field(2, "LSP[" + std::to_string(i) + "]", 6, l.lsp[i]);
  if (narrowband) {
    if (l.modeId == 1 || l.modeId == 2 || l.modeId == 8) field(2, "OL pitch", 7, l.olPitch);
    if (l.modeId == 1 || l.modeId == 8) field(2, "OL pitch gain", 4, l.olPitchGain);
    if (l.modeId != 0) field(2, "OL Exc gain", 5, l.olExcGain);
  }
  for (int s = 0; s < l.subFrames; ++s) {
    const SpeexSubFrame& sub = l.sub[s];
    tree.FieldText(2, "Sub-Frame[" + std::to_string(s) + "]", 0, colour::kTitle, "");
    if (narrowband) {
      if (l.modeId >= 3 && l.modeId <= 7) field(3, "Fine pitch", 7, sub.finePitch);
      if (l.modeId >= 2 && l.modeId <= 7) field(3, "Pitch gain", l.modeId >= 5 ? 7 : 5, sub.pitchGain);
      if (l.modeId == 1 || (l.modeId >= 3 && l.modeId <= 7)) field(3, "Innovation gain", l.modeId >= 5 ? 3 : 1, sub.innovationGain);
      for (int i = 0; i < sub.vqCount; ++i) field(3, "Innovation VQ[" + std::to_string(i) + "]", sub.vqBits, sub.vq[i]);
    } else {
      field(3, "Excitation gain", l.modeId == 1 ? 5 : 4, sub.excitationGain);
      for (int i = 0; i < sub.vqCount; ++i) field(3, "Excitation VQ[" + std::to_string(i) + "]", sub.vqBits, sub.vq[i]);
    }
  }
}

}  // namespace

void CSpeex_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  (void)index;  // the views decode the frame before showing it
  int frameNumber = 0;
  for (const SpeexItem& item : Records()) {
    if (item.kind == SpeexItem::kHeader) {
      ShowHeader(item.header, tree);
      continue;
    }
    if (item.kind == SpeexItem::kComment) {
      ShowComments(item.comments, tree);
      continue;
    }
    if (frameNumber++ == 0) tree.Title("Ogg/Speex frame header");
    const SpeexFrameInfo& f = item.frame;
    std::string heading = "Frame " + std::to_string(frameNumber);
    if (f.terminator) heading += " (terminator)";
    else if (!f.complete) heading += " (incomplete or invalid mode)";
    tree.FieldText(1, heading, 0, colour::kTitle, "");
    for (int i = 0; i < f.layers; ++i) ShowLayer(f.layer[i], i == 0, tree);
  }
}

}  // namespace fennik
