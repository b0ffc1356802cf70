// Huffman code tables of MPEG audio Layer III (ISO/IEC 11172-3 Table B.7).
#pragma once

#include <cstdint>

namespace fennik {

struct MpaHuffmanCode {
  uint16_t code;    // hcod, right-aligned
  uint8_t length;   // hlen
};

// One big_values table: size × size codes for (x, y) in row order, and its linbits.
// A null code list with size 1 is table 0 (all values zero); size 0 marks the unused
// table numbers 4 and 14.
struct MpaHuffmanTable {
  const MpaHuffmanCode* codes;
  uint8_t size;
  uint8_t linbits;
};

// Indexed by table_select (0..31).
extern const MpaHuffmanTable kMpaBigValueTables[32];
// count1 table A (table 32); table B (33) is the 4-bit code 15 - vwxy.
extern const MpaHuffmanTable kMpaCount1TableA;

}  // namespace fennik
