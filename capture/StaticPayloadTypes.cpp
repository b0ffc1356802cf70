// Static payload types of the RTP audio/video profile (RFC 3551, tables 4 and 5), mapped to
// the program's codec types.
#include "capture/RtpTables.h"

namespace fennik {
namespace {

struct Row {
  uint32_t payloadType;
  StaticPayloadType type;
};

constexpr Row kRows[] = {
    {0, {1, 106, "PCMU", 8000, 1, 8, 0}},
    {3, {1, 115, "GSM", 8000, 1, 0, 0}},
    {4, {1, 0, "G723", 8000, 1, 0, 0}},
    {5, {1, 103, "DVI4", 8000, 1, 4, 0}},
    {6, {1, 103, "DVI4", 16000, 1, 4, 0}},
    {7, {1, 117, "LPC", 8000, 1, 0, 0}},
    {8, {1, 105, "PCMA", 8000, 1, 8, 0}},
    {9, {1, 107, "G722", 8000, 1, 8, 0}},
    {10, {1, 94, "L16", 44100, 2, 16, 0}},
    {11, {1, 94, "L16", 44100, 1, 16, 0}},
    {12, {1, 0, "QCELP", 8000, 1, 0, 0}},
    {13, {1, 0, "CN", 8000, 1, 0, 0}},
    {14, {1, 81, "MPA", 90000, 0, 0, 0}},  // RFC 2250 MPEG audio
    {15, {1, 0, "G728", 8000, 1, 0, 0}},
    {16, {1, 103, "DVI4", 11025, 1, 4, 0}},
    {17, {1, 103, "DVI4", 22050, 1, 4, 0}},
    {18, {1, 110, "G729", 8000, 1, 0, 0}},
    {25, {0, 0, "CelB", 90000, 0, 0, 0}},
    {26, {0, 0, "JPEG", 90000, 0, 0, 0}},
    {28, {0, 0, "nv", 90000, 0, 0, 0}},
    {31, {0, 0, "H261", 90000, 0, 0, 0}},
    {32, {0, 0, "MPV", 90000, 0, 0, 0}},
    {33, {0, 0, "MP2T", 90000, 0, 0, 0}},
    {34, {0, 6, "H263", 90000, 0, 0, 0}},
};

constexpr StaticPayloadType kNone = {0, 0, nullptr, 90000, 0, 0, 0};

}  // namespace

const StaticPayloadType& LookupStaticPayloadType(uint32_t payloadType, bool& listed) {
  for (const Row& row : kRows) {
    if (row.payloadType == payloadType) {
      listed = true;
      return row.type;
    }
  }
  listed = false;
  return kNone;
}

}  // namespace fennik
