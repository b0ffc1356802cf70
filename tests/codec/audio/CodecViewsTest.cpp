// The sample tables of the G.726, G.722, DVI4 and L16 information views on hand-made
// frames: the 1023-row limit, the channel layout of L16 and the tables' absence after an
// empty frame. (Rows of real frames are checked through fennik-cli show in
// tests/cli/CodecStreamCommandsTest.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/audio/CADPCM_Parser.h"
#include "codec/audio/CG722_Parser.h"
#include "codec/audio/CG726_Parser.h"
#include "codec/audio/CPCM_Parser.h"
#include "view/CFieldTree.h"

namespace fennik {
namespace {

std::vector<std::string> Lines(CAudio_Stream& stream) {
  CFieldTree tree;
  stream.ShowFrameInfo(tree, 0);
  const std::string text = RenderText(tree.Rows());
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// The table rows: the lines after the header line that starts with "   No.".
std::vector<std::string> TableRows(const std::vector<std::string>& lines) {
  std::vector<std::string> rows;
  bool in = false;
  for (const std::string& line : lines) {
    if (in) rows.push_back(line);
    if (line.rfind("   No.", 0) == 0) in = true;
  }
  return rows;
}

TEST(CodecViews, G726TableStopsAt1023RowsTheLastStandingForTheLastSample) {
  // 300 bytes of 2-bit code words: 1200 samples. Octet k holds code words 4k .. 4k + 3,
  // least significant bits first; make the last code word (top bits of the last octet) 10b
  // and every other one 00b.
  CG726_Parser g726(false);
  g726.SetAudioFormat(8000, 2, 1, 0, 16000);
  ASSERT_EQ(g726.CodeBits(), 2);
  std::vector<uint8_t> frame(300, 0x00);
  frame[299] = 0x80;
  std::vector<int16_t> pcm(2048);
  ASSERT_EQ(g726.Decode(frame.data(), frame.size(), pcm.data(), pcm.size() * 2), 2400u);
  ASSERT_EQ(g726.Records().size(), 1200u);
  const std::vector<std::string> lines = Lines(g726);
  EXPECT_EQ(lines.front(), "  G.726 AUDIO INFORMATION");
  const std::vector<std::string> rows = TableRows(lines);
  ASSERT_EQ(rows.size(), 1023u);
  EXPECT_EQ(rows[0].substr(0, 13), "      1  00b ");
  EXPECT_EQ(rows[1021].substr(0, 13), "   1022  00b ");
  EXPECT_EQ(rows[1022].substr(0, 13), "   1023  10b ");
  char output[8];
  std::snprintf(output, sizeof output, "%6d", pcm[1199]);
  EXPECT_EQ(rows[1022].substr(18, 6), output);
  EXPECT_NE(pcm[1199], pcm[1198]);  // the last code word does show in the output
}

TEST(CodecViews, EmptyFramesShowNoTable) {
  CG722_Parser g722;
  CADPCM_Parser adpcm;
  CPCM_Parser lpcm;
  int16_t out[16];
  const uint8_t bytes[8] = {0x12, 0x34, 200, 0, 0x77, 0x88, 0x99, 0xAA};
  EXPECT_EQ(g722.Decode(bytes, 0, out, sizeof out), 0u);
  EXPECT_EQ(adpcm.Decode(bytes, 4, out, sizeof out), 0u);  // a header and no codes
  EXPECT_EQ(lpcm.Decode(bytes, 0, out, sizeof out), 0u);
  for (CAudio_Stream* stream : {static_cast<CAudio_Stream*>(&g722), static_cast<CAudio_Stream*>(&adpcm),
                                static_cast<CAudio_Stream*>(&lpcm)}) {
    const std::vector<std::string> lines = Lines(*stream);
    EXPECT_TRUE(TableRows(lines).empty()) << lines.front();
    EXPECT_EQ(lines.back().rfind("  Timecode", 0), 0u) << lines.front();
  }
}

TEST(CodecViews, LpcmTableFollowsTheChannelCount) {
  CPCM_Parser lpcm;
  const uint8_t bytes[] = {0x7F, 0xFF, 0x80, 0x00, 0x00, 0x01, 0xFF, 0xFF};  // big-endian
  int16_t out[8];
  ASSERT_EQ(lpcm.Decode(bytes, sizeof bytes, out, sizeof out), 8u);  // stereo by default
  std::vector<std::string> rows = TableRows(Lines(lpcm));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "      1   32767   -32768");
  EXPECT_EQ(rows[1], "      2       1       -1");

  lpcm.SetAudioFormat(8000, 16, 1, 0, 0);
  ASSERT_EQ(lpcm.Decode(bytes, 5, out, sizeof out), 4u);  // odd length: last byte dropped
  const std::vector<std::string> lines = Lines(lpcm);
  rows = TableRows(lines);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1], "      2  -32768");
  bool monoHeader = false;
  for (const std::string& line : lines) monoHeader |= line == "   No.   MONO";
  EXPECT_TRUE(monoHeader);
}

}  // namespace
}  // namespace fennik
