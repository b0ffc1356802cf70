#include "sdp/SdpEncodingTable.h"

#include <iterator>

namespace fennik {
namespace {

// key, name, kind, codec type, clock rate, channels, bits per sample, codec parameter.
// G.726 carries its bit rate as the parameter (RFC 3551 4.5.4); "AAL2-G726-nn" is the
// ITU-T I.366.2 packing (RFC 3551 4.5.4 as well), a separate codec type.
constexpr SdpEncoding kSdpEncodings[] = {
    {"PCMU", "PCMU", 1, 106, 8000, 1, 8, 0},
    {"PCMA", "PCMA", 1, 105, 8000, 1, 8, 0},
    {"G722", "G722", 1, 107, 8000, 1, 8, 0},
    {"G723", "G723", 1, 0, 8000, 1, 0, 0},
    {"G728", "G728", 1, 0, 8000, 1, 0, 0},
    {"G729", "G729", 1, 110, 8000, 1, 0, 0},
    // G.729 Annex A decodes with the G.729 decoder (same bitstream); some phones name it so.
    {"G729A", "G729", 1, 110, 8000, 1, 0, 0},
    {"GSM", "GSM", 1, 115, 8000, 1, 0, 0},
    {"DVI4", "DVI4", 1, 103, 8000, 1, 4, 0},
    {"LPC", "LPC", 1, 117, 8000, 1, 0, 0},
    {"L16", "L16", 1, 94, 44100, 1, 16, 0},
    {"QCELP", "QCELP", 1, 0, 8000, 1, 0, 0},
    {"CN", "CN", 1, 0, 8000, 1, 0, 0},
    {"MPA", "MPA", 1, 0, 90000, 0, 0, 0},
    {"speex", "speex", 1, 114, 8000, 0, 0, 0},
    {"opus", "opus", 1, 113, 8000, 0, 0, 0},
    {"G726-40", "G726", 1, 108, 8000, 1, 5, 40000},
    {"G726-32", "G726", 1, 108, 8000, 1, 4, 32000},
    {"G726-24", "G726", 1, 108, 8000, 1, 3, 24000},
    {"G726-16", "G726", 1, 108, 8000, 1, 2, 16000},
    {"G726", "G726", 1, 108, 8000, 1, 5, 40000},
    {"AAL2-G726-40", "AAL2-G726", 1, 109, 8000, 1, 5, 40000},
    {"AAL2-G726-32", "AAL2-G726", 1, 109, 8000, 1, 4, 32000},
    {"AAL2-G726-24", "AAL2-G726", 1, 109, 8000, 1, 3, 24000},
    {"AAL2-G726-16", "AAL2-G726", 1, 109, 8000, 1, 2, 16000},
    {"AAL2-G726", "G726", 1, 109, 8000, 1, 5, 40000},
    {"iLBC", "iLBC", 1, 116, 8000, 1, 0, 20},
    {"MP4V-ES", "MP4V", 0, 5, 90000, 0, 0, 90000},
    {"CelB", "CelB", 0, 0, 90000, 0, 0, 90000},
    {"JPEG", "JPEG", 0, 0, 90000, 0, 0, 90000},
    {"nv", "nv", 0, 0, 90000, 0, 0, 90000},
    {"H261", "H261", 0, 0, 90000, 0, 0, 90000},
    {"MPV", "MPV", 0, 0, 90000, 0, 0, 90000},
    {"MP2T", "MP2T", 0, 0, 90000, 0, 0, 90000},
    {"H263", "H263", 0, 6, 90000, 0, 0, 90000},
    // RFC 4629 payload format of H.263 (its own payload header); the name tells the stream
    // object which packing to remove.
    {"H263-1998", "H263-1998", 0, 6, 90000, 0, 0, 90000},
    {"H263-2000", "H263-2000", 0, 6, 90000, 0, 0, 90000},
    {"H264", "H264", 0, 11, 90000, 0, 0, 90000},
};

}  // namespace

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

const SdpEncoding* FindSdpEncoding(std::string_view encoding) {
  const std::string_view name = encoding.substr(0, encoding.find('/'));
  for (const SdpEncoding& row : kSdpEncodings) {
    if (EqualNoCase(name, row.key)) return &row;
  }
  return nullptr;
}

}  // namespace fennik
