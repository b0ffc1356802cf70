// Places decoded audio frames on their stream's RTP timeline: a frame starts where its RTP
// timestamp says, relative to the segment it belongs to, and the space before it (silence
// suppression, lost packets, hold) is silence. Decoding to a file, playback and the frame
// lists' times all place frames through this one rule, so they agree.
#pragma once

#include <cstdint>

namespace fennik {

class CAudioTimeline {
 public:
  // A forward timestamp jump longer than this, or a backward one longer than kLateMs,
  // starts a new segment kSegmentGapMs after the previous frame's end instead of inserting
  // the jump as silence (a sender's restart, a new SSRC, a timestamp reset).
  static constexpr uint32_t kMaxGapMs = 60000;
  static constexpr uint32_t kLateMs = 1000;
  static constexpr uint32_t kSegmentGapMs = 100;

  struct Placement {
    uint64_t position = 0;  // the frame's first sample on the output, in samples
    uint64_t silence = 0;   // silence to write before the frame
    bool skip = false;      // a late frame (reordered, or a copy): its place has passed
    bool newSegment = false;
  };

  // `clockRate`: the RTP clock; `sampleRate`: the decoded PCM's (G.722: 16000 at clock
  // 8000). With `concatenate` frames follow each other without gaps.
  CAudioTimeline(uint32_t clockRate, uint32_t sampleRate, bool concatenate);

  // Places the next frame (in decoding order) with its RTP timestamp and its decoded
  // length in samples per channel.
  Placement Place(uint32_t rtpTimestamp, uint64_t samples);
  // The output's length so far, in samples per channel.
  uint64_t End() const { return cursor_; }
  uint32_t Segments() const { return segments_; }

 private:
  uint64_t Samples(uint64_t milliseconds) const { return milliseconds * sampleRate_ / 1000; }

  uint32_t clockRate_;
  uint32_t sampleRate_;
  bool concatenate_;
  bool started_ = false;
  uint32_t segmentTimestamp_ = 0;  // RTP timestamp at the segment's start
  uint64_t segmentStart_ = 0;      // output position of the segment's start
  uint64_t cursor_ = 0;
  uint32_t lastTimestamp_ = 0;     // the last placed frame's RTP timestamp
  uint32_t segments_ = 0;
};

}  // namespace fennik
