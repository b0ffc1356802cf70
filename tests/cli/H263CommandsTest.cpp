// fennik-cli frames, show and decode for H.263 streams in captures (tests/data/h263/rtp):
// the frame list has one entry per picture with the stream's types and TRs, and the pictures
// decoded from the RTP capture are exactly those decoded from the elementary stream the
// sender wrote.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "codec/video/C263_Decode.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using fennik::test::Cli;

std::string Rtp(const std::string& name) { return std::string(FENNIK_TEST_DATA) + "/h263/rtp/" + name; }

TEST(H263Cli, FrameListShowsEveryPictureWithTypeAndTemporalReference) {
  const auto r = Cli("frames " + Rtp("h263-rfc2190-cif.pcap") + " --stream 1");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> types, trs;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_NE(line.find("IPB"), std::string::npos);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string no, address, size, type, tr;
    fields >> no >> address >> size >> type >> tr;
    types.push_back(type);
    trs.push_back(tr);
  }
  // ffmpeg's h263 encoder with -g 4 at 15 Hz: TR counts 30 Hz ticks.
  EXPECT_EQ(types, (std::vector<std::string>{"I", "P", "P", "P", "I", "P", "P", "P"}));
  EXPECT_EQ(trs, (std::vector<std::string>{"0", "1", "3", "5", "7", "9", "11", "13"}));
  const auto json = Cli("frames " + Rtp("h263-rfc2190-cif.pcap") + " --stream 1 --json");
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"type\": \"I\", \"tr\": 7"), std::string::npos);
}

TEST(H263Cli, ShowPrintsThePictureHeader) {
  const auto r = Cli("show " + Rtp("h263p-rfc4629-qcif.pcap") + " --sdp " + Rtp("h263p-rfc4629-qcif.sdp") +
                     " --stream 1 --frame 1");
  ASSERT_EQ(r.status, 0) << r.err;
  test::ExpectContains(r.out, {"H.263 VIDEO INFORMATION", "Plus PTYPE (PLUSPTYPE)", "P-picture (INTER)",
                           "Optional Advanced INTRA Coding (AIC) mode", "Quantizer_Information (PQUANT)"});
}

TEST(H263Cli, DecodedPicturesEqualTheElementaryStreamsDecode) {
  for (const char* name : {"h263-rfc2190-cif", "h263p-rfc4629-qcif"}) {
    SCOPED_TRACE(name);
    const std::string base = Rtp(name);
    const std::string sdp = std::string(name).find("4629") != std::string::npos ? " --sdp " + base + ".sdp" : "";
    const test::TempPath out("h263.y4m");
    const auto r = Cli("decode " + base + ".pcap" + sdp + " --stream 1 -o " + out.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto y4m = test::ReadFileBytes(out.Path());
    // The elementary stream through the decoder directly.
    const auto es = test::ReadFileBytes(base + ".263");
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < es.size(); ++i)
      if (es[i] == 0 && es[i + 1] == 0 && (es[i + 2] & 0xFC) == 0x80) starts.push_back(i);
    C263_Decode dec;
    size_t pos = std::string(y4m.begin(), y4m.end()).find('\n') + 1;
    for (size_t k = 0; k < starts.size(); ++k) {
      const size_t end = k + 1 < starts.size() ? starts[k + 1] : es.size();
      ASSERT_EQ(dec.DecodePicture(es.data() + starts[k], end - starts[k], static_cast<uint32_t>(k)), 1);
      const CVideoFrame& f = *dec.GetCurrentPicture();
      ASSERT_LT(pos + 6, y4m.size());
      ASSERT_EQ(std::string(y4m.begin() + static_cast<long>(pos), y4m.begin() + static_cast<long>(pos) + 6), "FRAME\n");
      pos += 6;
      bool same = true;
      for (uint32_t y = 0; y < f.Height(); ++y, pos += f.Width())
        same = same && std::equal(f.Y() + y * f.LumaStride(), f.Y() + y * f.LumaStride() + f.Width(), y4m.begin() + static_cast<long>(pos));
      for (const uint8_t* plane : {f.Cb(), f.Cr()})
        for (uint32_t y = 0; y < f.Height() / 2; ++y, pos += f.Width() / 2)
          same = same && std::equal(plane + y * f.ChromaStride(), plane + y * f.ChromaStride() + f.Width() / 2,
                                    y4m.begin() + static_cast<long>(pos));
      EXPECT_TRUE(same) << "picture " << k;
    }
    EXPECT_EQ(pos, y4m.size());
  }
}

}  // namespace
}  // namespace fennik
