// The content of the desktop program's "Stream analysis" dialog, toolkit-free: one row per
// RTP stream with its call-quality figures and the E-model estimate, the rule that marks the
// worst streams, the rows of the RTCP and telephone-event tables, and the data of a
// stream's loss chart and jitter histogram. The dialog only puts these into widgets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/EModel.h"
#include "capture/RtpTables.h"
#include "capture/StreamStatistics.h"
#include "view/BarChart.h"

namespace fennik {

class CRTP_Parser;

// R and MOS of a stream, or false when no Ie/Bpl is known for its codec. The effective
// packet loss counts the jitter buffer's discards with the losses (G.107 Ppl), and BurstR
// comes from the bursts of both.
bool EstimateStreamQuality(const RtpStreamEntry& stream, const StreamFigures& f, QualityEstimate& q);

// The worst streams: an estimated R below 80 (G.107 Annex B's "some users dissatisfied"
// and worse; MOS below about 4.0), or 1 % or more of the expected packets lost or
// discarded by the simulated jitter buffer (which also rates streams without an estimate).
constexpr double kWorstRFactor = 80;
constexpr double kWorstLossPercent = 1;
bool IsWorstStream(const StreamFigures& f, bool rated, const QualityEstimate& q);

// A table's content: column titles, and per row its cells, whether it is highlighted and
// the stream it names (-1: none; a double-click goes there).
struct AnalysisCell {
  std::string text;
  double value = 0;      // what the column sorts by
  bool numeric = false;  // sort by value (else by text); right-aligned
};
struct AnalysisTable {
  std::vector<std::string> titles;
  std::vector<std::vector<AnalysisCell>> rows;
  std::vector<bool> highlighted;
  std::vector<int32_t> streams;
};

// Columns of the stream table, in order, the verdict first (kColQuality: "poor" on the
// highlighted rows).
enum StreamColumn : int {
  kColStream, kColQuality, kColMos, kColRFactor, kColCodec, kColSource, kColDestination, kColSsrc, kColPackets,
  kColExpected, kColLost, kColLossPercent, kColDuplicates, kColOutOfOrder, kColMaxDelta, kColMeanJitter,
  kColMaxJitter, kColBurstDensity, kColGapDensity, kColDiscarded, kStreamColumns
};

// One row per stream of the capture (its figures after the pass).
AnalysisTable StreamAnalysisTable(const CRTP_Parser& capture, int language);
// One row per report block of an SR or RR (an SR or RR without blocks, SDES, BYE, APP and
// XR packets one row each; an XR's VoIP metrics blocks one row each). Times in seconds
// from the capture's first record.
AnalysisTable RtcpAnalysisTable(const CRTP_Parser& capture, int language);
// One row per telephone event.
AnalysisTable EventAnalysisTable(const CRTP_Parser& capture, int language);

// The note under the stream table: that R and MOS are estimates, the jitter buffer's
// depth and the highlight rule.
std::string StreamAnalysisNote(const CRTP_Parser& capture, int language);

// Where a stream's sequence positions were lost over its time, in `bins` equal slices from
// its first to its last packet: a position (a sequence number between the first and the
// highest received, per run of the sequence) that never arrived counts as lost at the
// capture time of the packet that revealed the gap. Bursts follow RFC 3611 4.7.2 (Gmin 16)
// over the same positions.
struct LossTimeline {
  uint64_t firstMs = 0;           // capture time of the stream's first and last packet,
  uint64_t lastMs = 0;            // ms from the capture's first record
  std::vector<uint32_t> positions;  // per slice: sequence positions
  std::vector<uint32_t> lost;       // per slice: of those, never received
  uint64_t totalLost = 0;
  struct Span {
    uint64_t fromMs, toMs;
  };
  std::vector<Span> bursts;
};
// Sequence numbers are followed with RFC 3550 A.1's limits: up to 2999 ahead is in order
// (the numbers between are missing until they arrive), up to 100 behind is late, any other
// jump starts a new run at once.
LossTimeline BuildLossTimeline(const CRTP_Parser& capture, uint32_t streamIndex, size_t bins);

// The loss chart: per slice the percentage of positions lost, bursts shaded.
BarChart LossChart(const LossTimeline& timeline, int language);
// The jitter histogram: how many packets saw the running jitter in each bin.
BarChart JitterHistogram(const StreamFigures& f, int language);

}  // namespace fennik
