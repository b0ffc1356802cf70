// The rtpmap encoding names this program knows, with the codec registry id and the format
// values each implies (RFC 3551 table 4 and 5 names, plus the common dynamic ones).
#pragma once

#include <cstdint>
#include <string_view>

namespace fennik {

struct SdpEncoding {
  const char* key;   // matched as a case-sensitive prefix of the rtpmap encoding token
  const char* name;  // canonical name written into the format
  uint32_t kind;     // 1 audio, 0 other
  uint32_t codecType;
  uint32_t clockRate;
  uint32_t channels;
  uint32_t bitsPerSample;
  uint32_t codecParameter;
};

// The first row, in table order, whose key is a prefix of `encodingToken` (the whole token,
// "/clock/channels" included); nullptr when none. Order matters: "G7221" finds the G722 row,
// "G726-32" finds its own row before the bare "G726" one.
const SdpEncoding* FindSdpEncoding(std::string_view encodingToken);

}  // namespace fennik
