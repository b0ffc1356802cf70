// fennik-cli stats FILE [--json]: the call-quality figures of every RTP stream, gathered by
// the analysis pass.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "capture/EModel.h"
#include "capture/StreamStatistics.h"
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

// R and MOS for the stream's codec, or false when no Ie/Bpl is known for it.
bool Quality(const RtpStreamEntry& st, const StreamFigures& f, QualityEstimate& q) {
  const CodecImpairment* codec = FindCodecImpairment(st.encodingName);
  if (codec == nullptr || f.packets == 0) return false;
  q = EstimateQuality(*codec, f.lossPercent, f.bursts.burstR);
  return true;
}

std::string JsonNumber(bool present, double value) {
  if (!present) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

void PrintJsonStream(uint32_t id, const RtpStreamEntry& st, const StreamFigures& f, bool first) {
  QualityEstimate q;
  const bool rated = Quality(st, f, q);
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
              "\"r_factor\": %s, \"mos\": %s}",
              first ? "" : ",", id, Endpoint(st.sourceAddress, st.sourcePort).c_str(),
              Endpoint(st.destinationAddress, st.destinationPort).c_str(), f.ssrc, f.clockRate,
              f.packets, f.expected, f.lost, f.lossPercent, f.duplicates, f.outOfOrder,
              f.sequenceErrors, f.sequenceRestarts, f.timestampJumps, f.markers,
              PayloadTypeList(f.payloadTypes, ", ").c_str(), f.firstUs, f.lastUs, f.minDeltaMs,
              f.meanDeltaMs, f.maxDeltaMs, f.meanJitterMs, f.maxJitterMs, f.payloadBytes,
              f.meanBitRate, f.bursts.burstDensity, f.bursts.gapDensity, f.bursts.bursts,
              f.meanBurstMs, f.meanGapMs, f.bursts.burstR, JsonNumber(rated, q.r).c_str(),
              JsonNumber(rated, q.mos).c_str());
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
  QualityEstimate q;
  if (Quality(st, f, q)) {
    std::printf("  estimated R %.1f  MOS %.2f (E-model estimate from loss and burstiness, delay left out)\n", q.r, q.mos);
  } else {
    std::printf("  no quality estimate (no impairment values for %s)\n", st.encodingName[0] ? st.encodingName : "an unknown codec");
  }
}

}  // namespace

int RunStats(const CliArgs& args) {
  CaptureSession s;
  if (int status = OpenCaptureSession(args, s)) return status;
  const CRTP_Parser& c = *s.capture;
  const bool json = args.Has("--json");
  if (json) std::printf("{\n  \"streams\": [");
  for (uint32_t i = 0; i < c.Streams().size(); ++i) {
    const StreamFigures f = c.Statistics().Figures(i);
    if (json) PrintJsonStream(i + 1, c.Streams()[i], f, i == 0);
    else PrintTextStream(i + 1, c.Streams()[i], f);
  }
  if (json) {
    std::printf("%s],\n  \"quality_note\": \"r_factor and mos are estimates: ITU-T G.107 E-model from loss, "
                "burstiness and the G.113 Appendix I codec values, delay left out\"\n}\n",
                c.Streams().empty() ? "" : "\n  ");
  }
  return kExitOk;
}

}  // namespace fennik::cli
