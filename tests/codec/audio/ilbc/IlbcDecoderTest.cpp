// The RFC 3951 decoder core against the corpus in tests/data/ilbc (scripts/make-ilbc-corpus:
// speech from flite, encoded by scripts/corpus/ilbc_encode.cpp, decoded by ffmpeg): bit
// unpacking, decoding against ffmpeg's fixed-point decoder, the enhancer, and concealment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/audio/ilbc/IlbcDecoder.h"
#include "codec/audio/ilbc/IlbcFrame.h"
#include "tests/support/TestSupport.h"

namespace fennik::ilbc {
namespace {

const std::string kData = std::string(FENNIK_TEST_DATA) + "/ilbc/";

std::vector<uint8_t> Load(const std::string& name) { return fennik::test::ReadFileBytes(kData + name); }

std::vector<int16_t> LoadPcm(const std::string& name) { return fennik::test::Pcm16(Load(name)); }

// The frames of an RFC 3952 storage file ("#!iLBC20\n" or "#!iLBC30\n", then the frames):
// by default our corpus encoder's, with `prefix` "rfc3951-port" those of the RFC 3951 port.
std::vector<std::vector<uint8_t>> Frames(int mode, const std::string& prefix = "ilbc") {
  const std::vector<uint8_t> file = Load(prefix + std::to_string(mode) + ".lbc");
  const std::string magic = "#!iLBC" + std::to_string(mode) + "\n";
  EXPECT_GE(file.size(), magic.size());
  EXPECT_EQ(std::string(file.begin(), file.begin() + static_cast<long>(magic.size())), magic);
  std::vector<std::vector<uint8_t>> frames;
  const size_t bytes = static_cast<size_t>(FrameBytes(mode));
  for (size_t at = magic.size(); at + bytes <= file.size(); at += bytes) {
    frames.emplace_back(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + bytes));
  }
  return frames;
}

// Decodes the frames of a file; the frames numbered in `lost` are concealed instead.
std::vector<int16_t> DecodeAll(int mode, bool enhancer, const std::string& prefix = "ilbc",
                               const std::vector<size_t>& lost = {}) {
  Decoder decoder(mode, enhancer);
  std::vector<int16_t> out;
  int16_t pcm[240];
  const auto frames = Frames(mode, prefix);
  for (size_t i = 0; i < frames.size(); ++i) {
    const bool isLost = std::find(lost.begin(), lost.end(), i) != lost.end();
    const int n = isLost ? decoder.Conceal(pcm) : decoder.Decode(frames[i].data(), frames[i].size(), pcm);
    out.insert(out.end(), pcm, pcm + n);
  }
  return out;
}

int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  int worst = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

double SnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, size_t from, int shift = 0) {
  double signal = 0, noise = 0;
  for (size_t i = from; i < ref.size() && i + static_cast<size_t>(shift) < test.size(); ++i) {
    const double r = ref[i];
    const double d = r - test[i + static_cast<size_t>(shift)];
    signal += r * r;
    noise += d * d;
  }
  return noise == 0 ? 999 : 10 * std::log10(signal / noise);
}

TEST(IlbcFrame, UnpackAndPackAreInverseOnEveryCorpusFrame) {
  for (int mode : {20, 30}) {
    const auto frames = Frames(mode);
    ASSERT_GT(frames.size(), 100u);
    for (const auto& frame : frames) {
      FrameParams p;
      ASSERT_TRUE(UnpackFrame(frame.data(), frame.size(), mode, p));
      EXPECT_TRUE(p.StartValid());
      EXPECT_EQ(p.emptyFrame, 0);
      uint8_t packed[kFrameBytes30];
      PackFrame(p, packed);
      ASSERT_EQ(0, std::memcmp(packed, frame.data(), frame.size())) << "mode " << mode;
    }
  }
}

TEST(IlbcFrame, FieldsSitWhereRfc3951PutsThem) {
  // 20 ms: class 1 starts with LSF indices of 6, 7, 7 bits, the block class (2), the
  // segment position (1) and the scale (6); the frame's last bit is the empty-frame flag.
  uint8_t frame[kFrameBytes20] = {};
  frame[0] = 0x84;  // bits 0-7:   100001 00   LSF 1 [1] = 33, LSF 1 [2] starts
  frame[1] = 0x00;  // bits 8-15:  00000 000   LSF 1 [2] = 0, LSF 1 [3] starts
  frame[2] = 0x1E;  // bits 16-23: 0001 11 1 0 LSF 1 [3] = 1, block class 3, position 1, scale
  frame[37] = 0x01;
  FrameParams p;
  ASSERT_TRUE(UnpackFrame(frame, sizeof frame, 20, p));
  EXPECT_EQ(p.lsf[0], 33);
  EXPECT_EQ(p.lsf[1], 0);
  EXPECT_EQ(p.lsf[2], 1);      // bits 14-20: 0000001
  EXPECT_EQ(p.start, 3);       // bits 21-22: 11
  EXPECT_EQ(p.stateFirst, 1);  // bit 23
  EXPECT_EQ(p.emptyFrame, 1);
  EXPECT_FALSE(UnpackFrame(frame, sizeof frame - 1, 20, p));
  EXPECT_FALSE(UnpackFrame(frame, sizeof frame, 30, p));  // 30 ms needs 50 bytes
}

// ffmpeg's decoder works without the enhancer; ours without it must agree to within the
// precision of ffmpeg's fixed-point arithmetic. Its first two frames are left out: ffmpeg
// leaves the previous LSFs at zero instead of the mean LSF vector that RFC 3951 starts the
// decoder from, so its first frames interpolate towards a broken filter and put out
// full-scale oscillation.
TEST(IlbcDecoder, MatchesFfmpegWithoutTheEnhancer) {
  for (int mode : {20, 30}) {
    const std::vector<int16_t> ffmpeg = LoadPcm("ilbc" + std::to_string(mode) + ".ffmpeg.s16le");
    const std::vector<int16_t> ours = DecodeAll(mode, false);
    ASSERT_EQ(ours.size(), ffmpeg.size());
    const size_t skip = 2 * static_cast<size_t>(FrameSamples(mode));
    EXPECT_GE(SnrDb(ffmpeg, ours, skip), 30.0) << "mode " << mode;
  }
}

// Frames of the RFC 3951 reference encoder (through a Free Pascal port of the RFC's code),
// decoded by that port's floating-point decoder with the enhancer: the same algorithm, so
// the outputs agree to the last bit but for rounding (the reference truncates to 16 bits,
// we round). ffmpeg on the same frames: as on our encoder's frames.
TEST(IlbcDecoder, MatchesTheRfcReferenceDecoderWithTheEnhancer) {
  for (int mode : {20, 30}) {
    const std::string name = "rfc3951-port" + std::to_string(mode);
    const std::vector<int16_t> reference = LoadPcm(name + ".decoded.s16le");
    const std::vector<int16_t> ours = DecodeAll(mode, true, "rfc3951-port");
    ASSERT_EQ(ours.size(), reference.size());
    EXPECT_LE(MaxDifference(reference, ours), 1) << mode;
    EXPECT_GE(SnrDb(reference, ours, 0), 65.0) << mode;
    const std::vector<int16_t> ffmpeg = LoadPcm(name + ".ffmpeg.s16le");
    EXPECT_GE(SnrDb(ffmpeg, DecodeAll(mode, false, "rfc3951-port"), 2 * static_cast<size_t>(FrameSamples(mode))), 30.0);
  }
}

// Lost frames: the reference conceals them (RFC 3951 4.5) and blends the concealment into
// the next received frame in the enhancer (4.6); losses of up to 40 ms, where our fade-out
// of longer losses does not yet act, come out the same.
TEST(IlbcDecoder, ConcealsLostFramesLikeTheRfcReferenceDecoder) {
  for (int mode : {20, 30}) {
    const std::string name = "rfc3951-port" + std::to_string(mode);
    const std::vector<int16_t> reference = LoadPcm(name + ".lost.decoded.s16le");
    const std::vector<size_t> lost = mode == 20 ? std::vector<size_t>{30, 31, 60} : std::vector<size_t>{25, 45};
    const std::vector<int16_t> ours = DecodeAll(mode, true, "rfc3951-port", lost);
    ASSERT_EQ(ours.size(), reference.size());
    EXPECT_LE(MaxDifference(reference, ours), 1) << mode;
    // And the loss did change the output (the frames were not just decoded).
    EXPECT_GT(MaxDifference(LoadPcm(name + ".decoded.s16le"), ours), 100) << mode;
  }
}

TEST(IlbcDecoder, EmptyFlagBadClassAndShortFramesAreConcealed) {
  for (int mode : {20, 30}) {
    const auto frames = Frames(mode);
    const int n = FrameSamples(mode);
    auto run = [&](auto lastFrame) {
      Decoder d(mode);
      int16_t pcm[240];
      for (size_t i = 0; i < 20; ++i) d.Decode(frames[i].data(), frames[i].size(), pcm);
      lastFrame(d, pcm);
      return std::vector<int16_t>(pcm, pcm + n);
    };
    const auto concealed = run([](Decoder& d, int16_t* pcm) { d.Conceal(pcm); });
    std::vector<uint8_t> flagged = frames[20];
    flagged.back() |= 1;
    EXPECT_EQ(concealed, run([&](Decoder& d, int16_t* pcm) { d.Decode(flagged.data(), flagged.size(), pcm); }));
    FrameParams p;
    UnpackFrame(frames[20].data(), frames[20].size(), mode, p);
    p.start = 0;  // no such block class
    uint8_t bad[kFrameBytes30];
    PackFrame(p, bad);
    EXPECT_EQ(concealed, run([&](Decoder& d, int16_t* pcm) { d.Decode(bad, frames[20].size(), pcm); }));
    EXPECT_EQ(concealed, run([&](Decoder& d, int16_t* pcm) { d.Decode(frames[20].data(), 10, pcm); }));
    // Concealment continues the signal, not silence.
    double energy = 0;
    for (int16_t s : concealed) energy += double(s) * s;
    EXPECT_GT(energy, 0.0);
  }
}

TEST(IlbcDecoder, LongLossFadesToSilenceAndDecodingRecovers) {
  const auto frames = Frames(20);
  Decoder d(20);
  int16_t pcm[160];
  for (size_t i = 0; i < 40; ++i) d.Decode(frames[i].data(), frames[i].size(), pcm);
  double first = 0, last = 0;
  for (int k = 0; k < 16; ++k) {
    d.Conceal(pcm);
    double e = 0;
    for (int16_t s : pcm) e += double(s) * s;
    if (k == 0) first = e;
    last = e;
  }
  EXPECT_GT(first, 0.0);
  EXPECT_LT(last, first * 1e-4);  // silent after 160 ms of loss
  // After the loss, decoding goes on from the new frames: a fresh decoder and this one
  // converge once the enhancer's 640-sample history has moved past the loss.
  Decoder fresh(20);
  std::vector<int16_t> a, b;
  int16_t pa[160], pb[160];
  for (size_t i = 60; i < 90; ++i) {
    d.Decode(frames[i].data(), frames[i].size(), pa);
    fresh.Decode(frames[i].data(), frames[i].size(), pb);
    if (i >= 80) {
      a.insert(a.end(), pa, pa + 160);
      b.insert(b.end(), pb, pb + 160);
    }
  }
  EXPECT_GT(SnrDb(b, a, 0), 40.0);
}

TEST(IlbcDecoder, ResetStartsOverAndModesKeepTheirSizes) {
  const auto frames = Frames(30);
  Decoder d(30);
  EXPECT_EQ(d.samples(), 240);
  int16_t first[240], again[240], pcm[240];
  d.Decode(frames[50].data(), frames[50].size(), first);
  for (size_t i = 0; i < 5; ++i) d.Decode(frames[i].data(), frames[i].size(), pcm);
  d.Reset();
  d.Decode(frames[50].data(), frames[50].size(), again);
  EXPECT_EQ(0, std::memcmp(first, again, sizeof first));
  EXPECT_EQ(Decoder(20).samples(), 160);
  EXPECT_EQ(Decoder(7).mode(), 20);
}

}  // namespace
}  // namespace fennik::ilbc
