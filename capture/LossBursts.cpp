#include "capture/LossBursts.h"

namespace fennik {

void LossBursts::Add(bool lost) {
  if (havePrevious_) {
    if (previousLost_) ++(lost ? lostThenLost_ : lostThenReceived_);
    else ++(lost ? receivedThenLost_ : receivedThenReceived_);
  }
  havePrevious_ = true;
  previousLost_ = lost;
  const uint64_t position = f_.positions++;
  if (!lost) {
    ++receivedRun_;
    return;
  }
  ++f_.losses;
  if (clusterLosses_ > 0 && receivedRun_ < kGmin) {
    clusterSpan_ += receivedRun_ + 1;
    ++clusterLosses_;
  } else {
    CloseCluster();
    clusterStart_ = position;
    clusterLosses_ = 1;
    clusterSpan_ = 1;
  }
  receivedRun_ = 0;
}

// A cluster of two or more losses is a burst; a single loss stays in its gap.
void LossBursts::CloseCluster() {
  if (clusterLosses_ >= 2) {
    if (clusterStart_ > lastBurstEnd_) ++f_.gaps;  // the gap before this burst
    ++f_.bursts;
    f_.burstPositions += clusterSpan_;
    f_.burstLosses += clusterLosses_;
    lastBurstEnd_ = clusterStart_ + clusterSpan_;
    if (spans_ != nullptr) spans_->push_back({clusterStart_, lastBurstEnd_ - 1});
  }
  clusterLosses_ = 0;
}

LossBurstFigures LossBursts::Figures() const {
  LossBursts copy = *this;
  copy.spans_ = nullptr;
  copy.CloseCluster();
  LossBurstFigures f = copy.f_;
  if (f.positions > copy.lastBurstEnd_) ++f.gaps;  // the gap after the last burst
  const uint64_t gapPositions = f.positions - f.burstPositions;
  f.burstDensity = f.burstPositions > 0 ? static_cast<double>(f.burstLosses) / static_cast<double>(f.burstPositions) : 0;
  f.gapDensity = gapPositions > 0 ? static_cast<double>(f.losses - f.burstLosses) / static_cast<double>(gapPositions) : 0;
  f.meanBurstPackets = f.bursts > 0 ? static_cast<double>(f.burstPositions) / static_cast<double>(f.bursts) : 0;
  f.meanGapPackets = f.gaps > 0 ? static_cast<double>(gapPositions) / static_cast<double>(f.gaps) : 0;
  // BurstR of ITU-T G.107 for the two-state model: 1 / (p + q), p the probability of
  // a loss after a received packet, q of a received packet after a loss.
  const uint64_t fromReceived = receivedThenLost_ + receivedThenReceived_;
  const uint64_t fromLost = lostThenReceived_ + lostThenLost_;
  const double p = fromReceived > 0 ? static_cast<double>(receivedThenLost_) / static_cast<double>(fromReceived) : 0;
  const double q = fromLost > 0 ? static_cast<double>(lostThenReceived_) / static_cast<double>(fromLost) : 0;
  f.burstR = (p + q) > 0 && fromLost > 0 ? 1.0 / (p + q) : 1.0;
  return f;
}

}  // namespace fennik
