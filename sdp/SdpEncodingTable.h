// The rtpmap encoding names this program knows, with the codec registry id and the format
// values each implies (RFC 3551 table 4 and 5 names, plus the common dynamic ones).
#pragma once

#include <cstdint>
#include <string_view>

namespace fennik {

struct SdpEncoding {
  const char* key;   // the encoding name, matched whole and case-insensitively
  const char* name;  // canonical name written into the format
  uint32_t kind;     // 1 audio, 0 other
  uint32_t codecType;
  uint32_t clockRate;
  uint32_t channels;
  uint32_t bitsPerSample;
  uint32_t codecParameter;
};

// The row whose key equals the encoding name of an rtpmap encoding token (the text before
// its first "/"), compared case-insensitively as RFC 4855 3 asks ("h264", "OPUS" and "pcmu"
// are H264, opus and PCMU); nullptr when none. The whole name must match: "G7221" (G.722.1)
// is not G722, "G729D" is not G729, "GSM-EFR" is not GSM.
const SdpEncoding* FindSdpEncoding(std::string_view encoding);

}  // namespace fennik
