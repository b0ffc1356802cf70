#include "codec/audio/SpeexBitstream.h"

#include <cstring>

#include "base/BitReader.h"
#include "base/ByteOrder.h"

namespace fennik {
namespace {

// Narrowband modes 0-8: LSP indices, open-loop pitch/pitch gain/excitation gain bits, and per
// sub-frame fine pitch, pitch gain, innovation gain bits and innovation codebook split.
struct NbMode {
  uint8_t lspCount, olPitch, olPitchGain, olExcGain, finePitch, pitchGain, innovationGain, vqCount, vqBits;
};
constexpr NbMode kNbModes[9] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0},  {3, 7, 4, 5, 0, 0, 1, 0, 0},  {3, 7, 0, 5, 0, 5, 0, 4, 4},
    {3, 0, 0, 5, 7, 5, 1, 4, 5},  {3, 0, 0, 5, 7, 5, 1, 5, 7},  {5, 0, 0, 5, 7, 7, 3, 8, 6},
    {5, 0, 0, 5, 7, 7, 3, 8, 8},  {5, 0, 0, 5, 7, 7, 3, 16, 6}, {3, 7, 4, 5, 0, 0, 0, 2, 5},
};
// Wideband layer modes 0-4: LSP indices, excitation gain bits, excitation codebook split.
struct WbMode {
  uint8_t lspCount, excitationGain, vqCount, vqBits;
};
constexpr WbMode kWbModes[5] = {{0, 0, 0, 0}, {2, 5, 0, 0}, {2, 4, 4, 5}, {2, 4, 5, 8}, {2, 4, 10, 8}};

bool ReadNarrowband(BitReader& bits, SpeexLayer& layer) {
  const NbMode& m = kNbModes[layer.modeId];
  layer.lspCount = m.lspCount;
  for (int i = 0; i < m.lspCount; ++i) layer.lsp[i] = static_cast<uint16_t>(bits.Read(6));
  layer.olPitch = static_cast<uint16_t>(bits.Read(m.olPitch));
  layer.olPitchGain = static_cast<uint16_t>(bits.Read(m.olPitchGain));
  layer.olExcGain = static_cast<uint16_t>(bits.Read(m.olExcGain));
  layer.subFrames = layer.modeId == 0 ? 0 : 4;
  for (int s = 0; s < layer.subFrames; ++s) {
    SpeexSubFrame& sub = layer.sub[s];
    sub.finePitch = static_cast<uint16_t>(bits.Read(m.finePitch));
    sub.pitchGain = static_cast<uint16_t>(bits.Read(m.pitchGain));
    sub.innovationGain = static_cast<uint16_t>(bits.Read(m.innovationGain));
    sub.vqCount = m.vqCount;
    sub.vqBits = m.vqBits;
    for (int i = 0; i < m.vqCount; ++i) sub.vq[i] = static_cast<uint16_t>(bits.Read(m.vqBits));
  }
  return bits.Ok();
}

bool ReadWideband(BitReader& bits, SpeexLayer& layer) {
  const WbMode& m = kWbModes[layer.modeId];
  layer.lspCount = m.lspCount;
  for (int i = 0; i < m.lspCount; ++i) layer.lsp[i] = static_cast<uint16_t>(bits.Read(6));
  layer.subFrames = layer.modeId == 0 ? 0 : 4;
  for (int s = 0; s < layer.subFrames; ++s) {
    SpeexSubFrame& sub = layer.sub[s];
    sub.excitationGain = static_cast<uint16_t>(bits.Read(m.excitationGain));
    sub.vqCount = m.vqCount;
    sub.vqBits = m.vqBits;
    for (int i = 0; i < m.vqCount; ++i) sub.vq[i] = static_cast<uint16_t>(bits.Read(m.vqBits));
  }
  return bits.Ok();
}

// In-band signalling before a frame (narrowband modes 13 and 14): skips it; false when the
// payload ends inside it.
bool SkipInband(BitReader& bits, int mode) {
  if (mode == 14) {
    const uint32_t code = bits.Read(4);
    const size_t skip = code < 2 ? 1 : code < 8 ? 4 : code < 10 ? 8 : code < 12 ? 16 : code < 14 ? 32 : 64;
    bits.Skip(skip);
  } else {
    const uint32_t size = bits.Read(4);
    bits.Skip(5 + 8 * size);
  }
  return bits.Ok();
}

}  // namespace

int SpeexNarrowbandBits(int mode) {
  if (mode < 0 || mode > 8) return 0;
  const NbMode& m = kNbModes[mode];
  const int sub = mode == 0 ? 0 : 4 * (m.finePitch + m.pitchGain + m.innovationGain + m.vqCount * m.vqBits);
  return 5 + 6 * m.lspCount + m.olPitch + m.olPitchGain + m.olExcGain + sub;
}

int SpeexWidebandBits(int mode) {
  if (mode < 0 || mode > 4) return 0;
  const WbMode& m = kWbModes[mode];
  return 4 + 6 * m.lspCount + (mode == 0 ? 0 : 4 * (m.excitationGain + m.vqCount * m.vqBits));
}

std::vector<SpeexFrameInfo> UnpackSpeexFrames(const uint8_t* data, size_t length, size_t maxFrames) {
  std::vector<SpeexFrameInfo> frames;
  if (data == nullptr) return frames;
  BitReader bits(data, length);
  while (frames.size() < maxFrames && bits.BitsLeft() >= 5) {
    SpeexFrameInfo frame;
    SpeexLayer& nb = frame.layer[0];
    nb.wideband = static_cast<uint8_t>(bits.Read(1));
    nb.modeId = static_cast<uint8_t>(bits.Read(4));
    while (nb.wideband == 0 && (nb.modeId == 13 || nb.modeId == 14)) {
      if (!SkipInband(bits, nb.modeId) || bits.BitsLeft() < 5) return frames;
      nb.wideband = static_cast<uint8_t>(bits.Read(1));
      nb.modeId = static_cast<uint8_t>(bits.Read(4));
    }
    frame.layers = 1;
    if (nb.wideband != 0 || nb.modeId > 8) {
      // Mode 15 ends the payload; 9-12 and a leading wideband bit are no frame.
      frame.terminator = nb.wideband == 0 && nb.modeId == 15;
      frames.push_back(frame);
      break;
    }
    frame.complete = ReadNarrowband(bits, nb);
    while (frame.complete && frame.layers < 3 && bits.BitsLeft() >= 4 && bits.Peek(1) == 1) {
      SpeexLayer& wb = frame.layer[frame.layers];
      wb.wideband = static_cast<uint8_t>(bits.Read(1));
      wb.modeId = static_cast<uint8_t>(bits.Read(3));
      ++frame.layers;
      if (wb.modeId > 4) {
        frame.complete = false;
        break;
      }
      frame.complete = ReadWideband(bits, wb);
    }
    frames.push_back(frame);
    if (!frame.complete) break;
  }
  return frames;
}

bool ParseSpeexHeader(const uint8_t* data, size_t length, SpeexHeader& h) {
  if (data == nullptr || length < SpeexHeader::kSize) return false;
  std::memcpy(h.speexString, data, 8);
  std::memcpy(h.speexVersion, data + 8, 20);
  int32_t* fields[] = {&h.versionId, &h.headerSize, &h.rate, &h.mode, &h.modeBitstreamVersion,
                       &h.channels, &h.bitrate, &h.frameSize, &h.vbr, &h.framesPerPacket,
                       &h.extraHeaders, &h.reserved1, &h.reserved2};
  for (size_t i = 0; i < 13; ++i) *fields[i] = static_cast<int32_t>(ReadLE32(data + 28 + 4 * i));
  return true;
}

bool ParseSpeexComments(const uint8_t* data, size_t length, SpeexComments& c) {
  if (data == nullptr) return false;
  size_t at = 0;
  auto text = [&](std::string& out) {
    if (length - at < 4) return false;
    const uint32_t n = ReadLE32(data + at);
    at += 4;
    if (n > length - at) return false;
    out.assign(reinterpret_cast<const char*>(data + at), n);
    at += n;
    return true;
  };
  c = {};
  if (!text(c.vendor) || length - at < 4) return false;
  const uint32_t count = ReadLE32(data + at);
  at += 4;
  if (count > (length - at) / 4) return false;
  c.comments.resize(count);
  for (std::string& s : c.comments) {
    if (!text(s)) return false;
  }
  return at == length;
}

}  // namespace fennik
