// MPEG-4 Visual RTP streams of the committed captures (tests/data/captures/mp4v/, made by
// scripts/make-mp4v-captures: ffmpeg's mpeg4 encoder sent by its RTP muxer as MP4V-ES and
// recorded by tcpdump): the frame list against ffprobe's picture types of the stream sent,
// random-access flags, the configuration taken from the SDP's config= alone, the header
// views of the frames, and every decoded picture against ffmpeg's decode of the stream sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "codec/video/CM4V_Parser.h"
#include "codec/video/M4VViews.h"
#include "codec/video/VideoCodecs.h"
#include "stream/CAnarizeBuffer.h"
#include "tests/codec/video/H263TestUtil.h"
#include "tests/codec/video/H264TestUtil.h"
#include "view/CFieldTree.h"

namespace fennik {
namespace {

const std::string kDir = std::string(FENNIK_TEST_DATA) + "/captures/mp4v/";

std::string ReadProbeTypes(const std::string& path) {
  std::ifstream in(path);
  std::string types, line;
  while (std::getline(in, line))
    if (!line.empty()) types += line[0];
  return types;
}

class Mpeg4Streams : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterVideoCodecs(); }
  CM4V_Parser* Open(const std::string& name) {
    ErrorList::Instance().Clear();
    capture_ = std::make_unique<CRTP_Parser>();
    if (capture_->Open(kDir + name + ".pcap") != OpenResult::kOk || !capture_->Analyse(nullptr)) return nullptr;
    for (uint32_t s = 0; s < capture_->Streams().size(); ++s)
      if (auto* m = dynamic_cast<CM4V_Parser*>(capture_->StreamObject(s))) return m;
    return nullptr;
  }
  // Picture types in decode order turned into display order: each I/P/S VOP is shown
  // after the B-VOPs that follow it in the stream.
  static std::string DisplayOrderTypes(CM4V_Parser& stream) {
    std::string out;
    char held = 0;
    for (uint64_t i = 0; i < stream.Frames().GetCount(); ++i) {
      uint64_t address;
      FrameEntry e;
      stream.Frames().Get(i, &address, &e);
      const char type = M4vPictureTypeText(M4vFields(e).flags)[0];
      if (type == 'B') {
        out += type;
      } else {
        if (held != 0) out += held;
        held = type;
      }
    }
    if (held != 0) out += held;
    return out;
  }
  static std::string Show(CM4V_Parser& stream, uint32_t index) {
    CFieldTree tree;
    stream.ShowFrameInfo(tree, index);
    stream.ShowFrameDetail(tree, index);
    return RenderText(tree.Rows());
  }
  std::unique_ptr<CRTP_Parser> capture_;
};

TEST_F(Mpeg4Streams, OneFramePerVopWithTheTypesOfTheStreamSent) {
  for (const char* name : {"simple", "asp", "partitioned", "config", "interlaced"}) {
    SCOPED_TRACE(name);
    CM4V_Parser* stream = Open(name);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetCodecType(), kCodecMpeg4Visual);
    EXPECT_EQ(DisplayOrderTypes(*stream), ReadProbeTypes(kDir + name + ".frames"));
    VideoFormat format;
    stream->GetVideoFormat(format);
    EXPECT_EQ(format.width, 176u);
    EXPECT_EQ(format.height, 144u);
    // Frames are I/P/B as coded; references are the I, P (and S) VOPs; every frame's
    // random-access index names an earlier random-access frame.
    for (uint32_t i = 0; i < stream->Frames().GetCount(); ++i) {
      uint64_t address;
      FrameEntry e;
      ASSERT_TRUE(stream->Frames().Get(i, &address, &e));
      const M4vFrameFields f = M4vFields(e);
      EXPECT_TRUE(f.flags & kM4vAlways);
      const uint16_t type = f.flags & kM4vCodingTypeMask;
      EXPECT_EQ((f.flags & kM4vReference) != 0, type == 1 || type == 2 || type == 4) << i;
      ASSERT_LE(f.randomAccessIndex, i);
      FrameEntry ra;
      ASSERT_TRUE(stream->Frames().Get(f.randomAccessIndex, &address, &ra));
      EXPECT_TRUE(M4vFields(ra).flags & kM4vRandomAccess) << i;
      if (f.flags & kM4vRandomAccess) {
        EXPECT_EQ(f.randomAccessIndex, i);
      }
    }
  }
}

TEST_F(Mpeg4Streams, HeadersInBandMakeTheFirstFrameARandomAccessPointFromTheVos) {
  // ffmpeg's muxer writes config= too; the in-band headers still make the random-access
  // points.
  CM4V_Parser* stream = Open("simple");
  ASSERT_NE(stream, nullptr);
  uint32_t size = 0;
  const uint8_t* data = stream->GetFrameData(0, &size, nullptr);
  ASSERT_NE(data, nullptr);
  ASSERT_GE(size, 5u);
  EXPECT_EQ(data[3], 0xB0);  // visual_object_sequence_start_code
  uint64_t address;
  FrameEntry e;
  ASSERT_TRUE(stream->Frames().Get(0, &address, &e));
  EXPECT_EQ(M4vFields(e).flags, kM4vAlways | kM4vReference | kM4vRandomAccess | 1);
}

TEST_F(Mpeg4Streams, ConfigurationOnlyInTheSdpOpensTheStream) {
  CM4V_Parser* stream = Open("config");
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(stream->HasOutOfBandConfiguration());
  EXPECT_TRUE(stream->Configuration().vol.valid);
  // The stream itself has no VOL: frames start at a GOV or VOP, and a P-VOP's details hold
  // the SDP's VOL.
  uint32_t size = 0;
  const uint8_t* data = stream->GetFrameData(0, &size, nullptr);
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(data[3] == 0xB3 || data[3] == 0xB6);
  M4vHeaders h;
  ASSERT_EQ(stream->GetFrameHeader(1, h), 1);
  EXPECT_TRUE(h.vol.valid);
  EXPECT_EQ(h.vop.vop_coding_type, 1u);
}

TEST_F(Mpeg4Streams, FrameDetailsOfAPVopShowTheVolOfItsRandomAccessFrame) {
  CM4V_Parser* stream = Open("simple");
  ASSERT_NE(stream, nullptr);
  const std::string text = Show(*stream, 1);
  EXPECT_NE(text.find("MPEG-4 VISUAL INFORMATION"), std::string::npos);
  EXPECT_NE(text.find("P picture"), std::string::npos);
  EXPECT_NE(text.find("176 x 144"), std::string::npos);
  EXPECT_NE(text.find("Video Object Layer"), std::string::npos);
  EXPECT_NE(text.find("video_object_layer_width"), std::string::npos);
  EXPECT_NE(text.find("predictive-coded (P)"), std::string::npos);
  EXPECT_EQ(text.find("Group of Video Object Plane"), std::string::npos);  // the RA frame's GOV is dropped
  M4vHeaders h;
  ASSERT_EQ(stream->GetFrameHeader(1, h), 1);
  EXPECT_EQ(h.vol.width, 176u);
  EXPECT_EQ(h.vop.vop_fcode_forward, 1u);
  EXPECT_GE(h.vop.vop_quant, 1u);
}

TEST_F(Mpeg4Streams, AdvancedSimpleAndPartitionedToolsAreRead) {
  CM4V_Parser* asp = Open("asp");
  ASSERT_NE(asp, nullptr);
  const M4vVol& vol = asp->Configuration().vol;
  EXPECT_TRUE(vol.quarter_sample);
  EXPECT_TRUE(vol.quant_type);
  EXPECT_FALSE(vol.low_delay);

  CM4V_Parser* partitioned = Open("partitioned");
  ASSERT_NE(partitioned, nullptr);
  EXPECT_TRUE(partitioned->Configuration().vol.data_partitioned);
  EXPECT_FALSE(partitioned->Configuration().vol.resync_marker_disable);
  // Packets of 300 bytes: an I-VOP of the 176x144 picture has several video packets, the
  // last one's header names a macroblock inside the picture.
  M4vHeaders h;
  ASSERT_EQ(partitioned->GetFrameHeader(0, h), 1);
  ASSERT_TRUE(h.packet.valid);
  EXPECT_GE(h.packet.count, 1u);
  EXPECT_GT(h.packet.macroblock_number, 0u);
  EXPECT_LT(h.packet.macroblock_number, 99u);
  EXPECT_NE(Show(*partitioned, 0).find("Video Packet Header"), std::string::npos);
}

// Every picture in display order (the CLI's decode loop: each frame, then the pictures ready)
// is bit-exact with ffmpeg's `-idct simple` decode: our IDCT is that one.
TEST_F(Mpeg4Streams, DecodedPicturesMatchFfmpeg) {
  // asp: B-VOPs, quarter-pel, MPEG quantisation; partitioned: data partitioning; interlaced:
  // field DCT and field prediction (field direct mode too); gmc: libxvid's GMC S-VOPs; edges:
  // 200x120, vectors into the padding of a reference that is not whole macroblocks.
  for (const char* name : {"simple", "config", "tools", "asp", "partitioned", "interlaced", "gmc", "edges"}) {
    SCOPED_TRACE(name);
    CM4V_Parser* stream = Open(name);
    ASSERT_NE(stream, nullptr);
    const std::vector<std::string> expected = test::ReadFrameMd5(kDir + name + ".framemd5");
    ASSERT_FALSE(expected.empty());
    stream->AttachView(nullptr);
    std::vector<std::string> got;
    CVideoFrame frame;
    auto drain = [&] {
      while (stream->GetNextPicture(frame)) got.push_back(test::VisibleMd5(frame, {0, 0, frame.Width(), frame.Height()}));
    };
    // "tools" exercises what it is made for: AC prediction, four vectors, video packets.
    uint32_t acPredicted = 0, fourVectors = 0, packets = 0, direct = 0, fieldDirect = 0, fieldDct = 0, gmc = 0;
    for (uint32_t i = 0; i < stream->Frames().GetCount(); ++i) {
      stream->DecodeFrame(i);
      drain();
      for (uint32_t mb = 0; mb < stream->Decoder().MacroblockCount(); ++mb) {
        const M4vMacroblock* m = stream->Decoder().Macroblock(mb);
        ASSERT_NE(m, nullptr) << "frame " << i << " macroblock " << mb;
        acPredicted += m->ac_pred;
        fourVectors += m->four_mv;
        packets = std::max(packets, m->packet);
        direct += m->type == kM4vMbDirect;
        fieldDirect += m->type == kM4vMbDirect && m->field_prediction;
        fieldDct += m->dct_type;
        gmc += m->mcsel;
      }
    }
    if (std::string(name) == "tools") {
      EXPECT_GT(acPredicted, 0u);
      EXPECT_GT(fourVectors, 0u);
      EXPECT_GT(packets, 0u);
    }
    if (std::string(name) == "asp") {
      EXPECT_GT(direct, 0u);
    }
    if (std::string(name) == "interlaced") {
      EXPECT_GT(fieldDirect, 0u);
      EXPECT_GT(fieldDct, 0u);
    }
    if (std::string(name) == "gmc") {
      EXPECT_GT(gmc, 0u);
    }
    stream->FlushPictures();
    drain();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "picture " << i;
    // Random access (jumps back and forward, into the second group of VOPs) gives the same
    // pictures: in the streams without B-VOPs frame k is picture k (the others: below).
    const bool withB = std::string(name) == "asp" || std::string(name) == "interlaced" ||
                       std::string(name) == "gmc" || std::string(name) == "edges";
    for (const uint32_t k : {37u, 5u, 13u, 14u}) {
      if (withB) break;
      ASSERT_EQ(stream->GetFramePicture(k, frame), 1) << k;
      EXPECT_EQ(test::VisibleMd5(frame, {0, 0, frame.Width(), frame.Height()}), expected[k]) << "frame " << k;
    }
    EXPECT_EQ(stream->Decoder().ErrorCount(), 0u);
    // The macroblock view of a P-VOP's (or B-VOP's) macroblock.
    CFieldTree tree;
    stream->ShowMacroblock(tree, 14, 30);
    const std::string text = RenderText(tree.Rows());
    const uint32_t perRow = stream->Decoder().MacroblocksPerRow();
    const std::string position = "(" + std::to_string(30 % perRow) + ", " + std::to_string(30 / perRow) + ")";
    // Frame 14 of the streams with B-VOPs may be one: its macroblocks have modb, not not_coded.
    uint64_t address14;
    FrameEntry entry14;
    ASSERT_TRUE(stream->Frames().Get(14, &address14, &entry14));
    const bool bVop = (M4vFields(entry14).flags & kM4vCodingTypeMask) == 3;
    for (const std::string item : {"MACRO BLOCK INFORMATION", "Quantiser scale", bVop ? "modb" : "not_coded", "DCT5", "DCT x Quant"})
      EXPECT_NE(text.find(item), std::string::npos) << item;
    EXPECT_NE(text.find(position), std::string::npos) << position;
  }
}

// Random access: a frame reached by a jump (the walk from its random-access point decodes the
// reference frames on the way) is the picture the sequential decode gives. GMC S-VOPs are
// references too: B- and P-VOPs after them are predicted from them.
TEST_F(Mpeg4Streams, JumpsDecodeThePicturesOfTheSequentialDecode) {
  for (const char* name : {"gmc", "asp"}) {
    SCOPED_TRACE(name);
    CM4V_Parser* stream = Open(name);
    ASSERT_NE(stream, nullptr);
    stream->AttachView(nullptr);
    CVideoFrame frame;
    std::vector<std::string> sequential;
    for (uint32_t i = 0; i < stream->Frames().GetCount(); ++i) {
      ASSERT_TRUE(stream->GetFramePicture(i, frame));
      sequential.push_back(test::VisibleMd5(frame, {0, 0, frame.Width(), frame.Height()}));
    }
    for (uint32_t i = stream->Frames().GetCount(); i-- > 0;) {
      ASSERT_TRUE(stream->GetFramePicture(i, frame));
      EXPECT_EQ(test::VisibleMd5(frame, {0, 0, frame.Width(), frame.Height()}), sequential[i]) << "frame " << i;
    }
  }
}

// A short-video-header stream (H.263 baseline pictures carried as MPEG-4 Visual, no VOL):
// ffmpeg's h263 encoder (tests/data/h263/base_sqcif.263), one payload per picture. One frame
// per picture, INTRA pictures random-access points, and the pictures (decoded with the H.263
// decoder's IDCT) within 50 dB of ffmpeg's decode.
TEST(Mpeg4ShortVideoHeader, PicturesAreCutAndDecodedAsH263) {
  const std::vector<uint8_t> data = test::ReadH263File(test::H263Fixture("base_sqcif.263"));
  const std::vector<uint8_t> ref = test::ReadH263File(test::H263Fixture("base_sqcif.ref.yuv"));
  const std::vector<size_t> starts = test::PictureStarts(data, false);
  ASSERT_GT(starts.size(), 2u);
  CM4V_Parser stream;
  ASSERT_EQ(stream.Open(data.data(), data.size(), kCodecMpeg4Visual), 1);
  EXPECT_TRUE(stream.IsShortVideoHeader());
  CAnarizeBuffer buffer(1);
  CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  for (size_t i = 0; i < starts.size(); ++i) {
    const size_t end = i + 1 < starts.size() ? starts[i + 1] : data.size();
    AnarizePacket p{starts[i], 0, 0, static_cast<uint32_t>(i), static_cast<uint32_t>(end - starts[i]), 1};
    buffer.Append(data.data() + starts[i], static_cast<uint32_t>(end - starts[i]), p);
  }
  stream.SetStreamId(1);
  buffer.Consume(stream.Parse(1, descriptor));
  ASSERT_EQ(stream.Frames().GetCount(), starts.size());
  uint64_t address;
  FrameEntry e;
  ASSERT_TRUE(stream.Frames().Get(0, &address, &e));
  EXPECT_EQ(M4vFields(e).flags, kM4vAlways | kM4vReference | kM4vRandomAccess | 1);
  ASSERT_TRUE(stream.Frames().Get(1, &address, &e));
  EXPECT_EQ(M4vFields(e).flags, kM4vAlways | kM4vReference | 2);

  // Frame bytes are served from the stream's offsets.
  struct Source : CAvLoadStream {
    const std::vector<uint8_t>* bytes = nullptr;
    uint32_t Read(uint8_t* out, uint32_t capacity, uint32_t wanted, uint64_t at) override {
      if (at >= bytes->size()) return 0;
      const size_t n = std::min<size_t>(wanted, bytes->size() - at);
      if (n > capacity) return kTooLarge;
      std::memcpy(out, bytes->data() + at, n);
      return static_cast<uint32_t>(n);
    }
  } source;
  source.bytes = &data;
  stream.SetSource(&source);
  stream.AttachView(nullptr);
  VideoFormat format;
  stream.GetVideoFormat(format);
  EXPECT_EQ(format.width, 128u);
  EXPECT_EQ(format.height, 96u);
  const size_t pictureBytes = 128 * 96 * 3 / 2;
  ASSERT_EQ(ref.size(), starts.size() * pictureBytes);
  CVideoFrame frame;
  for (uint32_t i = 0; i < stream.Frames().GetCount(); ++i) {
    stream.DecodeFrame(i);
    ASSERT_TRUE(stream.GetNextPicture(frame)) << i;
    EXPECT_GE(test::MinPlanePsnr(frame, ref.data() + i * pictureBytes), 50.0) << "picture " << i;
  }
  CFieldTree tree;
  stream.ShowFrameInfo(tree, 1);
  stream.ShowFrameDetail(tree, 1);
  const std::string text = RenderText(tree.Rows());
  EXPECT_NE(text.find("short video header"), std::string::npos);
  EXPECT_NE(text.find("Picture Start Code (PSC)"), std::string::npos);
}

}  // namespace
}  // namespace fennik
