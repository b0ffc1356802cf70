// The video stream base: frame rate and times, and the random-access walk's choice of the
// frames it decodes (a stand-in codec records the frames it is handed).
#include <gtest/gtest.h>

#include <vector>

#include "codec/video/CVideo_Stream.h"
#include "codec/video/VideoViews.h"

namespace fennik {
namespace {

// Frame bytes are the frame's index; the "decoder" records what it was given.
class Source : public CAvLoadStream {
 public:
  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted, uint64_t address) override {
    if (capacity < wanted || wanted == 0) return 0;
    buffer[0] = static_cast<uint8_t>(address);
    return wanted;
  }
};

class RecordingStream : public CVideo_Stream {
 public:
  std::vector<uint32_t> decoded;
  int resets = 0;
  // Adds frame i with its H.264 flags.
  void Add(uint32_t randomAccessIndex, uint16_t flags) {
    FrameEntry e;
    e.size = 1;
    e.frameNumber = static_cast<uint32_t>(frames_.GetCount());
    H264FrameFields f{randomAccessIndex, 0, 0, 0, flags};
    SetCodecFields(e, f);
    frames_.Add(frames_.GetCount(), e);
  }
  void ReleaseDecoder() override {}
  void ResetDecoder() override { ++resets; }
  int Open(const uint8_t*, size_t, int32_t) override { return 1; }
  int32_t GetCodecType() const override { return 0; }
  const char* GetCodecName() const override { return "test"; }
  size_t Parse(uint32_t, CPayloadDescriptor&) override { return 0; }
  int GetVideoFormat(VideoFormat& f) override { return f = VideoFormat(), 1; }
  std::unique_ptr<CView_VideoFrameList> CreateFrameList() override { return nullptr; }

 protected:
  uint32_t DecodePicture(const uint8_t* data, uint32_t, uint32_t frameNumber) override {
    EXPECT_EQ(data[0], static_cast<uint8_t>(frameNumber));
    decoded.push_back(frameNumber);
    return 0;
  }
};

TEST(VideoStream, FrameRateAndTimes) {
  RecordingStream s;
  uint32_t num, den, duration;
  s.GetFrameRate(num, den, duration);
  EXPECT_EQ(duration, 66667u);  // 15 fps until a codec says otherwise
  s.SetFrameRate(30000, 1001, 0);
  s.GetFrameRate(num, den, duration);
  EXPECT_EQ(duration, 33366u);
  EXPECT_EQ(s.GetTime(3), 100098u);
}

TEST(VideoStream, RandomAccessWalkDecodesReferencesFromTheRandomAccessPoint) {
  constexpr uint16_t kIdrRa = kH264Idr | kH264Reference | kH264RandomAccess;
  RecordingStream s;
  Source source;
  s.SetSource(&source);
  s.AttachView(nullptr);
  // 0: IDR (random access), 1..5: P, B (non-reference), P, B, P; 6: non-IDR random access.
  s.Add(0, kIdrRa);
  s.Add(0, kH264Reference);
  s.Add(0, 0);
  s.Add(0, kH264Reference);
  s.Add(0, 0);
  s.Add(0, kH264Reference);
  s.Add(6, kH264Reference | kH264RandomAccess);
  s.Add(6, 0);
  s.DecodeFrame(4);
  EXPECT_EQ(s.decoded, (std::vector<uint32_t>{0, 1, 3, 4}));
  // The same frame again costs nothing; the next one costs one decode.
  s.decoded.clear();
  s.DecodeFrame(4);
  s.DecodeFrame(5);
  EXPECT_EQ(s.decoded, (std::vector<uint32_t>{5}));
  // A random-access frame that is no IDR picture: the walk starts one group earlier.
  s.decoded.clear();
  s.DecodeFrame(7);
  EXPECT_EQ(s.decoded, (std::vector<uint32_t>{0, 1, 3, 5, 6, 7}));
  EXPECT_EQ(s.resets, 2);
  EXPECT_EQ(s.DecodeFrame(8), ~uint64_t{0});
}

}  // namespace
}  // namespace fennik
