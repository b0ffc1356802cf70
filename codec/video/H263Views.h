// The H.263 views' content without any toolkit: the frame list (CView_263List) and the field
// rows of the picture layer of one picture header (the information view's "Picture layer"
// node and `fennik-cli show`) and of one decoded macroblock.
#pragma once

#include <cstdint>

#include "codec/video/C263_Decode.h"
#include "codec/video/C263_Parser.h"
#include "codec/video/H263Syntax.h"
#include "codec/video/VideoViews.h"

namespace fennik {

class CFieldTree;

class CView_263List : public CView_VideoFrameList {
 public:
  static constexpr ListColumn kColumns[] = {{"No.", 14}, {"ADDRESS", 14}, {"SIZE", 11}, {"IPB", 6}, {"tr", 6}};

  explicit CView_263List(C263_Parser& stream) : CView_VideoFrameList(stream, kColumns) {}

 protected:
  void CodecCells(const FrameEntry& entry, std::vector<std::string>& cells, int& colour) const override;
};

// List colour of a picture type: I 26, P 27, B 25, PB 28, EI 26, EP 27.
int H263RowColour(uint16_t flags);

// The picture header's fields in bitstream order, each with its bit count, value and value
// name; `ok` false adds a row saying the header could not be read completely.
void PrintH263PictureHeader(const H263PictureHeader& h, bool ok, CFieldTree& tree);

// The macroblock view's "MACRO BLOCK INFORMATION" part for macroblock `index` of the picture
// decoded last: type, QUANT, MCBPC, CBPY, DQUANT, vectors and each block's dequantised
// coefficients with the scan used.
void PrintH263Macroblock(const H263MacroblockInfo& mb, uint32_t index, uint32_t mbPerRow, CFieldTree& tree);

}  // namespace fennik
