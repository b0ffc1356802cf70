// The H.264 views' content as field rows and list rows, without any toolkit: the frame list
// (CView_264List), the frame summary and the syntax tree of a frame's NAL units. The desktop
// pages, `fennik-cli frames` / `show` and the tests share them.
#pragma once

#include <cstdint>

#include "codec/video/C264_Parser.h"
#include "codec/video/VideoViews.h"
#include "view/CFieldTree.h"
#include "view/CListModel.h"

namespace fennik {

class CView_264List : public CView_VideoFrameList {
 public:
  using Column = ListColumn;
  static constexpr Column kColumns[] = {{"No.", 14}, {"ADDRESS", 14}, {"SIZE", 11}, {"FRAME", 7},
                                        {"POC", 7},  {"IPB", 5},      {"IDR", 4},  {"REF", 4},
                                        {"FLD", 4},  {"SPS", 4},      {"PPS", 4}};

  explicit CView_264List(C264_Parser& stream) : CView_VideoFrameList(stream, kColumns) {}

 protected:
  void CodecCells(const FrameEntry& entry, std::vector<std::string>& cells, int& colour) const override;
};

// Texts of the frame flags: picture type ("I", "P", "B", "SI", "SP" or ""), structure ("T",
// "B", "F" or "-").
const char* H264PictureTypeText(uint16_t flags);
const char* H264StructureText(uint16_t flags);
// List colour of a frame: I 26, P 27, B 25, SI and SP 28, IDR 29.
int H264RowColour(uint16_t flags);

// The frame summary under "H.264/AVC VIDEO INFORMATION".
void PrintH264FrameSummary(const H264FrameDetails& details, const FrameEntry& entry, CFieldTree& tree,
                           bool showFrameRate = true);
// The syntax tree: one node per parsed NAL unit, every element with its coded length, bits
// and value.
void PrintH264Syntax(const H264FrameDetails& details, CFieldTree& tree);

// The macroblock view of macroblock `mb` of the picture the decoder finished last:
// "MACRO BLOCK INFORMATION" with its kind, QP, coded block pattern, intra modes and motion.
// `pixelX`/`pixelY` give its position in the picture.
void PrintH264Macroblock(const H264MacroblockRecord& record, uint32_t mb, uint32_t count, uint32_t pixelX,
                         uint32_t pixelY, CFieldTree& tree);

}  // namespace fennik
