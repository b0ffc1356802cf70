// Jitter, sequence checks, the bit-rate window and the derived row values.
#include "capture/RtpTiming.h"

#include <gtest/gtest.h>

namespace fennik {
namespace {

struct Packet {
  uint16_t seq;
  uint32_t time;
  uint32_t ts;
};

// Runs the timing step over a stream's packets as the analysis pass does.
std::vector<RtpPacketEntry> RunStream(const std::vector<Packet>& packets, uint32_t clock = 8000) {
  RtpStreamEntry s;
  s.clockRate = clock;
  std::vector<RtpPacketEntry> out;
  for (size_t i = 0; i < packets.size(); ++i) {
    RtpPacketEntry e{};
    e.sequenceNumber = packets[i].seq;
    e.captureTime = packets[i].time;
    e.rtpTimestamp = packets[i].ts;
    ApplyPacketTiming(s, e, i == 0);
    s.lastSequenceNumber = e.sequenceNumber;
    out.push_back(e);
  }
  return out;
}

TEST(RtpTiming, SequenceWrapIsConsecutive) {
  auto e = RunStream({{65534, 0, 0}, {65535, 20, 160}, {0, 40, 320}, {1, 60, 480}});
  for (const auto& entry : e) EXPECT_EQ(entry.errorFlags, 0);
}

TEST(RtpTiming, LossFlagsThePacketAfterTheGapAndMovesTheReference) {
  // 10, 12 (lost 11), then 13 arrives 5 ms late relative to 12.
  auto e = RunStream({{10, 0, 0}, {12, 47, 320}, {13, 72, 480}});
  EXPECT_EQ(e[1].errorFlags, kErrorSequence);
  EXPECT_EQ(e[1].jitter, 7);  // computed against the old reference (expected at 40 ms)
  EXPECT_EQ(e[2].errorFlags, 0);
  EXPECT_EQ(e[2].jitter, 5);  // measured from packet 12
}

TEST(RtpTiming, ReorderedPairFlagsEachOutOfOrderPacket) {
  auto e = RunStream({{10, 0, 0}, {12, 40, 320}, {11, 41, 160}, {13, 60, 480}});
  EXPECT_EQ(e[1].errorFlags, kErrorSequence);
  EXPECT_EQ(e[2].errorFlags, kErrorSequence);
  EXPECT_EQ(e[3].errorFlags, kErrorSequence);
}

TEST(RtpTiming, JitterIsLatenessAgainstTheReference) {
  auto e = RunStream({{1, 0, 0}, {2, 20, 160}, {3, 45, 320}, {4, 57, 480}});
  EXPECT_EQ(e[0].jitter, 0);
  EXPECT_EQ(e[1].jitter, 0);
  EXPECT_EQ(e[2].jitter, 5);
  EXPECT_EQ(e[3].jitter, -3);
}

TEST(RtpTiming, ClockRateZeroDividesByNothing) {
  auto e = RunStream({{1, 0, 0}, {2, 20, 160}}, 0);
  EXPECT_EQ(e[1].jitter, 0);
  EXPECT_EQ(RtpGapMs(160, 0, 0), 0);
  EXPECT_EQ(RtpTimeMs(160, 0), 0u);
}

TEST(BitrateWindow, OneSecondOf20msPacketsCounts51) {
  BitrateWindow w;
  uint32_t sum = 0;
  for (uint32_t i = 0; i <= 50; ++i) sum = w.Add(i * 20, 160, false);
  EXPECT_EQ(sum, 51u * 160);  // the packet exactly 1000 ms older is still inside
  EXPECT_EQ(sum * 8, 65280u);
  EXPECT_EQ(w.Add(51 * 20, 160, false), 51u * 160);  // the oldest drops out
}

TEST(BitrateWindow, SequenceErrorAndBackwardsTimeRestartTheWindow) {
  BitrateWindow w;
  for (uint32_t i = 0; i < 10; ++i) w.Add(i * 20, 100, false);
  EXPECT_EQ(w.Add(200, 50, true), 50u);
  EXPECT_EQ(w.Add(220, 50, false), 100u);
  EXPECT_EQ(w.Add(100, 70, false), 70u);
}

TEST(BitrateWindow, MoreThanAThousandPacketsPerSecondAreAllCounted) {
  BitrateWindow w;
  uint32_t sum = 0;
  for (uint32_t i = 0; i < 3000; ++i) sum = w.Add(i / 3, 10, false);  // 3000 packets per second
  EXPECT_EQ(sum, 3000u * 10);
  sum = w.Add(1500, 10, false);  // times 0..499 (1500 packets) have left the window
  EXPECT_EQ(sum, 1501u * 10);
}

TEST(RtpTiming, DerivedValuesAndTimeFormat) {
  EXPECT_EQ(RtpGapMs(320, 160, 8000), 20);
  EXPECT_EQ(RtpGapMs(160, 320, 8000), -20);
  EXPECT_EQ(RtpGapMs(0, 0xFFFFFF60u, 8000), -536870892);  // no wrap handling
  EXPECT_EQ(RtpTimeMs(8000 * 3723 + 3648, 8000), 3723456u);
  char t[32];
  FormatListTime(3723456, t, sizeof t);
  EXPECT_STREQ(t, "  1:02:03.456");
  FormatListTime(0, t, sizeof t);
  EXPECT_STREQ(t, "  0:00:00.000");
}

}  // namespace
}  // namespace fennik
