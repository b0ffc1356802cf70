// Field rows of the H.263 views: the picture layer of one picture header (the information
// view's "Picture layer" node and `fennik-cli show`) and one decoded macroblock.
#pragma once

#include <cstdint>

#include "codec/video/C263_Decode.h"
#include "codec/video/H263Syntax.h"

namespace fennik {

class CFieldTree;

// The picture header's fields in bitstream order, each with its bit count, value and value
// name; `ok` false adds a row saying the header could not be read completely.
void PrintH263PictureHeader(const H263PictureHeader& h, bool ok, CFieldTree& tree);

// The macroblock view's "MACRO BLOCK INFORMATION" part for macroblock `index` of the picture
// decoded last: type, QUANT, MCBPC, CBPY, DQUANT, vectors and each block's dequantised
// coefficients with the scan used.
void PrintH263Macroblock(const H263MacroblockInfo& mb, uint32_t index, uint32_t mbPerRow, CFieldTree& tree);

}  // namespace fennik
