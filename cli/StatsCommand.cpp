// fennik-cli stats FILE [--json]: the call-quality figures of every RTP stream, gathered by
// the analysis pass.
#include <cinttypes>
#include <cstdio>
#include <string>

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

void PrintJsonStream(uint32_t id, const RtpStreamEntry& st, const StreamFigures& f, bool first) {
  std::printf("%s\n    {\"id\": %u, \"src\": \"%s\", \"dst\": \"%s\", \"ssrc\": \"0x%08x\", "
              "\"clock_rate\": %u, \"packets\": %" PRIu64 ", \"expected\": %" PRId64 ", "
              "\"lost\": %" PRId64 ", \"loss_percent\": %.3f, \"duplicates\": %" PRIu64 ", "
              "\"out_of_order\": %" PRIu64 ", \"sequence_errors\": %" PRIu64 ", "
              "\"sequence_restarts\": %" PRIu64 ", \"timestamp_jumps\": %" PRIu64 ", "
              "\"markers\": %" PRIu64 ", \"payload_types\": [%s], "
              "\"first_time_us\": %" PRId64 ", \"last_time_us\": %" PRId64 ", "
              "\"min_delta_ms\": %.3f, \"mean_delta_ms\": %.3f, \"max_delta_ms\": %.3f, "
              "\"mean_jitter_ms\": %.3f, \"max_jitter_ms\": %.3f, \"payload_bytes\": %" PRIu64 ", "
              "\"mean_bit_rate\": %.0f}",
              first ? "" : ",", id, Endpoint(st.sourceAddress, st.sourcePort).c_str(),
              Endpoint(st.destinationAddress, st.destinationPort).c_str(), f.ssrc, f.clockRate,
              f.packets, f.expected, f.lost, f.lossPercent, f.duplicates, f.outOfOrder,
              f.sequenceErrors, f.sequenceRestarts, f.timestampJumps, f.markers,
              PayloadTypeList(f.payloadTypes, ", ").c_str(), f.firstUs, f.lastUs, f.minDeltaMs,
              f.meanDeltaMs, f.maxDeltaMs, f.meanJitterMs, f.maxJitterMs, f.payloadBytes,
              f.meanBitRate);
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
  if (json) std::printf("%s]\n}\n", c.Streams().empty() ? "" : "\n  ");
  return kExitOk;
}

}  // namespace fennik::cli
