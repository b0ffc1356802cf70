// The MPEG-4 Visual views' content as field rows and list rows, without any toolkit: the
// frame list (CView_Mp4vList), the frame summary and the header nodes of a frame. The
// desktop pages, `fennik-cli frames` / `show` and the tests share them.
#pragma once

#include <cstdint>

#include "codec/video/CM4V_Parser.h"
#include "codec/video/VideoViews.h"
#include "view/CFieldTree.h"
#include "view/CListModel.h"

namespace fennik {

class CView_Mp4vList : public CView_VideoFrameList {
 public:
  using Column = ListColumn;
  static constexpr Column kColumns[] = {{"No.", 14}, {"ADDRESS", 14}, {"SIZE", 11}, {"IPB", 5}};

  explicit CView_Mp4vList(CM4V_Parser& stream) : CView_VideoFrameList(stream, kColumns) {}

 protected:
  void CodecCells(const FrameEntry& entry, std::vector<std::string>& cells, int& colour) const override;
};

// "I", "P", "B", "S" from the frame flags ("" for none).
const char* M4vPictureTypeText(uint16_t flags);
// List colour: I 26, P 27, B 25, S 28.
int M4vRowColour(uint16_t flags);
// "Simple Profile/Level 1" etc. for profile_and_level_indication; "" when unknown.
const char* M4vProfileLevelName(uint32_t value);

// The frame summary under "MPEG-4 VISUAL INFORMATION".
void PrintM4vFrameSummary(const M4vHeaders& headers, CFieldTree& tree);
// The header nodes: every element read with its coded length, bits and value.
void PrintM4vSyntax(const M4vHeaders& headers, CFieldTree& tree);

// The macroblock view's "MACRO BLOCK INFORMATION" and "MOTION VECTOR" parts for macroblock
// `index` of the VOP decoded last (`mb` null: not decoded): type, quantiser, the macroblock's
// syntax values for its VOP type, vectors and each block's dequantised coefficients with the
// scan used.
void PrintM4vMacroblock(const M4vMacroblock* mb, uint32_t index, uint32_t mbPerRow, const M4vVol& vol,
                        const M4vVop& vop, CFieldTree& tree);

}  // namespace fennik
