// Variable-length code readers of the MPEG-4 Visual Advanced Simple tools: MCBPC and CBPY for
// the macroblock layers read outside the core decoder (interlaced, S-VOP and data-partitioned
// macroblocks) and the reversible VLCs of ISO/IEC 14496-2 Table B-23.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/BitReader.h"
#include "codec/video/h263_tables.h"

namespace fennik {

// A prefix code read through one table look-up over its longest code.
class M4vCodeTable {
 public:
  // codes[i].bits as printed ("0011"), codes[i].value the value read.
  void Build(const H263Code* codes, size_t count);
  // The value of the code at the reader's position, consumed; false (nothing consumed) when no
  // code matches.
  bool Read(BitReader& br, int& value) const;

 private:
  int bits_ = 0;
  std::vector<int32_t> table_;  // value << 8 | length, 0 length: no code
};

// One reversible TCOEF code (Table B-23) without its sign bit.
struct M4vRvlcCode {
  const char* bits;
  uint8_t last;
  uint8_t run;
  uint8_t level;
};

struct M4vVlcTables {
  M4vCodeTable mcbpcIntra, mcbpcInter, cbpy;
  // Reversible VLCs: value = last << 16 | run << 8 | level; -1 the escape.
  M4vCodeTable rvlcIntra, rvlcInter;
};

const M4vVlcTables& M4vVlc();

// Table B-23: the intra and inter reversible VLCs (169 codes each, escape "0000" apart).
extern const M4vRvlcCode kM4vRvlcIntra[];
extern const size_t kM4vRvlcIntraCount;
extern const M4vRvlcCode kM4vRvlcInter[];
extern const size_t kM4vRvlcInterCount;

}  // namespace fennik
