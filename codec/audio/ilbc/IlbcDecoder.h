// iLBC speech decoder written from RFC 3951 (section 4): 20 ms and 30 ms frames at 8 kHz, the
// pitch enhancer and packet-loss concealment for empty or lost frames. Floating point, one
// instance per stream; independent of the codec module so tests and tools can use it directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/audio/ilbc/IlbcFrame.h"

namespace fennik::ilbc {

class Decoder {
 public:
  static constexpr int kOrder = 10;
  static constexpr int kMaxBlock = 240;

  // `mode` is the frame length in ms (30, anything else means 20). `enhancer` switches the
  // RFC 3951 4.6 pitch enhancer (on by default; it delays the output by 40/80 samples).
  explicit Decoder(int mode = 20, bool enhancer = true);

  // Back to the state of a new decoder (start of a stream, or after a jump).
  void Reset();

  int mode() const { return mode_; }
  int samples() const { return block_; }
  bool enhancer() const { return enhancer_; }

  // Decodes one frame: `size` must hold FrameBytes(mode) bytes (extra bytes are ignored).
  // A shorter frame, a frame with the empty-frame bit or an impossible block class is
  // concealed from the past signal instead. Writes samples() samples and returns that count.
  int Decode(const uint8_t* data, size_t size, int16_t* out);
  // Conceals one lost frame (RFC 3951 4.5); writes samples() samples and returns the count.
  int Conceal(int16_t* out) { return Decode(nullptr, 0, out); }

 private:
  void DecodeLpc(const FrameParams& p, float* syntDenum);
  void DecodeResidual(const FrameParams& p, const float* syntDenum, float* residual) const;
  void Plc(bool lost, const float* residual, const float* lpc, float* plcResidual, float* plcLpc);
  int Enhance(const float* in, float* out);
  void Synthesize(float* data, const float* a, int length);
  void HighPassOut(const float* in, int16_t* out);

  int mode_;
  bool enhancer_;
  int block_ = 160;     // samples per frame
  int subBlocks_ = 4;   // 40-sample sub-frames per frame
  int stateShort_ = 57;

  float lsfOld_[kOrder];
  float syntMem_[kOrder];
  float oldSyntDenum_[6 * (kOrder + 1)];
  int lastLag_;
  // Concealment state.
  int consecutiveLost_;
  int prevLost_;
  int prevLag_;
  float prevPeriodicity_;
  float prevLpc_[kOrder + 1];
  float prevResidual_[kMaxBlock];
  uint32_t seed_;
  // Enhancer state: 8 blocks of 80 residual samples and their pitch periods.
  float enhBuf_[640];
  float enhPeriod_[8];
  bool prevEnhLost_;
  float hpMem_[4];
};

}  // namespace fennik::ilbc
