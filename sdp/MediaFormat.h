// One RTP payload format as a session description names it: the rtpmap values mapped to a
// codec of the registry, and the format-specific parameters of its "a=fmtp:" lines, kept
// for the stream object that decodes the format (H.264 sprop-parameter-sets, MPEG-4 config,
// mpeg4-generic sizeLength/indexLength/mode, iLBC mode, G.729 annexb ...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fennik {

// One "name=value" of an fmtp line. A parameter written without "=" (RFC 4733's "0-15")
// has an empty value and hasValue false.
struct FmtpParameter {
  std::string name;
  std::string value;
  bool hasValue = false;
  bool operator==(const FmtpParameter&) const = default;
};

// Splits the format-specific parameters of an fmtp line (the text after the payload type)
// into name/value pairs: ";" separates parameters (RFC 4566 6, RFC 4855 3), the first "="
// separates name and value (values keep any further "=", such as base64 padding), and blanks
// around names, values and separators are dropped. Empty parameters (";;") are skipped.
std::vector<FmtpParameter> ParseFmtpParameters(std::string_view text);

struct MediaFormat {
  uint32_t payloadType = 0;
  uint32_t codecType = 0;       // codec registry id, 0 = none
  char encodingName[16] = {};   // zero-terminated, at most 15 characters
  uint32_t kind = 0;            // 1 audio, 0 other
  uint32_t clockRate = 0, channels = 0, bitsPerSample = 0;
  uint32_t codecParameter = 0;  // G.726 bit rate, iLBC frame length in ms, 90000 for video
  bool hasRtpmap = false;       // false: the format was named by an fmtp line only

  // The fmtp parameters of this format in the order written (several fmtp lines for one
  // payload type add up), and their text as written (lines joined by "; ").
  std::vector<FmtpParameter> fmtp;
  std::string fmtpText;

  // The value of the first parameter with this name (compared case-insensitively, RFC 4855
  // 3: parameter names are case-insensitive); nullopt when the format has none. The value is
  // returned as written: values such as base64 are case-sensitive.
  std::optional<std::string_view> Fmtp(std::string_view name) const;
  // The parameter's value as an unsigned decimal number; nullopt when absent, not all
  // digits, empty or beyond 32 bits.
  std::optional<uint32_t> FmtpNumber(std::string_view name) const;
  // Adds the parameters of one fmtp line.
  void AddFmtp(std::string_view text);
};

}  // namespace fennik
