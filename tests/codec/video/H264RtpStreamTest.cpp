// H.264 RTP streams of the committed captures (tests/data/captures/h264/, made by
// scripts/make-h264-captures: x264 streams sent by ffmpeg's RTP muxer or by
// scripts/corpus/h264_rtp_send.py, recorded by tcpdump): the frame list against ffprobe's
// view of the stream sent, every decoded picture against ffmpeg's per-picture MD5, random
// access against the full decode, and a capture with lost packets decoded to its end.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "codec/video/C264_Parser.h"
#include "codec/video/H264Views.h"
#include "codec/video/VideoCodecs.h"
#include "tests/codec/video/H264TestUtil.h"

namespace fennik {
namespace {

using test::ReadFrameMd5;
using test::VisibleMd5;

const std::string kDir = std::string(FENNIK_TEST_DATA) + "/captures/h264/";

// ffprobe's pict_type and coded_picture_number per output picture.
std::vector<std::pair<char, int>> ReadProbeFrames(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::pair<char, int>> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 3) continue;
    out.emplace_back(line[0], std::stoi(line.substr(2)));
  }
  return out;
}

class H264RtpStreams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterVideoCodecs(); }
  C264_RtpParser* Open(const std::string& name) {
    ErrorList::Instance().Clear();
    capture_ = std::make_unique<CRTP_Parser>();
    if (capture_->Open(kDir + name) != OpenResult::kOk || !capture_->Analyse(nullptr)) return nullptr;
    for (uint32_t s = 0; s < capture_->Streams().size(); ++s)
      if (auto* h264 = dynamic_cast<C264_RtpParser*>(capture_->StreamObject(s))) {
        h264->AttachView(nullptr);
        return h264;
      }
    return nullptr;
  }
  // Every picture in output order, as MD5 of its visible area, with the stream frame each
  // came from.
  static std::vector<std::pair<uint32_t, std::string>> DecodeAll(C264_Parser& stream) {
    std::vector<std::pair<uint32_t, std::string>> out;
    CVideoFrame frame;
    auto drain = [&] {
      while (stream.GetNextPicture(frame)) out.emplace_back(frame.frame_number, VisibleMd5(frame, stream.Crop()));
    };
    for (uint32_t i = 0; i < stream.Frames().GetCount(); ++i) {
      stream.DecodeFrame(i);
      drain();
    }
    stream.FlushPictures();
    drain();
    return out;
  }
  std::unique_ptr<CRTP_Parser> capture_;
};

TEST_F(H264RtpStreams, EveryPictureEqualsFfmpegsDecodeOfTheStreamSent) {
  // ffmpeg's muxer (single NAL unit, FU-A, STAP-A), parameter sets only in STAP-A, only in
  // sprop-parameter-sets, and field pictures.
  for (const char* name : {"baseline", "main-b-slices", "high-8x8", "stapa", "sprop", "field"}) {
    SCOPED_TRACE(name);
    C264_RtpParser* stream = Open(std::string(name) + ".pcap");
    ASSERT_NE(stream, nullptr);
    const std::vector<std::string> expected = ReadFrameMd5(kDir + name + ".framemd5");
    const auto decoded = DecodeAll(*stream);
    ASSERT_EQ(decoded.size(), expected.size());
    for (size_t i = 0; i < decoded.size(); ++i) EXPECT_EQ(decoded[i].second, expected[i]) << "picture " << i;
    EXPECT_EQ(stream->Decoder().SliceErrors(), 0u);
  }
}

TEST_F(H264RtpStreams, FrameListHasOneEntryPerCodedPictureWithTypeFlagsAndPoc) {
  for (const char* name : {"baseline", "main-b-slices", "high-8x8", "stapa", "sprop"}) {
    SCOPED_TRACE(name);
    C264_RtpParser* stream = Open(std::string(name) + ".pcap");
    ASSERT_NE(stream, nullptr);
    const auto probe = ReadProbeFrames(kDir + name + ".frames");
    ASSERT_EQ(stream->Frames().GetCount(), probe.size());
    std::vector<H264FrameFields> fields(probe.size());
    std::vector<uint32_t> sizes(probe.size());
    for (uint32_t i = 0; i < probe.size(); ++i) {
      FrameEntry e;
      ASSERT_TRUE(stream->Frames().Get(i, nullptr, &e));
      fields[i] = H264Fields(e);
      sizes[i] = e.size;
    }
    // Output order p gives coded picture c: its picture type; x264 counts POC up by 2 per
    // picture in output order (modulo MaxPicOrderCntLsb), from 0 at each IDR picture.
    const int32_t maxLsb = static_cast<int32_t>(stream->Decoder().CurrentSps()->MaxPicOrderCntLsb());
    int32_t lastPoc = 0;
    for (size_t p = 0; p < probe.size(); ++p) {
      const auto [type, coded] = probe[p];
      const H264FrameFields& f = fields[static_cast<size_t>(coded)];
      const char* text = type == 'I' ? "I" : type == 'P' ? "P" : "B";
      EXPECT_STREQ(H264PictureTypeText(f.flags), text) << "output picture " << p;
      const bool idr = (f.flags & kH264Idr) != 0;
      EXPECT_EQ(idr, coded % 25 == 0) << "coded picture " << coded;
      EXPECT_EQ(f.poc, idr ? 0 : (lastPoc + 2) % maxLsb) << "output picture " << p;
      lastPoc = f.poc;
      EXPECT_EQ((f.flags >> kH264StructureShift) & 3, 3);
    }
    for (uint32_t c = 0; c < probe.size(); ++c) {
      const bool idr = (fields[c].flags & kH264Idr) != 0;
      // x264 repeats SPS and PPS before every IDR picture: each one is a random-access point
      // (with the parameter sets only in the SDP, each IDR picture is one too).
      const bool sprop = std::string(name) == "sprop";
      EXPECT_EQ((fields[c].flags & kH264RandomAccess) != 0, idr) << c;
      EXPECT_EQ((fields[c].flags & kH264SpsBefore) != 0, idr && !sprop) << c;
      if (idr) {
        EXPECT_NE(fields[c].flags & kH264Reference, 0);
      }
      EXPECT_GT(sizes[c], 0u);
    }
  }
}

TEST_F(H264RtpStreams, FieldPicturesAreTwoFramesTopThenBottom) {
  C264_RtpParser* stream = Open("field.pcap");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(stream->Frames().GetCount(), 2 * ReadProbeFrames(kDir + "field.frames").size());
  for (uint32_t i = 0; i < stream->Frames().GetCount(); ++i) {
    FrameEntry e;
    ASSERT_TRUE(stream->Frames().Get(i, nullptr, &e));
    const uint16_t structure = (H264Fields(e).flags >> kH264StructureShift) & 3;
    EXPECT_TRUE(structure == 1 || structure == 2) << i;
  }
}

TEST_F(H264RtpStreams, RandomAccessGivesThePictureOfTheFullDecode) {
  for (const char* name : {"main-b-slices", "high-8x8", "sprop"}) {
    SCOPED_TRACE(name);
    C264_RtpParser* stream = Open(std::string(name) + ".pcap");
    ASSERT_NE(stream, nullptr);
    std::map<uint32_t, std::string> byFrame;
    for (const auto& [frameNumber, md5] : DecodeAll(*stream)) byFrame[frameNumber] = md5;
    const uint32_t count = static_cast<uint32_t>(stream->Frames().GetCount());
    // Jumps backwards and forwards across GOPs, then a step: frame K+1 after K costs one decode.
    CVideoFrame frame;
    for (uint32_t k : {37u, 3u, 80u, 24u, 25u, 26u, 99u, 0u, 51u}) {
      if (k >= count) continue;
      ASSERT_TRUE(stream->GetFramePicture(k, frame)) << k;
      EXPECT_EQ(VisibleMd5(frame, stream->Crop()), byFrame[k]) << "frame " << k;
    }
    const uint32_t before = stream->DecodeCalls();
    if (52 < count) {
      ASSERT_TRUE(stream->GetFramePicture(52, frame));
      EXPECT_EQ(stream->DecodeCalls(), before + 1);
      EXPECT_EQ(VisibleMd5(frame, stream->Crop()), byFrame[52]);
    }
  }
}

TEST_F(H264RtpStreams, LostPacketsDecodeToTheEnd) {
  // Every 37th packet of main-b-slices.pcap left out: fragments after a gap are dropped,
  // lost slices and references are concealed by what the decoder has.
  C264_RtpParser* stream = Open("lossy.pcap");
  ASSERT_NE(stream, nullptr);
  EXPECT_GT(stream->Frames().GetCount(), 90u);
  EXPECT_GT(stream->DiscardedFragments(), 0u);
  const auto decoded = DecodeAll(*stream);
  EXPECT_GT(decoded.size(), 90u);
  // The pictures before the first loss are exact.
  const std::vector<std::string> expected = ReadFrameMd5(kDir + "main-b-slices.framemd5");
  EXPECT_EQ(decoded[0].second, expected[0]);
  CVideoFrame frame;
  for (uint32_t k = 0; k < stream->Frames().GetCount(); k += 7) stream->GetFramePicture(k, frame);
}

}  // namespace
}  // namespace fennik

namespace fennik {
namespace {

// The decoder's macroblock records against what is known of the streams: x264's IDR
// pictures are intra throughout, its three slices per picture of main-b-slices number 0..2
// in raster order, B pictures skip and predict from both lists, and the macroblock view
// prints a record's kind and QP.
TEST_F(H264RtpStreams, MacroblockRecordsFollowTheStream) {
  C264_RtpParser* stream = Open("main-b-slices.pcap");
  ASSERT_NE(stream, nullptr);
  CVideoFrame picture;
  ASSERT_TRUE(stream->GetFramePicture(0, picture));
  const MacroblockGeometry g = stream->Geometry();
  ASSERT_EQ(g.count, 99u);  // 11 x 9
  H264MacroblockRecord r;
  int lastSlice = 0;
  for (uint32_t i = 0; i < g.count; ++i) {
    ASSERT_TRUE(stream->Decoder().MacroblockRecord(i, r));
    EXPECT_TRUE(r.decoded && r.intra) << i;
    EXPECT_GE(r.slice, lastSlice);
    lastSlice = r.slice;
    EXPECT_GE(r.qp, 0);
    EXPECT_LE(r.qp, 51);
  }
  EXPECT_EQ(lastSlice, 2);
  EXPECT_FALSE(stream->Decoder().MacroblockRecord(g.count, r));

  // Frame 2 is a B picture (POC 2 between the IDR and the P picture of POC 6).
  ASSERT_TRUE(stream->GetFramePicture(2, picture));
  int skipped = 0, bi = 0;
  for (uint32_t i = 0; i < g.count; ++i) {
    ASSERT_TRUE(stream->Decoder().MacroblockRecord(i, r));
    EXPECT_EQ(r.sliceKind, 1) << i;
    skipped += r.skip ? 1 : 0;
    bi += !r.intra && r.refIdx[0][0] >= 0 && r.refIdx[1][0] >= 0 ? 1 : 0;
    // The first reference of each list is the nearest picture on its side in display order.
    if (r.refIdx[0][0] == 0) {
      EXPECT_LT(r.refPoc[0][0], 2) << i;
    }
    if (r.refIdx[1][0] == 0) {
      EXPECT_GT(r.refPoc[1][0], 2) << i;
    }
    if (r.skip) {
      EXPECT_STREQ(r.kindName, "B_Skip");
    }
  }
  EXPECT_GT(skipped, 0);
  EXPECT_GT(bi, 0);
  ASSERT_TRUE(stream->Decoder().MacroblockRecord(50, r));
  CFieldTree tree;
  PrintH264Macroblock(r, 50, g.count, 96, 64, tree);
  std::string text;
  for (const ViewRow& row : tree.TakeRows()) text += row.text + "\n";
  EXPECT_NE(text.find(r.kindName), std::string::npos) << text;
  EXPECT_NE(text.find("(96, 64)"), std::string::npos) << text;
}

}  // namespace
}  // namespace fennik
