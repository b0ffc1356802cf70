// The CABAC arithmetic decoding engine of H.264 9.3.1.2 and 9.3.3.2: context variables,
// their initialisation from (m, n) and SliceQPY, and the decision, bypass and terminate
// decoding of single bins.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/BitReader.h"
#include "codec/video/h264_cabac_tables.h"

namespace fennik {

// The bins decoded from the registers value, range and count of an engine E, which refills
// them its own way (CabacCore, CabacRegs).
template <typename E>
struct CabacBins {
  // DecodeDecision (9.3.3.2.1) with the context state s (kCabacDecisionTables).
  [[gnu::always_inline]] int Decision(uint8_t& s) { return static_cast<int>(NextState(s) >> 7); }
  // The same as a truth value (non-zero for a bin of 1), for branches.
  [[gnu::always_inline]] unsigned Flag(uint8_t& s) { return NextState(s) & 0x80; }

 private:
  // The decision's new state of s, the bin in bit 7.
  [[gnu::always_inline]] unsigned NextState(uint8_t& s) {
    E& e = static_cast<E&>(*this);
    const size_t state = s;  // pointer-sized, so that the table offsets fold into the addressing
    const uint32_t lps = kCabacDecisionTables.lps[(e.range & 0xC0) * 4 + state];
    e.range -= lps;
    const uint64_t scaled = uint64_t{e.range} << e.count;
    if (e.value >= scaled) {
      e.value -= scaled;
      e.range = lps;
      const unsigned next = kCabacDecisionTables.next[256 + state];
      s = static_cast<uint8_t>(next);
      const int shift = std::countl_zero(e.range) - 23;
      e.range <<= shift;
      e.count -= shift;
      if (e.count < 16) e.Refill();
      return next;
    }
    const unsigned next = kCabacDecisionTables.next[state];
    s = static_cast<uint8_t>(next);
    if (e.range < 256) {
      e.range <<= 1;
      if (--e.count < 16) e.Refill();
    }
    return next;
  }

 public:
  int Bypass() {
    E& e = static_cast<E&>(*this);
    if (--e.count < 16) e.Refill();
    const uint64_t scaled = uint64_t{e.range} << e.count;
    if (e.value >= scaled) {
      e.value -= scaled;
      return 1;
    }
    return 0;
  }
  // A bypass bin as the sign of v (1: negative), without a branch on the bin (signs are
  // random, so a branch would miss half the time).
  int BypassSign(int v) {
    E& e = static_cast<E&>(*this);
    if (--e.count < 16) e.Refill();
    // value - scaled with its sign (value and scaled lie below 2^58) spread over a mask: all
    // ones for a bin of 0, when scaled goes back.
    const uint64_t scaled = uint64_t{e.range} << e.count;
    const uint64_t rest = e.value - scaled;
    const uint64_t positive = static_cast<uint64_t>(static_cast<int64_t>(rest) >> 63);
    e.value = rest + (scaled & positive);
    const int m = static_cast<int>(positive);
    return (-v ^ m) - m;
  }
};

// The engine's registers. codIOffset is kept with `count` further bits of the slice data
// below it (offset == value >> count), so renormalisation only lowers `count` and the data is
// read 32 bits at a time. Hot loops copy the core into a local variable, which the compiler
// keeps in registers (stores to the uint8_t context states could otherwise alias it).
struct CabacCore : CabacBins<CabacCore> {
  uint64_t value = 0;
  uint32_t range = 510;
  int count = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;  // bytes
  size_t pos = 0;   // next byte to load

  // Bits consumed by the decoding process so far, from the start of the data.
  size_t BitsConsumed() const { return pos * 8 - static_cast<size_t>(count); }

  // Appends 32 bits (zeros past the end of the data); count stays below 48, so the value
  // (codIOffset < 2^9 above the count bits) keeps within 64 bits.
  void Refill() {
    value = (value << 32) | LoadWord();
    count += 32;
  }
  // The next 32 bits of the data, big-endian, zeros past its end.
  uint32_t LoadWord() {
    uint32_t word;
    if (pos + 4 <= size) {
      std::memcpy(&word, data + pos, 4);
      if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
    } else {
      word = 0;
      for (size_t i = 0; i < 4; ++i) word = (word << 8) | (pos + i < size ? data[pos + i] : 0u);
    }
    pos += 4;
    return word;
  }
  // LoadWord() out of line, for the hot loops of CabacRegs: a call there keeps the compiler
  // from tracking the position in registers of its own.
  [[gnu::noinline]] uint32_t NextWord() { return LoadWord(); }
  void Renormalise() {
    if (range >= 256) return;
    const int shift = std::countl_zero(range) - 23;
    range <<= shift;
    count -= shift;
    if (count < 16) Refill();
  }
  int Terminate() {
    range -= 2;
    if (value >= (uint64_t{range} << count)) return 1;
    Renormalise();
    return 0;
  }
};

// The registers of a hot loop: value, range and count as local variables the compiler keeps in
// registers, with the read position left in the engine's core (read only to refill), which
// leaves registers for the loop's own data. The core is stale until Save().
struct CabacRegs : CabacBins<CabacRegs> {
  uint64_t value;
  uint32_t range;
  int count;
  CabacCore* core;

  explicit CabacRegs(CabacCore& c) : value(c.value), range(c.range), count(c.count), core(&c) {}
  void Save() const {
    core->value = value;
    core->range = range;
    core->count = count;
  }
  void Refill() {
    value = (value << 32) | core->NextWord();
    count += 32;
  }
};

class CabacEngine {
 public:
  // Initialises the context variables for a slice (9.3.1.1). kind_i: I or SI slice.
  void InitContexts(bool kind_i, int cabac_init_idc, int slice_qp);
  // Initialises the decoding engine at the reader's current (byte-aligned) position.
  void InitEngine(BitReader* br);

  int DecodeDecision(int ctx_idx) { return core_.Decision(state_[ctx_idx]); }
  int DecodeBypass() { return core_.Bypass(); }
  int DecodeTerminate() { return core_.Terminate(); }
  // The reader the engine takes its bits from, moved to the first bit the engine has not
  // consumed (I_PCM samples are read from it directly).
  BitReader* Reader();
  // True once the engine has read past the end of the slice data.
  bool Overrun() const { return !br_->Ok() || core_.BitsConsumed() > core_.size * 8; }

  // For hot loops: the registers (copy them out and back) and the context states.
  CabacCore& Core() { return core_; }
  uint8_t* States() { return state_; }

 private:
  uint8_t state_[kCabacContextCount] = {};  // as kCabacDecisionTables takes them
  CabacCore core_;
  BitReader* br_ = nullptr;
};

}  // namespace fennik
