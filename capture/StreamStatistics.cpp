#include "capture/StreamStatistics.h"

#include <algorithm>
#include <cmath>

namespace fennik {

size_t JitterBin(double ms) {
  size_t bin = 0;
  while (bin < kJitterBinEdgesMs.size() && ms >= kJitterBinEdgesMs[bin]) ++bin;
  return bin;
}

void StreamStatistics::FlushWindow(LossBursts& bursts, LossBursts& withDiscards) const {
  for (int64_t e = std::max(base_, maxExtended_ - int64_t{kWindow} + 1); e <= maxExtended_; ++e) {
    bursts.Add(!Seen(e));
    withDiscards.Add(!Seen(e) || Discarded(e));
  }
}

void StreamStatistics::StartSequence(uint16_t seq) {
  if (f_.packets > 0) FlushWindow(bursts_, lossDiscardBursts_);
  // Extended numbers start one cycle up, so that the low 16 bits stay the sequence number
  // and numbers before the base never go negative.
  base_ = int64_t{0x10000} + seq;
  maxExtended_ = base_;
  badSeq_ = 0x10000;
  std::fill(seen_.begin(), seen_.end(), 0);
  std::fill(discarded_.begin(), discarded_.end(), 0);
  MarkSeen(base_);
  haveAnchor_ = false;
}

bool StreamStatistics::Discarded(int64_t extended) const {
  if (extended > maxExtended_ || maxExtended_ - extended >= int64_t{kWindow}) return false;
  const uint64_t bit = static_cast<uint64_t>(extended) % kWindow;
  return (discarded_[bit / 64] >> (bit % 64)) & 1u;
}

void StreamStatistics::PlayOut(const StatisticsPacket& p, int64_t extended) {
  if (f_.jitterBufferMs <= 0 || p.clockRate == 0 || !p.media) return;
  if (!haveAnchor_ || p.clockRate != f_.clockRate) {
    haveAnchor_ = true;
    anchorUs_ = p.captureUs;
    anchorTimestamp_ = extendedTimestamp_;
    return;
  }
  // How much later than the anchor's transit this packet arrives, in milliseconds. Every
  // packet comes here: an estimate made with multiplications settles all but the packets
  // whose estimate lies within rounding of the depth, which get the exact divisions.
  const double sinceUs = static_cast<double>(p.captureUs - anchorUs_);
  const double ticks = static_cast<double>(extendedTimestamp_ - anchorTimestamp_);
  if (p.clockRate != tickClock_) {
    tickClock_ = p.clockRate;
    msPerTick_ = 1000.0 / p.clockRate;
  }
  const double estimate = sinceUs * 1e-3 - ticks * msPerTick_;
  const double margin = 1e-9 * (std::fabs(sinceUs) * 1e-3 + std::fabs(ticks) * msPerTick_ + 1.0);
  if (estimate < f_.jitterBufferMs - margin) return;
  if (estimate <= f_.jitterBufferMs + margin) {
    const double late = sinceUs / 1000.0 - ticks * 1000.0 / p.clockRate;
    if (late <= f_.jitterBufferMs) return;
  }
  ++f_.discarded;
  if (extended >= base_ && maxExtended_ - extended < int64_t{kWindow}) {
    const uint64_t bit = static_cast<uint64_t>(extended) % kWindow;
    discarded_[bit / 64] |= uint64_t{1} << (bit % 64);
  }
}

bool StreamStatistics::Seen(int64_t extended) const {
  if (extended > maxExtended_ || maxExtended_ - extended >= int64_t{kWindow}) return false;
  const uint64_t bit = static_cast<uint64_t>(extended) % kWindow;
  return (seen_[bit / 64] >> (bit % 64)) & 1u;
}

void StreamStatistics::MarkSeen(int64_t extended) {
  const uint64_t bit = static_cast<uint64_t>(extended) % kWindow;
  seen_[bit / 64] |= uint64_t{1} << (bit % 64);
}

void StreamStatistics::SetJitterClock(uint32_t clockRate) {
  if (jitterClock_ != 0) {
    maxJitterMs_ = std::max(maxJitterMs_, JitterMs(jitterMax_));
    jitterSumMs_ += JitterMs(jitterSum_);
  }
  jitterClock_ = clockRate;
  jitterMax_ = 0;
  jitterSum_ = 0;
  for (size_t i = 0; i < jitterEdges_.size(); ++i) jitterEdges_[i] = kJitterBinEdgesMs[i] * 1000.0 * clockRate;
}

void StreamStatistics::AddJitter(int64_t arrivalUs, int32_t step, uint32_t clockRate) {
  // RFC 3550 A.8: D is the difference of relative transit times of this packet and the
  // one before it in arrival order; J += (|D| - J) / 16.
  if (clockRate != jitterClock_) SetJitterClock(clockRate);
  const double d = static_cast<double>(arrivalUs) * clockRate - static_cast<double>(step) * 1e6;
  jitter_ += (std::fabs(d) - jitter_) * (1.0 / 16);
  jitterMax_ = std::max(jitterMax_, jitter_);
  jitterSum_ += jitter_;
  ++jitterSamples_;
  // The jitter moves slowly: its bin is found from the last one.
  size_t bin = jitterBin_;
  while (bin > 0 && jitter_ < jitterEdges_[bin - 1]) --bin;
  while (bin < jitterEdges_.size() && jitter_ >= jitterEdges_[bin]) ++bin;
  jitterBin_ = static_cast<uint32_t>(bin);
  ++f_.jitterHistogram[bin];
}

void StreamStatistics::Add(const StatisticsPacket& p) {
  const uint16_t seq = p.sequenceNumber;
  // The sequence position the jitter buffer plays this packet at (-1: none, a duplicate or
  // a stray packet).
  int64_t played = -1;
  if (f_.packets == 0) {
    f_.ssrc = p.ssrc;
    f_.firstUs = p.captureUs;
    extendedTimestamp_ = p.timestamp;
    StartSequence(seq);
    played = base_;
  } else {
    extendedTimestamp_ += static_cast<int32_t>(p.timestamp - lastTimestamp_);
    const int64_t deltaUs = p.captureUs - f_.lastUs;
    minDeltaUs_ = f_.packets == 1 ? deltaUs : std::min(minDeltaUs_, deltaUs);
    maxDeltaUs_ = f_.packets == 1 ? deltaUs : std::max(maxDeltaUs_, deltaUs);
    if (seq != static_cast<uint16_t>(lastSeq_ + 1)) ++f_.sequenceErrors;

    if (p.ssrc != f_.ssrc) {
      // A new source on the same addresses: the previous run keeps what it expected.
      expectedBefore_ += maxExtended_ - base_ + 1;
      f_.ssrc = p.ssrc;
      ++f_.sequenceRestarts;
      StartSequence(seq);
      played = base_;
    } else {
      const uint16_t ahead = static_cast<uint16_t>(seq - static_cast<uint16_t>(maxExtended_));
      if (ahead == 0) {
        ++f_.duplicates;
      } else if (ahead < kMaxDropout) {
        // In order, possibly after a gap. Each new number's window slot held the number
        // kWindow below it, which leaves the window: received or lost for good.
        const int64_t next = maxExtended_ + ahead;
        for (int64_t e = maxExtended_ + 1; e <= next; ++e) {
          const uint64_t bit = static_cast<uint64_t>(e) % kWindow;
          const uint64_t mask = uint64_t{1} << (bit % 64);
          if (e - int64_t{kWindow} >= base_) {
            const bool lost = (seen_[bit / 64] & mask) == 0;
            bursts_.Add(lost);
            lossDiscardBursts_.Add(lost || (discarded_[bit / 64] & mask) != 0);
          }
          seen_[bit / 64] &= ~mask;
          discarded_[bit / 64] &= ~mask;
        }
        maxExtended_ = next;
        MarkSeen(next);
        badSeq_ = 0x10000;
        played = next;
      } else if (ahead <= 0x10000 - kMaxMisorder) {
        // A large jump: RFC 3550 A.1 restarts only when the next packet follows it. The
        // restarted run begins at the packet that announced the jump, so it is expected.
        if (seq == badSeq_) {
          expectedBefore_ += maxExtended_ - base_ + 1;
          ++f_.sequenceRestarts;
          StartSequence(static_cast<uint16_t>(seq - 1));
          maxExtended_ = base_ + 1;
          MarkSeen(maxExtended_);
          --ignored_;  // the announcing packet now belongs to the new run
          played = maxExtended_;
        } else {
          badSeq_ = static_cast<uint16_t>(seq + 1);
          ++ignored_;
        }
      } else {
        // Behind the highest number received: late or repeated.
        const int64_t extended = maxExtended_ - (0x10000 - ahead);
        if (Seen(extended)) {
          ++f_.duplicates;
        } else {
          ++f_.outOfOrder;
          if (extended >= base_) MarkSeen(extended);
          played = extended;
        }
      }
      if (seq == static_cast<uint16_t>(lastSeq_ + 1)) {
        const int32_t step = static_cast<int32_t>(p.timestamp - lastTimestamp_);
        const int64_t second = p.clockRate != 0 ? int64_t{p.clockRate} : 90000;
        if (step < 0 || step > second) ++f_.timestampJumps;
      }
    }

    if (p.clockRate != 0 && p.clockRate == f_.clockRate) {
      AddJitter(p.captureUs - f_.lastUs, static_cast<int32_t>(p.timestamp - lastTimestamp_), p.clockRate);
    }
  }
  if (played >= 0) PlayOut(p, played);
  ++f_.packets;
  f_.clockRate = p.clockRate;
  f_.lastUs = p.captureUs;
  lastSeq_ = seq;
  lastTimestamp_ = p.timestamp;
  if (p.marker) ++f_.markers;
  f_.payloadTypes.set(p.payloadType & 0x7F);
  f_.payloadBytes += p.payloadLength;
}

StreamFigures StreamStatistics::Figures() const {
  StreamFigures f = f_;
  if (f.packets == 0) return f;
  f.expected = expectedBefore_ + (maxExtended_ - base_ + 1);
  f.lost = f.expected - static_cast<int64_t>(f.packets - ignored_);
  f.lossPercent = f.expected > 0 ? static_cast<double>(f.lost) * 100.0 / static_cast<double>(f.expected) : 0;
  if (f.packets > 1) {
    f.minDeltaMs = static_cast<double>(minDeltaUs_) / 1000.0;
    f.maxDeltaMs = static_cast<double>(maxDeltaUs_) / 1000.0;
    f.meanDeltaMs = static_cast<double>(f.lastUs - f.firstUs) / 1000.0 / static_cast<double>(f.packets - 1);
  }
  if (jitterSamples_ > 0) {
    f.maxJitterMs = std::max(maxJitterMs_, JitterMs(jitterMax_));
    f.meanJitterMs = (jitterSumMs_ + JitterMs(jitterSum_)) / static_cast<double>(jitterSamples_);
  }
  const double seconds = static_cast<double>(f.lastUs - f.firstUs) / 1e6;
  f.meanBitRate = seconds > 0 ? static_cast<double>(f.payloadBytes) * 8.0 / seconds : 0;
  LossBursts bursts = bursts_;
  LossBursts withDiscards = lossDiscardBursts_;
  FlushWindow(bursts, withDiscards);
  f.bursts = bursts.Figures();
  f.lossDiscardBursts = withDiscards.Figures();
  f.discardPercent = f.expected > 0 ? static_cast<double>(f.discarded) * 100.0 / static_cast<double>(f.expected) : 0;
  f.packetIntervalMs = f.expected > 1 ? seconds * 1000.0 / static_cast<double>(f.expected - 1) : 0;
  f.meanBurstMs = f.bursts.meanBurstPackets * f.packetIntervalMs;
  f.meanGapMs = f.bursts.meanGapPackets * f.packetIntervalMs;
  return f;
}

}  // namespace fennik
