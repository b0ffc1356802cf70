// fennik-cli stats FILE [--json] [--jitter-buffer MS]: the call-quality figures of every RTP
// stream, the RTCP reports and the RFC 4733 telephone events, gathered by the analysis pass.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "capture/EModel.h"
#include "capture/RtcpReports.h"
#include "capture/StreamAnalysis.h"
#include "capture/StreamStatistics.h"
#include "capture/TelephoneEvents.h"
#include "cli/CaptureSession.h"

namespace fennik::cli {
namespace {

std::string Endpoint(uint32_t address, uint16_t port) {
  return std::string(FormatIpv4(address).text) + ":" + std::to_string(port);
}

std::string PayloadTypeList(const std::bitset<128>& types, const char* separator) {
  std::string out;
  for (uint32_t pt = 0; pt < 128; ++pt) {
    if (!types.test(pt)) continue;
    if (!out.empty()) out += separator;
    out += std::to_string(pt);
  }
  return out;
}

std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    const unsigned char ch = static_cast<unsigned char>(c);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += c;
    } else if (ch < 0x20 || ch >= 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", ch);
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "\"0x%08x\"", v);
  return text;
}

std::string StreamRef(int32_t index) { return index < 0 ? "null" : std::to_string(index + 1); }

std::string JsonNumber(bool present, double value) {
  if (!present) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

void PrintJsonStream(uint32_t id, const RtpStreamEntry& st, const StreamFigures& f, bool first) {
  QualityEstimate q;
  const bool rated = EstimateStreamQuality(st, f, q);
  std::printf("%s\n    {\"id\": %u, \"src\": \"%s\", \"dst\": \"%s\", \"ssrc\": \"0x%08x\", "
              "\"clock_rate\": %u, \"packets\": %" PRIu64 ", \"expected\": %" PRId64 ", "
              "\"lost\": %" PRId64 ", \"loss_percent\": %.3f, \"duplicates\": %" PRIu64 ", "
              "\"out_of_order\": %" PRIu64 ", \"sequence_errors\": %" PRIu64 ", "
              "\"sequence_restarts\": %" PRIu64 ", \"timestamp_jumps\": %" PRIu64 ", "
              "\"markers\": %" PRIu64 ", \"payload_types\": [%s], "
              "\"first_time_us\": %" PRId64 ", \"last_time_us\": %" PRId64 ", "
              "\"min_delta_ms\": %.3f, \"mean_delta_ms\": %.3f, \"max_delta_ms\": %.3f, "
              "\"mean_jitter_ms\": %.3f, \"max_jitter_ms\": %.3f, \"payload_bytes\": %" PRIu64 ", "
              "\"mean_bit_rate\": %.0f, \"burst_density\": %.4f, \"gap_density\": %.4f, "
              "\"bursts\": %" PRIu64 ", \"mean_burst_ms\": %.1f, \"mean_gap_ms\": %.1f, \"burst_r\": %.3f, "
              "\"r_factor\": %s, \"mos\": %s, \"jitter_buffer_ms\": %.0f, \"discarded\": %" PRIu64 ", "
              "\"discard_percent\": %.3f, \"loss_discard_burst_density\": %.4f, "
              "\"loss_discard_gap_density\": %.4f, \"loss_discard_burst_r\": %.3f}",
              first ? "" : ",", id, Endpoint(st.sourceAddress, st.sourcePort).c_str(),
              Endpoint(st.destinationAddress, st.destinationPort).c_str(), f.ssrc, f.clockRate,
              f.packets, f.expected, f.lost, f.lossPercent, f.duplicates, f.outOfOrder,
              f.sequenceErrors, f.sequenceRestarts, f.timestampJumps, f.markers,
              PayloadTypeList(f.payloadTypes, ", ").c_str(), f.firstUs, f.lastUs, f.minDeltaMs,
              f.meanDeltaMs, f.maxDeltaMs, f.meanJitterMs, f.maxJitterMs, f.payloadBytes,
              f.meanBitRate, f.bursts.burstDensity, f.bursts.gapDensity, f.bursts.bursts,
              f.meanBurstMs, f.meanGapMs, f.bursts.burstR, JsonNumber(rated, q.r).c_str(),
              JsonNumber(rated, q.mos).c_str(), f.jitterBufferMs, f.discarded, f.discardPercent,
              f.lossDiscardBursts.burstDensity, f.lossDiscardBursts.gapDensity, f.lossDiscardBursts.burstR);
}

void PrintTextStream(uint32_t id, const RtpStreamEntry& st, const StreamFigures& f) {
  std::printf("Stream %u  %s -> %s  SSRC 0x%08x  PT %s  clock %u Hz\n", id,
              Endpoint(st.sourceAddress, st.sourcePort).c_str(),
              Endpoint(st.destinationAddress, st.destinationPort).c_str(), f.ssrc,
              PayloadTypeList(f.payloadTypes, ",").c_str(), f.clockRate);
  std::printf("  packets %" PRIu64 "  expected %" PRId64 "  lost %" PRId64 " (%.2f%%)  duplicates %" PRIu64
              "  out of order %" PRIu64 "  sequence errors %" PRIu64 "  restarts %" PRIu64 "\n",
              f.packets, f.expected, f.lost, f.lossPercent, f.duplicates, f.outOfOrder,
              f.sequenceErrors, f.sequenceRestarts);
  std::printf("  markers %" PRIu64 "  timestamp jumps %" PRIu64 "  duration %.3f s  mean bit rate %.0f bit/s\n",
              f.markers, f.timestampJumps, static_cast<double>(f.lastUs - f.firstUs) / 1e6, f.meanBitRate);
  std::printf("  delta ms min %.3f mean %.3f max %.3f  jitter ms mean %.3f max %.3f%s\n", f.minDeltaMs,
              f.meanDeltaMs, f.maxDeltaMs, f.meanJitterMs, f.maxJitterMs,
              f.clockRate == 0 ? " (clock rate unknown: no jitter)" : "");
  std::printf("  bursts %" PRIu64 "  burst density %.2f%%  gap density %.2f%%  mean burst %.1f ms  mean gap %.1f ms  BurstR %.2f\n",
              f.bursts.bursts, f.bursts.burstDensity * 100, f.bursts.gapDensity * 100, f.meanBurstMs,
              f.meanGapMs, f.bursts.burstR);
  if (f.jitterBufferMs > 0) {
    std::printf("  jitter buffer %.0f ms: discarded %" PRIu64 " (%.2f%%)  loss+discard burst density %.2f%%  gap density %.2f%%\n",
                f.jitterBufferMs, f.discarded, f.discardPercent, f.lossDiscardBursts.burstDensity * 100,
                f.lossDiscardBursts.gapDensity * 100);
  }
  QualityEstimate q;
  if (EstimateStreamQuality(st, f, q)) {
    std::printf("  estimated R %.1f  MOS %.2f (E-model estimate from loss, discards and burstiness, delay left out)\n", q.r, q.mos);
  } else {
    std::printf("  no quality estimate (no impairment values for %s)\n", st.encodingName[0] ? st.encodingName : "an unknown codec");
  }
}

std::string JsonReportBlock(const RtcpReportBlock& r) {
  char text[400];
  std::snprintf(text, sizeof text,
                "{\"ssrc\": %s, \"stream\": %s, \"fraction_lost\": %u, \"cumulative_lost\": %d, "
                "\"extended_highest_seq\": %u, \"jitter\": %u, \"lsr\": %u, \"dlsr\": %u, \"round_trip_ms\": %s}",
                Hex32(r.sourceSsrc).c_str(), StreamRef(r.streamIndex).c_str(), r.fractionLost,
                r.cumulativeLost, r.extendedHighestSequence, r.jitter, r.lsr, r.dlsr,
                JsonNumber(r.haveRoundTrip, r.roundTripMs).c_str());
  return text;
}

std::string JsonVoipMetrics(const RtcpVoipMetrics& m) {
  char text[600];
  std::snprintf(text, sizeof text,
                "{\"ssrc\": %s, \"stream\": %s, \"loss_rate\": %u, \"discard_rate\": %u, "
                "\"burst_density\": %u, \"gap_density\": %u, \"burst_duration_ms\": %u, "
                "\"gap_duration_ms\": %u, \"round_trip_delay_ms\": %u, \"end_system_delay_ms\": %u, "
                "\"signal_level\": %d, \"noise_level\": %d, \"rerl\": %u, \"gmin\": %u, \"r_factor\": %u, "
                "\"ext_r_factor\": %u, \"mos_lq\": %u, \"mos_cq\": %u, \"rx_config\": %u, "
                "\"jb_nominal_ms\": %u, \"jb_maximum_ms\": %u, \"jb_abs_max_ms\": %u}",
                Hex32(m.sourceSsrc).c_str(), StreamRef(m.streamIndex).c_str(), m.lossRate, m.discardRate,
                m.burstDensity, m.gapDensity, m.burstDuration, m.gapDuration, m.roundTripDelay,
                m.endSystemDelay, m.signalLevel, m.noiseLevel, m.rerl, m.gmin, m.rFactor, m.extRFactor,
                m.mosLq, m.mosCq, m.rxConfig, m.jbNominal, m.jbMaximum, m.jbAbsMax);
  return text;
}

template <typename T, typename F>
std::string JsonList(const std::vector<T>& items, F each) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + each(items[i]);
  return out + "]";
}

void PrintJsonRtcp(const RtcpEntry& e, bool first) {
  std::string details;
  switch (e.packetType) {
    case kRtcpSr: {
      char text[160];
      std::snprintf(text, sizeof text,
                    ", \"ntp_msw\": %u, \"ntp_lsw\": %u, \"rtp_timestamp\": %u, \"sender_packets\": %u, "
                    "\"sender_octets\": %u",
                    static_cast<uint32_t>(e.ntpTimestamp >> 32), static_cast<uint32_t>(e.ntpTimestamp),
                    e.rtpTimestamp, e.senderPackets, e.senderOctets);
      details = text;
      [[fallthrough]];
    }
    case kRtcpRr:
      details += ", \"reports\": " + JsonList(e.reports, JsonReportBlock);
      break;
    case kRtcpSdes:
      details = ", \"chunks\": " + JsonList(e.chunks, [](const RtcpSdesChunk& c) {
        return "{\"ssrc\": " + Hex32(c.ssrc) + ", \"cname\": " + JsonText(c.cname) + "}";
      });
      break;
    case kRtcpBye:
      details = ", \"sources\": " + JsonList(e.sources, Hex32) + ", \"reason\": " + JsonText(e.text);
      break;
    case kRtcpApp:
      details = ", \"name\": " + JsonText(e.text);
      break;
    case kRtcpXr:
      details = ", \"blocks\": " + JsonList(e.xrBlockTypes, [](uint8_t t) { return JsonText(XrBlockTypeName(t)); }) +
                ", \"voip_metrics\": " + JsonList(e.voipMetrics, JsonVoipMetrics);
      break;
    default:
      break;
  }
  std::printf("%s\n    {\"packet\": %u, \"compound\": %u, \"time_us\": %" PRId64 ", \"src\": \"%s\", \"dst\": \"%s\", "
              "\"type\": \"%s\", \"pt\": %u, \"count\": %u, \"length\": %u, \"ssrc\": %s, \"stream\": %s%s}",
              first ? "" : ",", e.packetNumber, e.compound + 1, e.captureUs,
              Endpoint(e.sourceAddress, e.sourcePort).c_str(), Endpoint(e.destinationAddress, e.destinationPort).c_str(),
              RtcpTypeName(e.packetType).c_str(), e.packetType, e.count, e.length, Hex32(e.ssrc).c_str(),
              StreamRef(e.streamIndex).c_str(), details.c_str());
}

void PrintTextRtcp(const RtcpEntry& e) {
  std::printf("RTCP #%u  packet %u  %s -> %s  %s  SSRC 0x%08x%s\n", e.compound + 1, e.packetNumber,
              Endpoint(e.sourceAddress, e.sourcePort).c_str(), Endpoint(e.destinationAddress, e.destinationPort).c_str(),
              RtcpTypeName(e.packetType).c_str(), e.ssrc,
              e.streamIndex >= 0 ? ("  (stream " + std::to_string(e.streamIndex + 1) + ")").c_str() : "");
  if (e.packetType == kRtcpSr) {
    std::printf("  NTP 0x%016" PRIx64 "  RTP %u  sent %u packets, %u octets\n", e.ntpTimestamp, e.rtpTimestamp,
                e.senderPackets, e.senderOctets);
  }
  for (const RtcpReportBlock& r : e.reports) {
    std::printf("  report on 0x%08x%s: fraction lost %u/256  cumulative lost %d  highest seq %u  jitter %u  LSR 0x%08x  DLSR %u",
                r.sourceSsrc, r.streamIndex >= 0 ? (" (stream " + std::to_string(r.streamIndex + 1) + ")").c_str() : "",
                r.fractionLost, r.cumulativeLost, r.extendedHighestSequence, r.jitter, r.lsr, r.dlsr);
    if (r.haveRoundTrip) std::printf("  round trip %.3f ms", r.roundTripMs);
    std::printf("\n");
  }
  for (const RtcpSdesChunk& c : e.chunks) std::printf("  0x%08x CNAME %s\n", c.ssrc, c.cname.c_str());
  if (e.packetType == kRtcpBye && !e.text.empty()) std::printf("  reason %s\n", e.text.c_str());
  if (e.packetType == kRtcpApp) std::printf("  name %s  subtype %u\n", e.text.c_str(), e.count);
  for (const uint8_t t : e.xrBlockTypes) std::printf("  block %s\n", XrBlockTypeName(t).c_str());
  for (const RtcpVoipMetrics& m : e.voipMetrics) {
    std::printf("  VoIP metrics on 0x%08x: loss %u/256  discard %u/256  burst density %u/256  gap density %u/256  "
                "burst %u ms  gap %u ms  R %u  MOS-LQ %u  MOS-CQ %u  JB %u/%u/%u ms\n",
                m.sourceSsrc, m.lossRate, m.discardRate, m.burstDensity, m.gapDensity, m.burstDuration,
                m.gapDuration, m.rFactor, m.mosLq, m.mosCq, m.jbNominal, m.jbMaximum, m.jbAbsMax);
  }
}

std::string JsonEvent(const TelephoneEvent& ev) {
  char text[400];
  std::snprintf(text, sizeof text,
                "{\"stream\": %u, \"ssrc\": %s, \"pt\": %u, \"event\": %u, \"digit\": %s, \"packet\": %u, "
                "\"time_us\": %" PRId64 ", \"rtp_timestamp\": %u, \"duration\": %u, \"duration_ms\": %.3f, "
                "\"volume\": %u, \"end\": %s, \"packets\": %u, \"end_packets\": %u, \"from_sdp\": %s}",
                ev.streamIndex + 1, Hex32(ev.ssrc).c_str(), ev.payloadType, ev.event,
                JsonText(TelephoneEventName(ev.event)).c_str(), ev.firstPacketNumber, ev.startUs, ev.rtpTimestamp,
                ev.duration, ev.DurationMs(), ev.volume, ev.end ? "true" : "false", ev.packets, ev.endPackets,
                ev.fromSdp ? "true" : "false");
  return text;
}

}  // namespace

int RunStats(const CliArgs& args) {
  CaptureSession s;
  if (auto depth = args.Get("--jitter-buffer")) {
    char* end = nullptr;
    const double ms = std::strtod(depth->c_str(), &end);
    if (depth->empty() || *end != '\0' || !(ms >= 0 && ms <= 10000)) {
      return Fail(kExitUsage, "--jitter-buffer needs milliseconds from 0 (no buffer simulated) to 10000: " + *depth);
    }
    s.jitterBufferMs = ms;
  }
  if (int status = OpenCaptureSession(args, s)) return status;
  const CRTP_Parser& c = *s.capture;
  const bool json = args.Has("--json");
  if (json) std::printf("{\n  \"streams\": [");
  for (uint32_t i = 0; i < c.Streams().size(); ++i) {
    const StreamFigures f = c.Statistics().Figures(i);
    if (json) PrintJsonStream(i + 1, c.Streams()[i], f, i == 0);
    else PrintTextStream(i + 1, c.Streams()[i], f);
  }
  const RtcpTable& rtcp = c.Rtcp();
  const std::vector<TelephoneEvent>& events = c.TelephoneEvents().Events();
  if (json) {
    std::printf("%s],\n  \"rtcp\": [", c.Streams().empty() ? "" : "\n  ");
    for (size_t i = 0; i < rtcp.Size(); ++i) PrintJsonRtcp(rtcp.Entry(i), i == 0);
    std::printf("%s],\n  \"rtcp_invalid\": %u,\n  \"events\": [", rtcp.Size() == 0 ? "" : "\n  ", rtcp.Invalid());
    for (size_t i = 0; i < events.size(); ++i) std::printf("%s\n    %s", i ? "," : "", JsonEvent(events[i]).c_str());
    std::printf("%s],\n  \"quality_note\": \"r_factor and mos are estimates: ITU-T G.107 E-model from loss, "
                "jitter-buffer discards, burstiness and the G.113 Appendix I codec values, delay left out\"\n}\n",
                events.empty() ? "" : "\n  ");
    return kExitOk;
  }
  for (size_t i = 0; i < rtcp.Size(); ++i) PrintTextRtcp(rtcp.Entry(i));
  if (rtcp.Invalid() > 0) std::printf("%u datagrams looked like RTCP but were not valid RTCP\n", rtcp.Invalid());
  for (const TelephoneEvent& ev : events) {
    std::printf("Event %s (%u)  stream %u  packet %u  RTP timestamp %u  duration %u (%.1f ms)  volume -%u dBm0  %s  %u packets%s\n",
                TelephoneEventName(ev.event).c_str(), ev.event, ev.streamIndex + 1, ev.firstPacketNumber,
                ev.rtpTimestamp, ev.duration, ev.DurationMs(), ev.volume, ev.end ? "ended" : "no end packet",
                ev.packets, ev.fromSdp ? "" : "  (payload type not described: recognised by its packets)");
  }
  return kExitOk;
}

}  // namespace fennik::cli
