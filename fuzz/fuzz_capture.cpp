// Fuzzes the whole analysis pass: format detection, the classic and pcapng walks, packet
// decoding, SDP and the per-stream analysis, on an arbitrary file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "capture/CRTP_Parser.h"
#include "capture/CsvReport.h"

namespace {

class NullOutput : public fennik::CsvOutput {
 public:
  bool Write(const char*, size_t) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/dev/shm/fennik-fuzz-capture-" + std::to_string(getpid());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  fennik::CRTP_Parser capture;
  if (capture.Open(path) == fennik::OpenResult::kOk) {
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
