// The CABAC arithmetic decoding engine of H.264 9.3.1.2 and 9.3.3.2: context variables,
// their initialisation from (m, n) and SliceQPY, and the decision, bypass and terminate
// decoding of single bins. Bits come from the shared BitReader.
#pragma once

#include <bit>
#include <cstdint>

#include "base/BitReader.h"
#include "codec/video/h264_cabac_tables.h"

namespace fennik {

class CabacEngine {
 public:
  // Initialises the context variables for a slice (9.3.1.1). kind_i: I or SI slice.
  void InitContexts(bool kind_i, int cabac_init_idc, int slice_qp);
  // Initialises the decoding engine at the reader's current (byte-aligned) position.
  void InitEngine(BitReader* br);

  int DecodeDecision(int ctx_idx) {
    uint8_t& s = state_[ctx_idx];
    const int p = s >> 1;
    int mps = s & 1;
    const uint32_t lps = kCabacRangeTabLps[p][(range_ >> 6) & 3];
    range_ -= lps;
    int bin;
    if (offset_ >= range_) {
      bin = !mps;
      offset_ -= range_;
      range_ = lps;
      if (p == 0) mps = 1 - mps;
      s = static_cast<uint8_t>((kCabacTransIdxLps[p] << 1) | mps);
    } else {
      bin = mps;
      s = static_cast<uint8_t>((kCabacTransIdxMps[p] << 1) | mps);
    }
    Renormalise();
    return bin;
  }
  int DecodeBypass() {
    offset_ = (offset_ << 1) | br_->ReadBit();
    if (offset_ >= range_) {
      offset_ -= range_;
      return 1;
    }
    return 0;
  }
  int DecodeTerminate() {
    range_ -= 2;
    if (offset_ >= range_) return 1;
    Renormalise();
    return 0;
  }
  // The reader the engine takes its bits from (I_PCM samples are read from it directly).
  BitReader* Reader() { return br_; }
  // True once the engine has read past the end of the slice data.
  bool Overrun() const { return !br_->Ok(); }

 private:
  // RenormD (9.3.3.2.2) in one step: the shift that brings range_ back to 9 bits, and as
  // many bits read at once.
  void Renormalise() {
    if (range_ >= 256) return;
    const int shift = std::countl_zero(range_) - 23;
    range_ <<= shift;
    offset_ = (offset_ << shift) | br_->Read(shift);
  }

  uint8_t state_[kCabacContextCount] = {};  // pStateIdx << 1 | valMPS
  uint32_t range_ = 510;
  uint32_t offset_ = 0;
  BitReader* br_ = nullptr;
};

}  // namespace fennik
