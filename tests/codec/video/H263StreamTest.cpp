// C263_Parser on a capture (tests/data/h263/rtp/h263-rfc2190-cif.pcap): random access decodes
// from the last INTRA picture, and the macroblock view lists a decoded macroblock.
#include <gtest/gtest.h>

#include <string>

#include "capture/CRTP_Parser.h"
#include "codec/video/C263_Parser.h"
#include "codec/video/VideoCodecs.h"
#include "view/CFieldTree.h"

namespace fennik {
namespace {

TEST(H263Stream, RandomAccessStartsAtTheLastIntraPictureAndMacroblocksAreShown) {
  RegisterVideoCodecs();
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(std::string(FENNIK_TEST_DATA) + "/h263/rtp/h263-rfc2190-cif.pcap"), OpenResult::kOk);
  capture.Analyse(nullptr);
  auto* stream = dynamic_cast<C263_Parser*>(capture.StreamObject(0));
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->Frames().GetCount(), 8u);
  stream->AttachView(nullptr);
  CVideoFrame picture;
  // Frame 6 after a reset: the walk decodes frames 4 (INTRA), 5 and 6.
  stream->ResetDecoder();
  ASSERT_EQ(stream->GetFramePicture(6, picture), 1);
  EXPECT_EQ(stream->DecodeCalls(), 3u);
  EXPECT_EQ(picture.Width(), 352u);
  // The same frame again decodes nothing.
  ASSERT_EQ(stream->GetFramePicture(6, picture), 1);
  EXPECT_EQ(stream->DecodeCalls(), 3u);
  CFieldTree tree;
  stream->ShowMacroblock(tree, 4, 30);
  const std::string text = RenderText(tree.Rows());
  for (const char* item : {"MACRO BLOCK INFORMATION", "Macro block Position (x,y)", "(8, 1)", "INTRA", "DCT x Quant"})
    EXPECT_NE(text.find(item), std::string::npos) << item;
}

}  // namespace
}  // namespace fennik
