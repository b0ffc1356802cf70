#include "capture/RtpTiming.h"

#include <cstdio>

namespace fennik {

void ApplyPacketTiming(RtpStreamEntry& s, RtpPacketEntry& e, bool firstPacket) {
  e.jitter = 0;
  e.errorFlags = 0;
  if (firstPacket) {
    s.referenceCaptureTime = e.captureTime;
    s.referenceRtpTimestamp = e.rtpTimestamp;
    s.lastSequenceNumber = e.sequenceNumber;
    return;
  }
  // How much later (positive) or earlier than its RTP timestamp announces the packet was
  // captured, relative to the reference packet. No wrap-around handling of the timestamp.
  if (s.clockRate != 0) {
    int64_t rtpMs = (static_cast<int64_t>(s.referenceRtpTimestamp) -
                     static_cast<int64_t>(e.rtpTimestamp)) * 1000 / s.clockRate;
    e.jitter = static_cast<int32_t>(rtpMs - static_cast<int64_t>(s.referenceCaptureTime) +
                                    static_cast<int64_t>(e.captureTime));
  }
  if (e.sequenceNumber != static_cast<uint16_t>(s.lastSequenceNumber + 1)) {
    e.errorFlags = kErrorSequence;
    s.referenceCaptureTime = e.captureTime;
    s.referenceRtpTimestamp = e.rtpTimestamp;
  }
}

uint32_t BitrateWindow::Add(uint64_t t, uint32_t n, bool sequenceError) {
  const uint32_t capacity = static_cast<uint32_t>(ring_.size());
  if (sequenceError) {
    sum_ = 0;
    count_ = 0;
  }
  sum_ += n;
  while (count_ > 0) {
    const Slot& slot = ring_[oldest_];
    if (slot.time > t) {  // time went backwards: start again from this packet
      sum_ = n;
      count_ = 0;
      break;
    }
    if (t - slot.time <= 1000) break;
    sum_ -= slot.length;
    if (++oldest_ == capacity) oldest_ = 0;  // no division: every RTP packet comes here
    --count_;
  }
  if (count_ == ring_.size()) Grow();
  const size_t at = oldest_ + count_;
  ring_[at < ring_.size() ? at : at - ring_.size()] = Slot{t, n};
  ++count_;
  return sum_;
}

void BitrateWindow::Grow() {
  std::vector<Slot> bigger(ring_.size() * 2);
  for (uint32_t i = 0; i < count_; ++i) bigger[i] = ring_[(oldest_ + i) % ring_.size()];
  ring_.swap(bigger);
  oldest_ = 0;
}

int64_t RtpGapMs(uint32_t timestamp, uint32_t previous, uint32_t clockRate) {
  if (clockRate == 0) return 0;
  return (static_cast<int64_t>(timestamp) - static_cast<int64_t>(previous)) * 1000 / clockRate;
}

uint64_t RtpTimeMs(uint32_t timestamp, uint32_t clockRate) {
  if (clockRate == 0) return 0;
  return uint64_t{timestamp} * 1000 / clockRate;
}

void FormatListTime(uint64_t ms, char* out, size_t size) {
  std::snprintf(out, size, " %2llu:%02d:%02d.%03d",
                static_cast<unsigned long long>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
}

}  // namespace fennik
