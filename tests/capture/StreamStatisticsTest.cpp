// Stream statistics: sequence accounting and RFC 3550 jitter on hand-worked packet patterns,
// and lost, max delta, mean and max jitter against tshark's "-z rtp,streams" summary of
// every committed capture (CAPTURE.rtpstreams.txt, written by
// scripts/corpus/rtp-streams-reference).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/StreamAnalysis.h"
#include "capture/StreamStatistics.h"
#include "view/BarChart.h"

namespace fennik {
namespace {

// Packets of 20 ms at 8 kHz (160 timestamp units), sequence numbers as given, arriving on time.
StreamFigures Sequence(const std::vector<int>& seqs, uint32_t ssrc = 1) {
  StreamStatistics s;
  int64_t t = 0;
  for (int q : seqs) {
    const uint16_t seq = static_cast<uint16_t>(q);
    s.Add({t, ssrc, seq, static_cast<uint32_t>(seq) * 160u, 0, false, 160, 8000});
    t += 20000;
  }
  return s.Figures();
}

TEST(StreamStatistics, LossDuplicateAndReorder) {
  // 12 late, 13 repeated, 15 and 16 missing: expected 10..17 = 8, received 7, lost 1 (the
  // duplicate makes up for one loss, as RFC 3550 A.3 counts).
  StreamFigures f = Sequence({10, 11, 13, 12, 13, 14, 17});
  EXPECT_EQ(f.packets, 7u);
  EXPECT_EQ(f.expected, 8);
  EXPECT_EQ(f.lost, 1);
  EXPECT_DOUBLE_EQ(f.lossPercent, 12.5);
  EXPECT_EQ(f.duplicates, 1u);
  EXPECT_EQ(f.outOfOrder, 1u);
  EXPECT_EQ(f.sequenceErrors, 3u);  // 11->13, 13->12, 14->17
  EXPECT_EQ(f.sequenceRestarts, 0u);
  // A duplicate further back than the newest number, and a late packet after a wrap.
  f = Sequence({65533, 65534, 65535, 0, 65534, 2, 1});
  EXPECT_EQ(f.expected, 6);
  EXPECT_EQ(f.lost, -1);
  EXPECT_EQ(f.duplicates, 1u);
  EXPECT_EQ(f.outOfOrder, 1u);
}

TEST(StreamStatistics, RestartsAndTimestampJumps) {
  // Wrap-around is no loss.
  StreamFigures f = Sequence({65534, 65535, 0, 1});
  EXPECT_EQ(f.expected, 4);
  EXPECT_EQ(f.lost, 0);
  EXPECT_EQ(f.sequenceErrors, 0u);
  // A large jump followed by its successor starts a new run (RFC 3550 A.1); both runs count.
  f = Sequence({100, 101, 40000, 40001});
  EXPECT_EQ(f.sequenceRestarts, 1u);
  EXPECT_EQ(f.expected, 4);
  EXPECT_EQ(f.lost, 0);
  // A single stray number is neither received nor expected.
  f = Sequence({100, 101, 40000, 102});
  EXPECT_EQ(f.sequenceRestarts, 0u);
  EXPECT_EQ(f.expected, 3);
  EXPECT_EQ(f.lost, 0);
  // A new SSRC on the same addresses.
  StreamStatistics s;
  s.Add({0, 1, 5, 0, 0, false, 160, 8000});
  s.Add({20000, 1, 6, 160, 0, true, 160, 8000});
  s.Add({40000, 2, 1000, 9999, 8, false, 160, 8000});
  s.Add({60000, 2, 1001, 9999 - 160, 8, false, 160, 8000});  // timestamp goes back
  f = s.Figures();
  EXPECT_EQ(f.sequenceRestarts, 1u);
  EXPECT_EQ(f.expected, 4);
  EXPECT_EQ(f.ssrc, 2u);
  EXPECT_EQ(f.timestampJumps, 1u);
  EXPECT_EQ(f.markers, 1u);
  EXPECT_EQ(f.payloadTypes.count(), 2u);
  EXPECT_TRUE(f.payloadTypes.test(8));
}

TEST(StreamStatistics, JitterDeltasAndBitRateByHand) {
  // Arrivals 0, 20, 45, 60 ms for timestamps 20 ms apart: D = 0, +5, -5 ms, so
  // J = 0, 5/16 = 0.3125, 0.3125 + (5 - 0.3125)/16 = 0.60546875 ms.
  StreamStatistics s;
  const int64_t at[] = {0, 20000, 45000, 60000};
  for (uint32_t i = 0; i < 4; ++i) s.Add({at[i], 7, static_cast<uint16_t>(i), 4294967000u + i * 160, 0, false, 160, 8000});
  StreamFigures f = s.Figures();
  EXPECT_DOUBLE_EQ(f.maxJitterMs, 0.60546875);
  EXPECT_DOUBLE_EQ(f.meanJitterMs, (0.3125 + 0.60546875) / 3);
  EXPECT_DOUBLE_EQ(f.minDeltaMs, 15);
  EXPECT_DOUBLE_EQ(f.meanDeltaMs, 20);
  EXPECT_DOUBLE_EQ(f.maxDeltaMs, 25);
  EXPECT_DOUBLE_EQ(f.meanBitRate, 4 * 160 * 8 / 0.06);
  // Without a clock rate there is no jitter.
  StreamStatistics unknown;
  for (uint32_t i = 0; i < 4; ++i) unknown.Add({at[i], 7, static_cast<uint16_t>(i), i * 160, 96, false, 160, 0});
  EXPECT_EQ(unknown.Figures().maxJitterMs, 0);
}

// RFC 3611 4.7.2 with Gmin 16 on a hand-worked pattern of 75 positions: 20 received, lost,
// received, lost, lost, 20 received, lost, 30 received. The three losses closer than 16
// received packets form one burst of 4 positions (density 3/4); the loss with 20 received
// on either side is isolated and stays in the gap (1 loss in 71 gap positions, two gaps of
// 35.5 on average). Transitions: 67 received->received, 3 received->lost, 3 lost->received,
// 1 lost->lost, so p = 3/70, q = 3/4 and BurstR = 1 / (p + q) = 280/222.
std::vector<int> BurstPattern(int first, int leadingReceived) {
  std::vector<int> seqs;
  int seq = first;
  auto received = [&](int n) { for (int i = 0; i < n; ++i) seqs.push_back(seq++); };
  auto lost = [&] { ++seq; };
  received(leadingReceived + 20);
  lost(); received(1); lost(); lost(); received(20); lost(); received(30);
  return seqs;
}

TEST(StreamStatistics, LossBurstsByHand) {
  StreamFigures f = Sequence(BurstPattern(0, 0));
  const LossBurstFigures& b = f.bursts;
  EXPECT_EQ(b.positions, 75u);
  EXPECT_EQ(b.losses, 4u);
  EXPECT_EQ(b.bursts, 1u);
  EXPECT_EQ(b.burstPositions, 4u);
  EXPECT_DOUBLE_EQ(b.burstDensity, 0.75);
  EXPECT_DOUBLE_EQ(b.gapDensity, 1.0 / 71);
  EXPECT_EQ(b.gaps, 2u);
  EXPECT_DOUBLE_EQ(b.meanGapPackets, 35.5);
  EXPECT_DOUBLE_EQ(b.burstR, 280.0 / 222);
  EXPECT_DOUBLE_EQ(f.packetIntervalMs, 20.0 * 70 / 74);  // 71 packets 20 ms apart over 75 positions
  // The same after 2000 more received packets across the sequence wrap: the positions leave
  // the 1024-number window during the pass, and a late packet is not a loss.
  std::vector<int> seqs = BurstPattern(64000, 2000);
  std::swap(seqs[1500], seqs[1501]);
  f = Sequence(seqs);
  EXPECT_EQ(f.lost, 4);
  EXPECT_EQ(f.outOfOrder, 1u);
  EXPECT_EQ(f.bursts.positions, 2075u);
  EXPECT_EQ(f.bursts.losses, 4u);
  EXPECT_DOUBLE_EQ(f.bursts.burstDensity, 0.75);
  EXPECT_DOUBLE_EQ(f.bursts.gapDensity, 1.0 / 2071);
  EXPECT_EQ(f.bursts.gaps, 2u);
  // The burst's span as the loss chart shades it: positions 20 to 23 of the first pattern.
  LossBursts kept;
  std::vector<LossBurstSpan> spans;
  kept.KeepSpans(&spans);
  for (int seq = 0, i = 0; i < 71; ++seq) {
    const bool received = BurstPattern(0, 0)[static_cast<size_t>(i)] == seq;
    kept.Add(!received);
    i += received;
  }
  // The isolated loss at 44 closed the burst; Figures and Finish add no burst of one loss.
  EXPECT_EQ(kept.Figures().bursts, 1u);
  kept.Finish();
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].first, 20u);
  EXPECT_EQ(spans[0].last, 23u);
  // No loss: one gap, no burst, BurstR 1.
  f = Sequence({1, 2, 3});
  EXPECT_EQ(f.bursts.bursts, 0u);
  EXPECT_EQ(f.bursts.gaps, 1u);
  EXPECT_DOUBLE_EQ(f.bursts.burstR, 1.0);
}

TEST(StreamStatistics, JitterBufferDiscardsByHand) {
  // 20 ms packets; arrivals late against the first packet's transit by the given ms. With
  // 60 ms of buffer the packets 61 and 75 ms late are discarded (60 is still in time), with
  // 100 ms none, without a buffer none; a late packet after a loss joins it in a burst.
  const double lateMs[] = {0, 10, 60, 61, 30, 75, 0, 0, 0, 0};
  auto run = [&](double depth, bool dropSix) {
    StreamStatistics s(depth);
    for (uint16_t i = 0; i < 10; ++i) {
      if (dropSix && i == 6) continue;
      s.Add({i * 20000 + static_cast<int64_t>(lateMs[i] * 1000), 3, i, i * 160u, 0, false, 160, 8000});
    }
    return s.Figures();
  };
  StreamFigures f = run(60, false);
  EXPECT_EQ(f.discarded, 2u);
  EXPECT_DOUBLE_EQ(f.discardPercent, 20);
  EXPECT_EQ(f.lossDiscardBursts.bursts, 1u);  // positions 3 and 5, 1 received between
  EXPECT_EQ(f.lossDiscardBursts.burstPositions, 3u);
  EXPECT_EQ(f.bursts.losses, 0u);
  EXPECT_EQ(run(100, false).discarded + run(0, false).discarded, 0u);
  f = run(60, true);
  EXPECT_EQ(f.lost + static_cast<int64_t>(f.discarded), 3);
  EXPECT_EQ(f.lossDiscardBursts.burstPositions, 4u);  // 3 to 6
  // Comfort noise or event packets are not played out; the media after them still is.
  StreamStatistics s;
  s.Add({0, 3, 0, 0, 0, false, 160, 8000});
  s.Add({200000, 3, 1, 160, 13, false, 1, 8000, false});
  s.Add({220000, 3, 2, 320, 0, false, 160, 8000});
  EXPECT_EQ(s.Figures().discarded, 1u);
}

// One row of tshark's RTP stream summary.
struct TsharkRow {
  std::string src, dst;
  uint32_t ssrc;
  uint64_t packets;
  int64_t lost;
  double minDelta, maxDelta, minJitter, meanJitter, maxJitter;
};

std::vector<TsharkRow> ReadTsharkRows(const std::string& path) {
  std::vector<TsharkRow> rows;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (!w.empty() && w.back() == "X") w.pop_back();  // tshark's "problems" mark
    if (w.size() < 16) continue;
    const size_t n = w.size();
    TsharkRow r;
    r.src = w[2] + ":" + w[3];
    r.dst = w[4] + ":" + w[5];
    r.ssrc = static_cast<uint32_t>(std::stoul(w[6], nullptr, 16));
    r.packets = std::stoull(w[n - 9]);
    r.lost = std::stoll(w[n - 8]);
    r.minDelta = std::stod(w[n - 6]);
    r.maxDelta = std::stod(w[n - 4]);
    r.minJitter = std::stod(w[n - 3]);
    r.meanJitter = std::stod(w[n - 2]);
    r.maxJitter = std::stod(w[n - 1]);
    rows.push_back(r);
  }
  return rows;
}

std::string Endpoint(uint32_t address, uint16_t port) {
  return std::string(FormatIpv4(address).text) + ":" + std::to_string(port);
}

// The stream analysis charts of one stream: the loss chart's slices hold the sequence
// positions and losses the statistics counted (runs without restarts), its bursts are the
// statistics' bursts, and the jitter histogram holds one sample per jitter value with the
// maximum in its highest bin.
void CheckChartData(const CRTP_Parser& capture, uint32_t stream, const StreamFigures& f) {
  const LossTimeline t = BuildLossTimeline(capture, stream, 40);
  uint64_t positions = 0, lost = 0;
  for (size_t i = 0; i < t.positions.size(); ++i) {
    positions += t.positions[i];
    lost += t.lost[i];
  }
  EXPECT_EQ(lost, t.totalLost);
  if (f.sequenceRestarts == 0) {
    EXPECT_EQ(static_cast<int64_t>(positions), f.expected);
    EXPECT_EQ(t.totalLost, f.bursts.losses);
    EXPECT_EQ(t.bursts.size(), f.bursts.bursts);
  }
  size_t highest = 0;
  uint64_t samples = 0;
  for (size_t bin = 0; bin < kJitterBins; ++bin) {
    samples += f.jitterHistogram[bin];
    if (f.jitterHistogram[bin] > 0) highest = bin;
  }
  if (f.maxJitterMs > 0) {
    EXPECT_EQ(highest, JitterBin(f.maxJitterMs));
  }
  EXPECT_EQ(JitterHistogram(f, 0).values.size(), samples > 0 ? kJitterBins : 0u);
  if (f.clockRate != 0 && f.packets > 1 && f.payloadTypes.count() == 1) {
    EXPECT_EQ(samples, f.packets - 1);
  }
}

TEST(StreamAnalysis, BarChartScaleTop) {
  const std::pair<double, double> tops[] = {{0, 1}, {0.3, 0.5}, {1, 1}, {1.2, 2}, {37, 50}, {500, 500}, {501, 1000}};
  for (const auto& [max, top] : tops) EXPECT_DOUBLE_EQ(BarChartTop(max), top) << max;
  EXPECT_EQ(BarChartValueText(0.2), "0.2");
  EXPECT_EQ(JitterBin(0.05), 0u);
  EXPECT_EQ(JitterBin(0.1), 1u);  // a bin runs from its edge up
  EXPECT_EQ(JitterBin(1e6), kJitterBins - 1);
}

TEST(StreamStatistics, EqualsTsharkOnCommittedCaptures) {
  namespace fs = std::filesystem;
  const std::string suffix = ".rtpstreams.txt";
  int compared = 0, timed = 0;
  for (const auto& entry : fs::directory_iterator(std::string(FENNIK_TEST_DATA) + "/captures")) {
    const std::string ref = entry.path().string();
    if (ref.size() <= suffix.size() || ref.compare(ref.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    const std::string capturePath = ref.substr(0, ref.size() - suffix.size());
    SCOPED_TRACE(capturePath);
    CRTP_Parser capture;
    ASSERT_EQ(capture.Open(capturePath), OpenResult::kOk);
    capture.Analyse(nullptr);
    // Key presses travel only in the calls that were made with them.
    if (capturePath.find("/call-") == std::string::npos) {
      EXPECT_TRUE(capture.TelephoneEvents().Events().empty());
    }
    std::map<std::tuple<std::string, std::string, uint32_t>, uint32_t> index;
    for (uint32_t i = 0; i < capture.Streams().size(); ++i) {
      const RtpStreamEntry& s = capture.Streams()[i];
      index[{Endpoint(s.sourceAddress, s.sourcePort), Endpoint(s.destinationAddress, s.destinationPort),
             capture.Statistics().Figures(i).ssrc}] = i;
    }
    for (const TsharkRow& r : ReadTsharkRows(ref)) {
      SCOPED_TRACE(r.src + " -> " + r.dst);
      auto it = index.find({r.src, r.dst, r.ssrc});
      if (it == index.end()) {
        // Streams this analysis does not list: IPv6 and ports below 1024.
        const bool ipv6 = r.src.find("::") != std::string::npos || r.src.find(':') != r.src.rfind(':');
        const bool lowPort = std::stoi(r.src.substr(r.src.rfind(':') + 1)) < 1024 ||
                             std::stoi(r.dst.substr(r.dst.rfind(':') + 1)) < 1024;
        EXPECT_TRUE(ipv6 || lowPort) << "stream not found";
        continue;
      }
      const StreamFigures f = capture.Statistics().Figures(it->second);
      CheckChartData(capture, it->second, f);
      EXPECT_EQ(f.packets, r.packets);
      EXPECT_EQ(f.lost, r.lost);
      ++compared;
      // tshark leaves packets with the marker bit out of max delta and treats them apart in
      // its jitter (a marker on the first packet changes nothing), so streams with more
      // markers are compared on loss only (see the captures' README). It prints -1 as minimum when it computed no delta or, without a clock rate
      // for the payload type, no jitter. It rounds to 1 us and reads nanosecond times,
      // where the pass keeps microseconds: 1.1 us tolerance.
      if (r.minDelta < 0 || f.markers > 1) continue;
      constexpr double kTolerance = 0.0011;
      EXPECT_NEAR(f.maxDeltaMs, r.maxDelta, kTolerance);
      // tshark 4.0 computes the jitter of L16 stereo (PT 10) with 44000 Hz, not RFC 3551's
      // 44100 Hz: RFC 3550 A.8 with 44000 Hz gives its 8.115/10.980 ms, with 44100 Hz ours
      // 8.108/10.971 ms. Deltas still agree.
      const bool l16Stereo = r.ssrc == 0x0D16000Au;
      if (r.minJitter >= 0 && !l16Stereo) {
        EXPECT_NEAR(f.meanJitterMs, r.meanJitter, kTolerance);
        EXPECT_NEAR(f.maxJitterMs, r.maxJitter, kTolerance);
      }
      ++timed;
    }
  }
  EXPECT_GE(compared, 360);
  EXPECT_GE(timed, 350);
}

}  // namespace
}  // namespace fennik
