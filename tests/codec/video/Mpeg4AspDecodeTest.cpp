// The Advanced Simple tools of the MPEG-4 Visual decoder on the committed captures
// (tests/data/captures/mp4v/, scripts/make-mp4v-captures): every picture of each stream, in
// display order, decoded as the CLI and the video page drive the stream, must equal ffmpeg's
// decode (`-idct simple`, the same IDCT) byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "codec/video/CM4V_Parser.h"
#include "codec/video/CVideoFrame.h"
#include "codec/video/VideoCodecs.h"
#include "tests/codec/video/Md5.h"

namespace fennik {
namespace {

const std::string kDir = std::string(FENNIK_TEST_DATA) + "/captures/mp4v/";

std::vector<std::string> ReferenceDigests(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') out.push_back(line.substr(line.rfind(' ') + 1));
  return out;
}

std::string PictureDigest(const CVideoFrame& f) {
  test::Md5 md5;
  const uint32_t cw = (f.Width() + 1) / 2, ch = (f.Height() + 1) / 2;
  for (uint32_t y = 0; y < f.Height(); ++y) md5.Update(f.Y() + size_t{y} * static_cast<uint32_t>(f.LumaStride()), f.Width());
  for (const uint8_t* plane : {f.Cb(), f.Cr()})
    for (uint32_t y = 0; y < ch; ++y) md5.Update(plane + size_t{y} * static_cast<uint32_t>(f.ChromaStride()), cw);
  return md5.HexDigest();
}

class Mpeg4AspDecode : public ::testing::TestWithParam<const char*> {
 protected:
  static void SetUpTestSuite() { RegisterVideoCodecs(); }
};

TEST_P(Mpeg4AspDecode, EveryPictureEqualsFfmpegs) {
  const std::string name = GetParam();
  ErrorList::Instance().Clear();
  CRTP_Parser capture;
  ASSERT_EQ(capture.Open(kDir + name + ".pcap"), OpenResult::kOk);
  ASSERT_TRUE(capture.Analyse(nullptr));
  CM4V_Parser* stream = nullptr;
  for (uint32_t s = 0; s < capture.Streams().size() && stream == nullptr; ++s)
    stream = dynamic_cast<CM4V_Parser*>(capture.StreamObject(s));
  ASSERT_NE(stream, nullptr);
  const std::vector<std::string> reference = ReferenceDigests(kDir + name + ".framemd5");
  ASSERT_FALSE(reference.empty());
  std::vector<std::string> decoded;
  CVideoFrame picture;
  auto drain = [&] {
    while (stream->GetNextPicture(picture)) decoded.push_back(PictureDigest(picture));
  };
  for (uint64_t i = 0; i < stream->Frames().GetCount(); ++i) {
    stream->DecodeFrame(static_cast<uint32_t>(i));
    drain();
  }
  stream->FlushPictures();
  drain();
  ASSERT_EQ(decoded.size(), reference.size());
  for (size_t i = 0; i < decoded.size(); ++i) EXPECT_EQ(decoded[i], reference[i]) << name << " picture " << i;
}

// asp: B-VOPs (direct mode included), quarter-pel, MPEG quantisation; partitioned: data
// partitioning with video packets; interlaced: field DCT, field prediction, field direct mode;
// gmc: libxvid's S-VOPs with three warping points, quarter-pel and B-VOPs.
INSTANTIATE_TEST_SUITE_P(Captures, Mpeg4AspDecode, ::testing::Values("asp", "partitioned", "interlaced", "gmc"));

}  // namespace
}  // namespace fennik
