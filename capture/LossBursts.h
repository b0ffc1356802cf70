// Loss bursts and gaps after RFC 3611 4.7.2 (the VoIP metrics block), fed with a stream's
// sequence positions in order, each received or lost. With Gmin = 16, losses closer than
// Gmin received packets to one another belong to one burst, which runs from its first to
// its last loss; a loss with at least Gmin received packets on both sides is an isolated
// loss and belongs to the gap around it. Also counts the loss/receive transitions of the
// two-state (Gilbert) model for the E-model's BurstR.
#pragma once

#include <cstdint>
#include <vector>

namespace fennik {

struct LossBurstFigures {
  uint64_t positions = 0;     // sequence positions fed (received + lost)
  uint64_t losses = 0;
  uint64_t bursts = 0;
  uint64_t burstPositions = 0;
  uint64_t burstLosses = 0;
  uint64_t gaps = 0;          // maximal runs of positions outside bursts
  double burstDensity = 0;    // lost / positions within bursts (0..1)
  double gapDensity = 0;      // lost / positions within gaps (0..1)
  double meanBurstPackets = 0;
  double meanGapPackets = 0;
  double burstR = 1;          // 1 / (p + q): 1 for random loss, > 1 for bursty loss
};

// A burst's first and last sequence position (counted from 0 as fed), both lost.
struct LossBurstSpan {
  uint64_t first;
  uint64_t last;
};

class LossBursts {
 public:
  static constexpr uint32_t kGmin = 16;

  void Add(bool lost);
  LossBurstFigures Figures() const;  // closes the open cluster on a copy
  // Each burst is appended to `spans` as it closes (nullptr: none kept). Finish closes the
  // open cluster, so that the last burst is kept too; feed nothing after it.
  void KeepSpans(std::vector<LossBurstSpan>* spans) { spans_ = spans; }
  void Finish() { CloseCluster(); }

 private:
  void CloseCluster();

  LossBurstFigures f_;
  uint64_t receivedRun_ = 0;     // received positions since the last loss
  uint64_t clusterStart_ = 0;    // position of the open cluster's first loss
  uint64_t clusterLosses_ = 0;   // 0: no open cluster
  uint64_t clusterSpan_ = 0;
  uint64_t lastBurstEnd_ = 0;    // one past the last burst's final position
  // Gilbert model transitions.
  bool havePrevious_ = false;
  bool previousLost_ = false;
  uint64_t receivedThenLost_ = 0, receivedThenReceived_ = 0;
  uint64_t lostThenReceived_ = 0, lostThenLost_ = 0;
  std::vector<LossBurstSpan>* spans_ = nullptr;
};

}  // namespace fennik
