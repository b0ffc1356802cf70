// Placing decoded frames on the RTP timeline: gaps, wrap-around, late frames, jumps that
// start a new segment, and G.722's two output samples per RTP tick.
#include "stream/AudioTimeline.h"

#include <gtest/gtest.h>

namespace fennik {
namespace {

TEST(AudioTimeline, GapsBecomeSilenceAcrossTheTimestampWrap) {
  CAudioTimeline t(8000, 8000, false);
  uint32_t ts = 0xFFFFFF00u;
  EXPECT_EQ(t.Place(ts, 160).position, 0u);
  EXPECT_EQ(t.Place(ts + 160, 160).silence, 0u);  // wraps through zero
  // Two seconds of silence suppression, then a frame.
  CAudioTimeline::Placement p = t.Place(ts + 320 + 16000, 160);
  EXPECT_EQ(p.silence, 16000u);
  EXPECT_EQ(p.position, 16320u);
  EXPECT_FALSE(p.newSegment);
  // A frame wholly before the end, by less than a second (reordered, arrived late), is
  // skipped: its time has been played.
  p = t.Place(ts + 320 + 16000 - 320, 160);
  EXPECT_TRUE(p.skip);
  EXPECT_EQ(p.position, 16000u);
  EXPECT_EQ(t.End(), 16480u);
  // Timestamps that advance by less than the frames last: the frame follows on directly.
  p = t.Place(ts + 320 + 16000 + 100, 160);
  EXPECT_EQ(p.position, 16480u);
  EXPECT_EQ(p.silence, 0u);
  EXPECT_EQ(t.Segments(), 1u);
}

TEST(AudioTimeline, LongJumpsAndBackwardStepsStartASegmentAfterAShortSilence) {
  CAudioTimeline t(8000, 16000, false);  // G.722: two samples per tick
  t.Place(1000, 320);
  CAudioTimeline::Placement p = t.Place(1160, 320);
  EXPECT_EQ(p.position, 320u);
  // 61 s ahead: a new segment 100 ms after the output's end, not a minute of silence.
  p = t.Place(1320 + 61 * 8000, 320);
  EXPECT_TRUE(p.newSegment);
  EXPECT_EQ(p.silence, 1600u);
  EXPECT_EQ(p.position, 640u + 1600);
  EXPECT_EQ(t.Place(1480 + 61 * 8000, 320).silence, 0u);  // the segment goes on
  // Two seconds back (a sender restarting its clock): another segment.
  p = t.Place(1480 + 59 * 8000, 320);
  EXPECT_TRUE(p.newSegment);
  EXPECT_EQ(t.Segments(), 3u);
}

TEST(AudioTimeline, ConcatenatedFramesFollowEachOther) {
  CAudioTimeline t(8000, 8000, true);
  t.Place(0, 160);
  const CAudioTimeline::Placement p = t.Place(80000, 160);
  EXPECT_EQ(p.position, 160u);
  EXPECT_EQ(p.silence, 0u);
  EXPECT_EQ(t.End(), 320u);
}

}  // namespace
}  // namespace fennik
