// The CSV report: a range of rows of the capture-wide packet list or of one stream's packet
// list, with timing columns and, for video streams, the frame columns of the codec.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fennik {

class CRTP_Parser;

struct CsvRequest {
  // 0: the capture-wide list; else stream id in the low 16 bits and the stream's codec type
  // in the high 16 bits.
  uint32_t listKind = 0;
  int32_t start = 0;  // first row index
  int32_t end = 0;    // last row index, inclusive
  std::string fileName;
  int language = 0;   // 0 English, 1 Japanese (texts written in Shift_JIS)
};

// Where the report's bytes go.
class CsvOutput {
 public:
  virtual ~CsvOutput() = default;
  virtual bool Write(const char* data, size_t size) = 0;
};

// Writes the report to `out`; false when a write failed (the rows before it stay written).
bool WriteCsvReport(const CRTP_Parser& capture, const CsvRequest& request, CsvOutput& out);

// Creates or truncates request.fileName and writes the report into it; 1 when every row
// was written, 0 when the file could not be created or a write failed.
int WriteCsvFile(const CRTP_Parser& capture, const CsvRequest& request);

// The header line of a list kind (UTF-8; the caller converts for Japanese).
std::string CsvHeader(uint32_t listKind, int language);

}  // namespace fennik
