#include "stream/AudioTimeline.h"

namespace fennik {

CAudioTimeline::CAudioTimeline(uint32_t clockRate, uint32_t sampleRate, bool concatenate)
    : clockRate_(clockRate), sampleRate_(sampleRate), concatenate_(concatenate || clockRate == 0) {}

CAudioTimeline::Placement CAudioTimeline::Place(uint32_t rtpTimestamp, uint64_t samples) {
  Placement p;
  if (!started_ || concatenate_) {
    if (!started_) {
      started_ = true;
      segments_ = 1;
      segmentTimestamp_ = rtpTimestamp;
      segmentStart_ = cursor_;
      lastTimestamp_ = rtpTimestamp;
    }
    p.position = cursor_;
    cursor_ += samples;
    return p;
  }
  if (rtpTimestamp == lastTimestamp_) {
    // Another frame of the same packet (RFC 3551 4.1: a packet's timestamp is that of its
    // first frame): it follows the previous frame directly.
    p.position = cursor_;
    cursor_ += samples;
    return p;
  }
  lastTimestamp_ = rtpTimestamp;
  // The distance from the segment's first timestamp, modulo 2^32 (timestamps wrap), as a
  // signed count of RTP ticks; then in output samples.
  const int64_t ticks = static_cast<int32_t>(rtpTimestamp - segmentTimestamp_);
  const int64_t scaled = ticks * static_cast<int64_t>(sampleRate_);
  const int64_t target = static_cast<int64_t>(segmentStart_) + scaled / static_cast<int64_t>(clockRate_);
  const int64_t cursor = static_cast<int64_t>(cursor_);
  const int64_t ahead = target - cursor;
  if (ahead >= 0 && static_cast<uint64_t>(ahead) <= Samples(kMaxGapMs)) {
    p.position = static_cast<uint64_t>(target);
    p.silence = static_cast<uint64_t>(ahead);
    // The reference follows the stream whenever it maps exactly, so the signed 32-bit
    // distance above never spans more than the gap limit, however long the call.
    if (scaled % static_cast<int64_t>(clockRate_) == 0) {
      segmentTimestamp_ = rtpTimestamp;
      segmentStart_ = p.position;
    }
  } else if (ahead < 0 && target + static_cast<int64_t>(samples) > cursor) {
    // Overlaps the end of the output (timestamps advancing by less than the frames
    // last): the frame follows on directly and nothing of it is lost.
    p.position = cursor_;
  } else if (ahead < 0 && static_cast<uint64_t>(-ahead) <= Samples(kLateMs)) {
    // Wholly before the output's end: a packet that arrived late; its time was filled.
    p.position = static_cast<uint64_t>(target < 0 ? 0 : target);
    p.skip = true;
    return p;
  } else {
    p.newSegment = true;
    p.silence = Samples(kSegmentGapMs);
    p.position = cursor_ + p.silence;
    segmentTimestamp_ = rtpTimestamp;
    segmentStart_ = p.position;
    ++segments_;
  }
  cursor_ = p.position + samples;
  return p;
}

}  // namespace fennik
