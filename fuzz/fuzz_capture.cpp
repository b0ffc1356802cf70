// Fuzzes the whole analysis pass: format detection, the classic and pcapng walks, packet
// decoding, SDP and the per-stream analysis, on an arbitrary file; then the CSV report and
// the stream analysis dialog's tables and charts.
#include <cstdint>

#include "capture/CRTP_Parser.h"
#include "capture/CsvReport.h"
#include "capture/StreamAnalysis.h"

namespace {

class NullOutput : public fennik::CsvOutput {
 public:
  bool Write(const char*, size_t) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fennik::CRTP_Parser capture;
  if (capture.OpenBytes(data, size) == fennik::OpenResult::kOk) {
    capture.Analyse(nullptr);
    NullOutput out;
    fennik::CsvRequest all;
    all.end = 1000;
    fennik::WriteCsvReport(capture, all, out);
    if (!capture.Streams().empty()) {
      all.listKind = 1 | (11u << 16);
      fennik::WriteCsvReport(capture, all, out);
    }
    fennik::StreamAnalysisTable(capture, 1);
    fennik::RtcpAnalysisTable(capture, 0);
    fennik::EventAnalysisTable(capture, 0);
    for (uint32_t i = 0; i < capture.Streams().size() && i < 4; ++i) {
      fennik::LossChart(fennik::BuildLossTimeline(capture, i, 100), 0);
    }
  }
  return 0;
}
