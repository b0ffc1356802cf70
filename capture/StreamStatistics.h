// Per-stream call-quality statistics gathered during the analysis pass: sequence accounting
// after RFC 3550 A.1/A.3 (expected, lost, duplicates, out-of-order, restarts), capture-time
// deltas, RFC 3550 6.4.1/A.8 interarrival jitter in milliseconds, marker and payload-type
// counts, and the mean payload bit rate. One StreamStatistics per stream, fed one packet at
// a time in file order; nothing is kept per packet.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

#include "capture/LossBursts.h"

namespace fennik {

// Upper edges (milliseconds) of the jitter histogram's bins in a 1-2-5 series; the last bin
// takes everything from the last edge up. Fixed edges keep the pass free of a second walk.
constexpr std::array<double, 12> kJitterBinEdgesMs = {0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100, 200, 500};
constexpr size_t kJitterBins = kJitterBinEdgesMs.size() + 1;
// The bin of a jitter value in milliseconds.
size_t JitterBin(double ms);

// The figures of one RTP stream.
struct StreamFigures {
  uint32_t ssrc = 0;
  uint32_t clockRate = 0;       // last clock rate the stream was fed with (0: unknown)
  uint64_t packets = 0;
  int64_t expected = 0;         // extended highest minus base sequence number plus one
  int64_t lost = 0;             // expected - received; negative when duplicates outnumber losses
                                // (a stray packet far off the sequence is not received)
  double lossPercent = 0;       // lost / expected * 100 (0 when nothing was expected)
  uint64_t duplicates = 0;      // a sequence number already received within the window
  uint64_t outOfOrder = 0;      // received after a higher sequence number, not a duplicate
  uint64_t sequenceErrors = 0;  // sequence number other than the previous packet's plus one
  uint64_t sequenceRestarts = 0;  // RFC 3550 A.1 resynchronisations and SSRC changes
  uint64_t timestampJumps = 0;  // consecutive packets whose timestamp goes back or > 1 s forward
  uint64_t markers = 0;
  uint64_t payloadBytes = 0;    // RTP payload bytes (from the UDP length)
  std::bitset<128> payloadTypes;
  int64_t firstUs = 0;          // capture time of the first and the last packet
  int64_t lastUs = 0;
  double minDeltaMs = 0;        // between consecutive packets of the stream in file order
  double meanDeltaMs = 0;
  double maxDeltaMs = 0;
  double meanJitterMs = 0;      // mean of the running jitter over every packet after the first
  double maxJitterMs = 0;
  // How often the running jitter held a value of each bin (one sample per packet after
  // the first, as the mean).
  std::array<uint64_t, kJitterBins> jitterHistogram{};
  double meanBitRate = 0;       // payload bits per second between first and last packet
  // RFC 3611 4.7.2 bursts over the sequence positions (a position is lost when its packet
  // had not arrived by the time 1024 higher numbers had been seen).
  LossBurstFigures bursts;
  double packetIntervalMs = 0;  // (last - first capture time) / (expected - 1)
  double meanBurstMs = 0;
  double meanGapMs = 0;
  // A fixed jitter buffer of `jitterBufferMs` (0: not simulated) that starts playing each
  // sequence run's first packet on arrival plus the buffer depth: a later packet is
  // discarded when it arrives after its playout time (first arrival + its RTP time after
  // the first packet's + depth). Needs the clock rate.
  double jitterBufferMs = 0;
  uint64_t discarded = 0;
  double discardPercent = 0;    // discarded / expected * 100
  // RFC 3611 4.7.2 counts a discarded packet like a lost one: the bursts of both.
  LossBurstFigures lossDiscardBursts;
};

// One packet as the statistics need it.
struct StatisticsPacket {
  int64_t captureUs;
  uint32_t ssrc;
  uint16_t sequenceNumber;
  uint32_t timestamp;
  uint8_t payloadType;
  bool marker;
  uint32_t payloadLength;
  uint32_t clockRate;  // 0 while the stream's codec is unknown: no jitter then
  bool media = true;   // the stream's own payload type with a codec: played out of the
                       // jitter buffer (events and comfort noise are not)
};

class StreamStatistics {
 public:
  static constexpr double kDefaultJitterBufferMs = 60;

  explicit StreamStatistics(double jitterBufferMs = kDefaultJitterBufferMs) { f_.jitterBufferMs = jitterBufferMs; }
  void Add(const StatisticsPacket& p);
  StreamFigures Figures() const;
  uint32_t Ssrc() const { return f_.ssrc; }

 private:
  static constexpr uint32_t kMaxDropout = 3000;   // RFC 3550 A.1
  static constexpr uint32_t kMaxMisorder = 100;
  static constexpr uint32_t kWindow = 1024;       // sequence numbers remembered for duplicates

  void StartSequence(uint16_t seq);
  // Hands the positions still in the window to the burst counters.
  void FlushWindow(LossBursts& bursts, LossBursts& withDiscards) const;
  bool Seen(int64_t extended) const;
  void MarkSeen(int64_t extended);
  bool Discarded(int64_t extended) const;
  // The jitter buffer's verdict on a packet received at sequence position `extended`.
  void PlayOut(const StatisticsPacket& p, int64_t extended);
  // The RFC 3550 A.8 jitter update for a packet `arrivalUs` after the previous one whose
  // timestamp is `step` units after the previous one's.
  void AddJitter(int64_t arrivalUs, int32_t step, uint32_t clockRate);
  // Closes the jitter samples taken at jitterClock_ and starts those at `clockRate`.
  void SetJitterClock(uint32_t clockRate);
  // Milliseconds of a jitter in the unit of jitter_ at jitterClock_.
  double JitterMs(double jitter) const { return jitter / (1000.0 * jitterClock_); }

  StreamFigures f_;
  // Sequence state (RFC 3550 A.1): the current run's base and extended maximum; the runs
  // already closed by a restart keep their expected count.
  int64_t base_ = 0;
  int64_t maxExtended_ = 0;
  int64_t expectedBefore_ = 0;
  uint64_t ignored_ = 0;       // stray packets after a large jump that started no new run
  uint32_t badSeq_ = 0x10000;  // RTP_SEQ_MOD + 1 in A.1: no candidate restart
  uint16_t lastSeq_ = 0;
  uint32_t lastTimestamp_ = 0;
  std::array<uint64_t, kWindow / 64> seen_{};
  std::array<uint64_t, kWindow / 64> discarded_{};
  LossBursts bursts_;
  LossBursts lossDiscardBursts_;
  // Jitter buffer: the run's first packet's arrival and (extended) RTP timestamp.
  bool haveAnchor_ = false;
  int64_t anchorUs_ = 0;
  int64_t anchorTimestamp_ = 0;
  int64_t extendedTimestamp_ = 0;  // the last packet's, unwrapped
  uint32_t tickClock_ = 0;         // the clock rate msPerTick_ belongs to
  double msPerTick_ = 0;
  // Capture deltas in microseconds, converted when the figures are read (their sum is
  // the last capture time minus the first).
  int64_t minDeltaUs_ = 0;
  int64_t maxDeltaUs_ = 0;
  // RFC 3550 A.8 jitter in millionths of a timestamp unit: D is then the arrival delta in
  // microseconds times the clock rate minus the timestamp step times 10^6, and a packet
  // costs no division. The maximum and the sum of the samples taken at jitterClock_ are
  // kept in that unit, with the histogram's bin edges; they are folded into milliseconds
  // when the clock rate changes and when the figures are read.
  double jitter_ = 0;
  uint32_t jitterClock_ = 0;
  uint32_t jitterBin_ = 0;           // the bin of the last sample
  double jitterMax_ = 0;
  double jitterSum_ = 0;
  std::array<double, kJitterBinEdgesMs.size()> jitterEdges_{};
  double maxJitterMs_ = 0;           // of the clock rates closed
  double jitterSumMs_ = 0;
  uint64_t jitterSamples_ = 0;
};

// Statistics of every stream of the pass, indexed like the stream table.
class StreamStatisticsTable {
 public:
  void Clear() { streams_.clear(); }
  // The simulated jitter buffer's depth for the streams of the next pass (0: none).
  void SetJitterBufferMs(double ms) { jitterBufferMs_ = ms; }
  double JitterBufferMs() const { return jitterBufferMs_; }
  // The analysis pass's hook: one call per RTP packet listed for stream `index`.
  void OnRtpPacket(uint32_t index, const StatisticsPacket& p) {
    if (index >= streams_.size()) streams_.resize(index + 1, StreamStatistics(jitterBufferMs_));
    streams_[index].Add(p);
  }
  size_t Size() const { return streams_.size(); }
  uint32_t Ssrc(uint32_t index) const { return index < streams_.size() ? streams_[index].Ssrc() : 0; }
  StreamFigures Figures(uint32_t index) const {
    return index < streams_.size() ? streams_[index].Figures() : StreamFigures{};
  }

 private:
  std::vector<StreamStatistics> streams_;
  double jitterBufferMs_ = StreamStatistics::kDefaultJitterBufferMs;
};

}  // namespace fennik
