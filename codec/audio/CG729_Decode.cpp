#include "codec/audio/CG729_Decode.h"

#include "base/BitReader.h"

namespace fennik {
namespace {
constexpr size_t kFrameBytes = 10;
constexpr size_t kSidBytes = 2;
constexpr uint32_t kFrameSamples = 80;
}  // namespace

const G729Parameter kG729SpeechParameters[G729FrameRecord::kSpeechParameters] = {
    {"Switched MA predictor of LSP quantizer(L0)", 1},
    {"First stage vector of quantizer(L1)", 7},
    {"Second stage lower vector of LSP quantizer(L2)", 5},
    {"Second stage higher vector of LSP quantizer(L3)", 5},
    {"Pitch delay first subframe(P1)", 8},
    {"Parity bit for pitch delay(P0)", 1},
    {"Fixed codebook first subframe(C1)", 13},
    {"Signs of fixed-codebook pulses 1st subframe(S1)", 4},
    {"Gain codebook (stage 1) 1st subframe(GA1)", 3},
    {"Gain codebook (stage 2) 1st subframe(GB1)", 4},
    {"Pitch delay second subframe(P2)", 5},
    {"Fixed codebook 2nd subframe(C2)", 13},
    {"Signs of fixed-codebook pulses 2nd subframe(S2)", 4},
    {"Gain codebook (stage 1) 2nd subframe(GA2)", 3},
    {"Gain codebook (stage 2) 2nd subframe(GB2)", 4},
};

// G.729 Annex B Table B.2; the 16th bit of the two octets is unused (RFC 3551 4.5.6).
const G729Parameter kG729SidParameters[G729FrameRecord::kSidParameters] = {
    {"Switched predictor index of LSF quantizer", 1},
    {"First stage vector of LSF quantizer", 5},
    {"Second stage vector of LSF quantizer", 4},
    {"Gain (Energy)", 5},
};

size_t UnpackG729Payload(const uint8_t* payload, size_t length, bool annexB, G729FrameRecord* out,
                         size_t maxFrames) {
  if (payload == nullptr) return 0;
  size_t count = 0;
  size_t at = 0;
  for (; at + kFrameBytes <= length && count < maxFrames; at += kFrameBytes) {
    BitReader bits(payload + at, kFrameBytes);
    G729FrameRecord& r = out[count++];
    r.sid = false;
    for (int i = 0; i < G729FrameRecord::kSpeechParameters; ++i) {
      r.values[i] = static_cast<uint16_t>(bits.Read(kG729SpeechParameters[i].bits));
    }
  }
  const size_t left = length - at;
  if (annexB && left == kSidBytes && count < maxFrames && (length % kFrameBytes) == kSidBytes) {
    BitReader bits(payload + at, kSidBytes);
    G729FrameRecord& r = out[count++];
    r = G729FrameRecord{};
    r.sid = true;
    for (int i = 0; i < G729FrameRecord::kSidParameters; ++i) {
      r.values[i] = static_cast<uint16_t>(bits.Read(kG729SidParameters[i].bits));
    }
  }
  return count;
}

CG729_Decode::CG729_Decode() : CModuleDecoder("[G729]", CodecModule::kG729) {
  format_.codecType = kCodecType;
  format_.channels = 1;
  format_.sampleRate = 8000;
  format_.bitsPerSample = 16;
  format_.bitRate = 8000;
  format_.frameSize = 2048;
  SetFrameSamples(160);
}

uint32_t CG729_Decode::PayloadSamples(size_t length) const {
  const size_t frames = length / kFrameBytes + ((length % kFrameBytes) == kSidBytes ? 1 : 0);
  return static_cast<uint32_t>(frames * kFrameSamples);
}

size_t CG729_Decode::Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes) {
  BeginFrame(in, length, out);
  if (in != nullptr) {
    records_.resize(kMaxShownFrames);
    records_.resize(UnpackG729Payload(in, length, annexB_, records_.data(), kMaxShownFrames));
  }
  return ModuleDecode(in, length, out, capacityBytes);
}

}  // namespace fennik
