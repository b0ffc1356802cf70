// Fuzzes the whole analysis pass: format detection, the classic and pcapng walks, packet
// decoding, SDP and the per-stream analysis, on an arbitrary file.
#include <cstdint>

#include "capture/CRTP_Parser.h"
#include "capture/CsvReport.h"

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
  }
  return 0;
}
