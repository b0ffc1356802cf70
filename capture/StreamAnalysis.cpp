#include "capture/StreamAnalysis.h"

#include <algorithm>
#include <cinttypes>

#include "capture/CRTP_Parser.h"
#include "capture/LossBursts.h"
#include "capture/PacketRecord.h"
#include "capture/RtcpReports.h"
#include "capture/TelephoneEvents.h"
#include "view/NumberFormat.h"

namespace fennik {
namespace {

const char* Tr(int language, const char* en, const char* ja) { return language == 1 ? ja : en; }

AnalysisCell Text(std::string text) { return {std::move(text), 0, false}; }
AnalysisCell Number(double value, const char* format) { return {Printf(format, value), value, true}; }
AnalysisCell Count(int64_t value) { return {Printf("%" PRId64, value), static_cast<double>(value), true}; }
// A figure that may be missing: blank, sorted below every present one.
AnalysisCell Optional(bool present, double value, const char* format) {
  return present ? Number(value, format) : AnalysisCell{"-", -1e300, true};
}
AnalysisCell Hex(uint32_t value) { return {Printf("0x%08X", value), static_cast<double>(value), false}; }
AnalysisCell StreamCell(int32_t index) { return index < 0 ? Text("") : Count(index + 1); }

std::string Endpoint(uint32_t address, uint16_t port) {
  return std::string(FormatIpv4(address).text) + ":" + std::to_string(port);
}

double Seconds(const CRTP_Parser& capture, int64_t captureUs) {
  return static_cast<double>(captureUs - capture.ReferenceUs()) / 1e6;
}

struct Title {
  const char* en;
  const char* ja;
};

std::vector<std::string> Titles(std::initializer_list<Title> titles, int language) {
  std::vector<std::string> out;
  for (const Title& t : titles) out.emplace_back(Tr(language, t.en, t.ja));
  return out;
}

std::vector<AnalysisCell> StreamCells(uint32_t index, const RtpStreamEntry& st, const StreamFigures& f, bool rated,
                                      const QualityEstimate& q) {
  std::vector<AnalysisCell> c(kStreamColumns);
  c[kColStream] = Count(index + 1);
  c[kColSource] = Text(Endpoint(st.sourceAddress, st.sourcePort));
  c[kColDestination] = Text(Endpoint(st.destinationAddress, st.destinationPort));
  c[kColSsrc] = Hex(f.ssrc);
  c[kColCodec] = Text(st.encodingName[0] ? st.encodingName : Printf("PT %u", st.payloadType));
  c[kColPackets] = Count(static_cast<int64_t>(f.packets));
  c[kColExpected] = Count(f.expected);
  c[kColLost] = Count(f.lost);
  c[kColLossPercent] = Number(f.lossPercent, "%.2f");
  c[kColDuplicates] = Count(static_cast<int64_t>(f.duplicates));
  c[kColOutOfOrder] = Count(static_cast<int64_t>(f.outOfOrder));
  c[kColMaxDelta] = Number(f.maxDeltaMs, "%.3f");
  const bool timed = f.clockRate != 0;
  c[kColMeanJitter] = Optional(timed, f.meanJitterMs, "%.3f");
  c[kColMaxJitter] = Optional(timed, f.maxJitterMs, "%.3f");
  c[kColBurstDensity] = Number(f.bursts.burstDensity * 100, "%.2f");
  c[kColGapDensity] = Number(f.bursts.gapDensity * 100, "%.2f");
  c[kColDiscarded] = Count(static_cast<int64_t>(f.discarded));
  c[kColRFactor] = Optional(rated, q.r, "%.1f");
  c[kColMos] = Optional(rated, q.mos, "%.2f");
  return c;
}

// Jitter of a report block in the reported stream's clock, when that is known.
std::string JitterText(const CRTP_Parser& capture, uint32_t jitter, int32_t streamIndex) {
  const auto& streams = capture.Streams();
  const uint32_t rate = streamIndex >= 0 && static_cast<size_t>(streamIndex) < streams.size()
                            ? streams[static_cast<size_t>(streamIndex)].clockRate : 0;
  if (rate == 0) return Printf("%u", jitter);
  return Printf("%u (%.2f ms)", jitter, jitter * 1000.0 / rate);
}

std::string RtcpDetails(const RtcpEntry& e, int language) {
  switch (e.packetType) {
    case kRtcpSr:
      return Printf(Tr(language, "sent %u packets, %u octets", "送信 %u パケット, %u オクテット"), e.senderPackets,
                    e.senderOctets);
    case kRtcpSdes: {
      std::string out;
      for (const RtcpSdesChunk& c : e.chunks) out += (out.empty() ? "CNAME " : ", CNAME ") + c.cname;
      return out;
    }
    case kRtcpBye: return e.text;
    case kRtcpApp: return Printf(Tr(language, "name %s, subtype %u", "名前 %s, サブタイプ %u"), e.text.c_str(), e.count);
    case kRtcpXr: {
      std::string out;
      for (const uint8_t t : e.xrBlockTypes) out += (out.empty() ? "" : ", ") + XrBlockTypeName(t);
      return out;
    }
    default: return "";
  }
}

// The cells every row of one RTCP packet shares.
std::vector<AnalysisCell> RtcpPacketCells(const CRTP_Parser& capture, const RtcpEntry& e) {
  return {Count(e.packetNumber), Number(Seconds(capture, e.captureUs), "%.3f"), Count(e.compound + 1),
          Text(RtcpTypeName(e.packetType)), Hex(e.ssrc), StreamCell(e.streamIndex)};
}

// An unavailable (127) VoIP metrics field.
std::string MetricText(uint8_t value, double scale) {
  return value == 127 ? "-" : Printf("%g", value / scale);
}

void AddRtcpRows(const CRTP_Parser& capture, const RtcpEntry& e, int language, AnalysisTable& t) {
  const auto add = [&](std::vector<AnalysisCell> tail, int32_t stream) {
    std::vector<AnalysisCell> row = RtcpPacketCells(capture, e);
    row.insert(row.end(), tail.begin(), tail.end());
    t.rows.push_back(std::move(row));
    t.highlighted.push_back(false);
    t.streams.push_back(stream);
  };
  for (const RtcpReportBlock& r : e.reports) {
    add({Hex(r.sourceSsrc), StreamCell(r.streamIndex),
         {Printf("%.1f%% (%u/256)", r.fractionLost * 100.0 / 256, r.fractionLost), static_cast<double>(r.fractionLost), true},
         Count(r.cumulativeLost), {JitterText(capture, r.jitter, r.streamIndex), static_cast<double>(r.jitter), true},
         Optional(r.haveRoundTrip, r.roundTripMs, "%.3f"), Text(RtcpDetails(e, language))},
        r.streamIndex);
  }
  for (const RtcpVoipMetrics& m : e.voipMetrics) {
    const std::string details = Printf(
        Tr(language, "VoIP metrics: discard %.1f%%, burst density %.1f%%, gap density %.1f%%, R %s, MOS-LQ %s",
           "VoIP メトリクス: 廃棄 %.1f%%, バースト密度 %.1f%%, ギャップ密度 %.1f%%, R %s, MOS-LQ %s"),
        m.discardRate * 100.0 / 256, m.burstDensity * 100.0 / 256, m.gapDensity * 100.0 / 256,
        MetricText(m.rFactor, 1).c_str(), MetricText(m.mosLq, 10).c_str());
    add({Hex(m.sourceSsrc), StreamCell(m.streamIndex),
         {Printf("%.1f%% (%u/256)", m.lossRate * 100.0 / 256, m.lossRate), static_cast<double>(m.lossRate), true},
         Text(""), Text(""), Optional(true, m.roundTripDelay, "%.0f"), Text(details)},
        m.streamIndex);
  }
  const bool blocks = !e.reports.empty() || !e.voipMetrics.empty();
  if (!blocks || e.packetType == kRtcpXr) {
    add({Text(""), Text(""), Text(""), Text(""), Text(""), Text(""), Text(RtcpDetails(e, language))}, e.streamIndex);
  }
}

}  // namespace

bool EstimateStreamQuality(const RtpStreamEntry& stream, const StreamFigures& f, QualityEstimate& q) {
  const CodecImpairment* codec = FindCodecImpairment(stream.encodingName);
  if (codec == nullptr || f.packets == 0) return false;
  q = EstimateQuality(*codec, f.lossPercent + f.discardPercent, f.lossDiscardBursts.burstR);
  return true;
}

bool IsWorstStream(const StreamFigures& f, bool rated, const QualityEstimate& q) {
  return (rated && q.r < kWorstRFactor) || f.lossPercent + f.discardPercent >= kWorstLossPercent;
}

AnalysisTable StreamAnalysisTable(const CRTP_Parser& capture, int language) {
  AnalysisTable t;
  t.titles = Titles({{"Stream", "ストリーム"}, {"Quality", "品質"}, {"MOS\n(estimate)", "MOS\n(推定)"},
                     {"R\n(estimate)", "R\n(推定)"}, {"Codec", "コーデック"}, {"Source", "送信元"},
                     {"Destination", "宛先"}, {"SSRC", "SSRC"}, {"Packets", "パケット数"}, {"Expected", "期待数"},
                     {"Lost", "損失数"}, {"Loss\n%", "損失率\n%"}, {"Dupli-\ncates", "重複"},
                     {"Out of\norder", "順序\n違い"}, {"Max delta\nms", "最大間隔\nms"},
                     {"Mean jitter\nms", "平均ジッタ\nms"}, {"Max jitter\nms", "最大ジッタ\nms"},
                     {"Burst\ndensity %", "バースト\n密度 %"}, {"Gap\ndensity %", "ギャップ\n密度 %"},
                     {"Dis-\ncarded", "廃棄数"}},
                    language);
  for (uint32_t i = 0; i < capture.Streams().size(); ++i) {
    const StreamFigures f = capture.Statistics().Figures(i);
    QualityEstimate q;
    const bool rated = EstimateStreamQuality(capture.Streams()[i], f, q);
    const bool worst = IsWorstStream(f, rated, q);
    t.rows.push_back(StreamCells(i, capture.Streams()[i], f, rated, q));
    t.rows.back()[kColQuality] = Text(worst ? Tr(language, "poor", "不良") : "");
    t.highlighted.push_back(worst);
    t.streams.push_back(static_cast<int32_t>(i));
  }
  return t;
}

AnalysisTable RtcpAnalysisTable(const CRTP_Parser& capture, int language) {
  AnalysisTable t;
  t.titles = Titles({{"Packet", "パケット\n番号"}, {"Time\ns", "時刻\n秒"}, {"Com-\npound", "複合\nパケット"},
                     {"Type", "種別"}, {"Sender\nSSRC", "送信者\nSSRC"}, {"Stream", "ストリーム"},
                     {"Report on\nSSRC", "報告対象\nSSRC"}, {"Its\nstream", "対象\nストリーム"},
                     {"Fraction\nlost", "損失\n割合"}, {"Cumulative\nlost", "累積\n損失数"}, {"Jitter", "ジッタ"},
                     {"RTT\nms", "往復遅延\nms"}, {"Details", "詳細"}},
                    language);
  for (size_t i = 0; i < capture.Rtcp().Size(); ++i) AddRtcpRows(capture, capture.Rtcp().Entry(i), language, t);
  return t;
}

AnalysisTable EventAnalysisTable(const CRTP_Parser& capture, int language) {
  AnalysisTable t;
  t.titles = Titles({{"Stream", "ストリーム"}, {"Digit", "ディジット"}, {"Event", "イベント"}, {"Packet", "パケット番号"},
                     {"Start s", "開始 秒"}, {"Duration ms", "継続時間 ms"}, {"Volume dBm0", "音量 dBm0"},
                     {"End", "終了"}, {"Packets", "パケット数"}},
                    language);
  for (const TelephoneEvent& ev : capture.TelephoneEvents().Events()) {
    t.rows.push_back({Count(ev.streamIndex + 1), Text(TelephoneEventName(ev.event)), Count(ev.event),
                      Count(ev.firstPacketNumber), Number(Seconds(capture, ev.startUs), "%.3f"),
                      Number(ev.DurationMs(), "%.1f"), Count(-int64_t{ev.volume}),
                      Text(ev.end ? Tr(language, "yes", "あり") : Tr(language, "no", "なし")),
                      Count(ev.packets)});
    t.highlighted.push_back(false);
    t.streams.push_back(static_cast<int32_t>(ev.streamIndex));
  }
  return t;
}

std::string StreamAnalysisNote(const CRTP_Parser& capture, int language) {
  const double depth = capture.Statistics().JitterBufferMs();
  return Printf(Tr(language,
                   "R and MOS are estimates (ITU-T G.107 E-model from loss, jitter-buffer discards, burstiness and the "
                   "G.113 Appendix I codec values; delay left out), not a measurement of the speech. Discards: a fixed "
                   "jitter buffer of %.0f ms. Highlighted: R below %.0f, or %.0f %% or more of the packets lost or "
                   "discarded.",
                   "R と MOS は推定値です (ITU-T G.107 E モデル: 損失, ジッタバッファでの廃棄, バースト性, G.113 付録 I "
                   "のコーデック値から算出, 遅延は含みません)。音声の測定値ではありません。廃棄数: %.0f ms の固定ジッタ"
                   "バッファ。強調表示: R が %.0f 未満, または損失と廃棄がパケットの %.0f %% 以上。"),
                depth, kWorstRFactor, kWorstLossPercent);
}

LossTimeline BuildLossTimeline(const CRTP_Parser& capture, uint32_t streamIndex, size_t bins) {
  struct Position {
    uint64_t ms;
    bool received;
  };
  std::vector<Position> positions;
  int64_t base = 0;         // extended number of the run's first position, and its index
  size_t runStart = 0;
  int64_t highest = 0;
  for (const uint64_t row : capture.StreamPacketIndices(streamIndex)) {
    const RtpPacketEntry* e = capture.Packets().GetEntry(row, nullptr);
    if (e == nullptr) continue;
    const uint16_t ahead = static_cast<uint16_t>(e->sequenceNumber - static_cast<uint16_t>(highest));
    if (!positions.empty() && ahead == 0) continue;  // a duplicate
    if (!positions.empty() && ahead < 3000) {
      for (uint16_t k = 1; k < ahead; ++k) positions.push_back({e->captureTime, false});
      positions.push_back({e->captureTime, true});
      highest += ahead;
    } else if (!positions.empty() && ahead >= 0x10000 - 100) {
      const int64_t index = highest - (0x10000 - ahead) - base + static_cast<int64_t>(runStart);
      if (index >= static_cast<int64_t>(runStart)) positions[static_cast<size_t>(index)].received = true;
    } else {
      runStart = positions.size();
      base = highest = int64_t{0x10000} + e->sequenceNumber;
      positions.push_back({e->captureTime, true});
    }
  }
  LossTimeline t;
  if (positions.empty() || bins == 0) return t;
  // Records need not be in time order: the slices span the earliest to the latest time.
  t.firstMs = positions.front().ms;
  for (const Position& p : positions) {
    t.firstMs = std::min(t.firstMs, p.ms);
    t.lastMs = std::max(t.lastMs, p.ms);
  }
  t.positions.assign(bins, 0);
  t.lost.assign(bins, 0);
  const uint64_t span = t.lastMs - t.firstMs + 1;
  LossBursts bursts;
  std::vector<LossBurstSpan> spans;
  bursts.KeepSpans(&spans);
  for (const Position& p : positions) {
    const size_t bin = static_cast<size_t>((p.ms - t.firstMs) * bins / span);
    ++t.positions[bin];
    if (!p.received) ++t.lost[bin];
    t.totalLost += p.received ? 0 : 1;
    bursts.Add(!p.received);
  }
  bursts.Finish();
  for (const LossBurstSpan& s : spans) {
    const uint64_t a = positions[s.first].ms, b = positions[s.last].ms;
    t.bursts.push_back({std::min(a, b), std::max(a, b)});
  }
  return t;
}

BarChart LossChart(const LossTimeline& timeline, int language) {
  BarChart c;
  c.title = Printf(Tr(language, "Loss over the stream (lost: %" PRIu64 ", bursts shaded: %zu)",
                      "ストリーム中の損失 (損失: %" PRIu64 ", 網掛けのバースト: %zu)"),
                   timeline.totalLost, timeline.bursts.size());
  c.valueUnit = "%";
  for (size_t i = 0; i < timeline.positions.size(); ++i) {
    c.values.push_back(timeline.positions[i] ? timeline.lost[i] * 100.0 / timeline.positions[i] : 0);
  }
  c.axisStart = Printf("%.1f s", static_cast<double>(timeline.firstMs) / 1000.0);
  c.axisEnd = Printf("%.1f s", static_cast<double>(timeline.lastMs) / 1000.0);
  const double span = static_cast<double>(timeline.lastMs - timeline.firstMs + 1);
  for (const LossTimeline::Span& b : timeline.bursts) {
    c.spans.push_back({static_cast<double>(b.fromMs - timeline.firstMs) / span,
                       static_cast<double>(b.toMs - timeline.firstMs + 1) / span});
  }
  c.emptyText = Tr(language, "no packets", "パケットなし");
  return c;
}

BarChart JitterHistogram(const StreamFigures& f, int language) {
  BarChart c;
  c.title = Tr(language, "Jitter histogram (RFC 3550, at each packet, ms)",
               "ジッタのヒストグラム (RFC 3550, パケットごと, ms)");
  c.valueUnit = Tr(language, " packets", " パケット");
  uint64_t total = 0;
  for (size_t i = 0; i < kJitterBins; ++i) {
    c.values.push_back(static_cast<double>(f.jitterHistogram[i]));
    total += f.jitterHistogram[i];
    if (i == 0) c.barLabels.push_back(Printf("<%g", kJitterBinEdgesMs[0]));
    else c.barLabels.push_back(Printf("%g", kJitterBinEdgesMs[i - 1]));
  }
  if (total == 0) {
    c.values.clear();
    c.barLabels.clear();
    c.emptyText = Tr(language, "no jitter (clock rate unknown or a single packet)",
                     "ジッタなし (クロックレート不明または1パケットのみ)");
  }
  return c;
}

}  // namespace fennik
