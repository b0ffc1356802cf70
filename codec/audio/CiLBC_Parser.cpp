#include "codec/audio/CiLBC_Parser.h"

#include <cstdio>
#include <string>

#include "codec/audio/AudioViews.h"
#include "view/NumberFormat.h"

namespace fennik {
namespace {

void Value(CFieldTree& tree, const std::string& name, int bits, int value) {
  tree.Field(1, name, bits, kModeDecimal, colour::kField, static_cast<uint64_t>(value), value);
}

// "name [i]", the rows' numbering of a parameter's instances.
std::string Indexed(const std::string& name, int i) { return name + " [" + std::to_string(i) + "]"; }

// RFC 3951 3.8 field widths (summed over the three classes): codebook indices have 8 bits,
// but the later stages of the first coded sub-block 7.
int CbBits(int subBlock, int stage) { return subBlock == 0 && stage > 0 ? 7 : 8; }
int GainBits(int stage) { return stage == 0 ? 5 : stage == 1 ? 4 : 3; }

void ShowFrame(CFieldTree& tree, const ilbc::FrameParams& p) {
  tree.Title("Internet Low Bit Rate Codec (iLBC)");
  static constexpr int kLsfBits[3] = {6, 7, 7};
  for (int set = 0; set < p.LsfSets(); ++set) {
    for (int k = 0; k < 3; ++k) {
      Value(tree, Indexed("LSF " + std::to_string(set + 1), k + 1), kLsfBits[k], p.lsf[set * 3 + k]);
    }
  }
  Value(tree, "Block Class", p.mode == 30 ? 3 : 2, p.start);
  Value(tree, "Position 22 sample segment", 1, p.stateFirst);
  Value(tree, "Scale Factor State Coder", 6, p.scaleIndex);
  char name[64];
  for (int k = 0; k < p.StateSamples(); ++k) {
    std::snprintf(name, sizeof name, "Quantized Residual State Samples [%2d]", k + 1);
    Value(tree, name, 3, p.state[k]);
  }
  for (int k = 0; k < ilbc::kStages; ++k) Value(tree, Indexed("CB for 22/23 sample block", k + 1), 7, p.extraCb[k]);
  for (int k = 0; k < ilbc::kStages; ++k) Value(tree, Indexed("Gain for 22/23 sample block", k + 1), GainBits(k), p.extraGain[k]);
  for (int i = 0; i < p.SubBlocks(); ++i) {
    const std::string block = "sub-block " + std::to_string(i + 1);
    for (int k = 0; k < ilbc::kStages; ++k) {
      Value(tree, Indexed("Indices for CB sub-blocks " + block, k + 1), CbBits(i, k), p.cb[i][k]);
    }
    for (int k = 0; k < ilbc::kStages; ++k) {
      Value(tree, Indexed("Gains for sub-blocks " + block, k + 1), GainBits(k), p.gain[i][k]);
    }
  }
  Value(tree, "Empty frame indicator", 1, p.emptyFrame);
}

}  // namespace

void CiLBC_Parser::OnMediaFormat() {
  const std::optional<uint32_t> mode = GetMediaFormat().FmtpNumber("mode");
  if (mode && (*mode == 20 || *mode == 30)) SetSignalledMode(static_cast<int>(*mode));
}

int CiLBC_Parser::Open(const uint8_t*, size_t length, int32_t) {
  FollowPayloadSize(length);
  CountSamples(length);
  OpenModuleDecoder();
  return 1;
}

void CiLBC_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("iLBC AUDIO INFORMATION");
  PrintAudioFramePlace(*this, index, tree);
  PrintAudioFormatBlock(Format(), "iLBC", tree, true);
}

void CiLBC_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t) {
  for (const ilbc::FrameParams& p : Records()) ShowFrame(tree, p);
}

}  // namespace fennik
