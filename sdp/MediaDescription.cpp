#include "sdp/MediaDescription.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "base/DebugPrint.h"
#include "sdp/SdpEncodingTable.h"

namespace fennik {
namespace {

// Longest part of a line written to the debug sink.
constexpr size_t kMaxDebugLine = 1023;

// The handlers look at no more than the first five tokens of a line and check counts only as
// "at least N", so tokenising stops after five (long fmtp lines are not scanned to the end).
constexpr int kMaxTokens = 5;

constexpr uint32_t kMediaAudio = 1;
constexpr uint32_t kMediaVideo = 2;
constexpr uint32_t kCodecIlbc = 116;

// One SDP line split into tokens. The whole line is tokenised, "x=" prefix included:
// spaces and tabs separate tokens (empty ones are dropped), and "=" or ":" close the token
// they end. "a=fmtp:97 mode=30" -> "a=", "fmtp:", "97", "mode=", "30".
struct Tokens {
  std::string_view token[kMaxTokens];
  int count = 0;  // tokens stored, at most kMaxTokens

  explicit Tokens(std::string_view line) {
    size_t start = 0;
    for (size_t i = 0; i < line.size() && count < kMaxTokens; ++i) {
      const char c = line[i];
      if (c == ' ' || c == '\t') {
        if (i > start) token[count++] = line.substr(start, i - start);
        start = i + 1;
      } else if (c == '=' || c == ':') {
        token[count++] = line.substr(start, i + 1 - start);
        start = i + 1;
      }
    }
    if (count < kMaxTokens && start < line.size()) token[count++] = line.substr(start);
  }

  // Token n, counted from 1 as in the line layouts above; empty when the line is shorter.
  std::string_view operator[](int n) const { return n >= 1 && n <= count ? token[n - 1] : std::string_view(); }
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the leading decimal digits of `field` into `value`. A field without a leading digit
// leaves `value` unchanged and reports false. Values beyond 32 bits saturate, so an absurd
// number never wraps around onto a plausible one.
bool ReadNumber(std::string_view field, uint32_t& value) {
  if (field.empty() || !IsDigit(field[0])) return false;
  uint64_t v = 0;
  for (size_t i = 0; i < field.size() && IsDigit(field[i]); ++i) {
    v = v * 10 + static_cast<uint64_t>(field[i] - '0');
    if (v > UINT32_MAX) v = UINT32_MAX;
  }
  value = static_cast<uint32_t>(v);
  return true;
}

// RFC 4566 5: every line is "<type>=<value>" with a one-letter type.
bool IsKnownLineType(std::string_view line) {
  if (line.size() < 2 || line[1] != '=' || line[0] == '\0') return false;
  return std::strchr("vosiuepcbtrzkam", line[0]) != nullptr;
}

// "c=IN IP4 <address>[/ttl[/count]]" (RFC 4566 5.7). Digits accumulate the current octet,
// a dot moves it into the address, and any other character ends the address; so a multicast
// TTL suffix is ignored and a host name gives 0. Only IPv4 is kept: "IP6" gives nothing.
std::optional<uint32_t> ReadConnection(const Tokens& t) {
  if (t.count < 4) return std::nullopt;
  if (!t[2].starts_with("IN") || !t[3].starts_with("IP4")) return std::nullopt;
  uint32_t address = 0;
  uint32_t octet = 0;
  for (const char c : t[4]) {
    if (IsDigit(c)) {
      octet = octet * 10 + static_cast<uint32_t>(c - '0');
    } else if (c == '.') {
      address = (address << 8) + octet;
      octet = 0;
    } else {
      break;
    }
  }
  return (address << 8) + octet;
}

// At most 15 characters, zero-filled behind.
void CopyName(std::string_view name, MediaFormat& f) {
  std::memset(f.encodingName, 0, sizeof f.encodingName);
  std::memcpy(f.encodingName, name.data(), std::min(name.size(), sizeof f.encodingName - 1));
}

// RFC 3952 5: iLBC's "mode" parameter is the frame length, 20 or 30 ms; it may stand in
// any position of the fmtp line and may come before or after the rtpmap line.
void ApplyIlbcMode(MediaFormat& f) {
  if (f.codecType != kCodecIlbc) return;
  const std::optional<std::string_view> text = f.Fmtp("mode");
  if (!text) return;
  const std::optional<uint32_t> mode = f.FmtpNumber("mode");
  if (mode && (*mode == 20 || *mode == 30)) {
    f.codecParameter = *mode;
  } else {
    DebugPrint("[SDP] iLBC mode=%.*s is not 20 or 30, ignored\n",
               static_cast<int>(std::min<size_t>(text->size(), 32)), text->data());
  }
}

// The format an fmtp line named before its rtpmap line (the slot holds the payload type and
// the parameters only); nullptr when none.
MediaFormat* FindFmtpOnlyFormat(MediaDescription& d, uint32_t payloadType) {
  for (uint32_t i = 0; i < d.formatCount; ++i) {
    if (!d.formats[i].hasRtpmap && d.formats[i].payloadType == payloadType) return &d.formats[i];
  }
  return nullptr;
}

// "a=rtpmap:<payload type> <encoding name>/<clock rate>[/<channels>]" (RFC 4566 6).
void HandleRtpmap(const Tokens& t, MediaDescription& d) {
  uint32_t payloadType = 0;
  const bool havePayloadType = ReadNumber(t[3], payloadType);
  MediaFormat* earlier = havePayloadType ? FindFmtpOnlyFormat(d, payloadType) : nullptr;
  if (earlier == nullptr && d.formatCount >= kMaxMediaFormats) return;
  if (t.count < 4) return;  // no encoding: the slot is not taken
  MediaFormat& f = earlier != nullptr ? *earlier : d.formats[d.formatCount];
  if (earlier == nullptr) f = MediaFormat{};
  f.payloadType = payloadType;
  f.hasRtpmap = true;

  const std::string_view encoding = t[4];
  const size_t slash = encoding.find('/');
  const std::string_view name = encoding.substr(0, slash);
  CopyName(name, f);

  if (d.mediaKind == kMediaAudio) {
    f.kind = 1, f.clockRate = 8000, f.channels = 1, f.bitsPerSample = 16, f.codecParameter = 0;
  } else {
    f.kind = 0, f.clockRate = 90000, f.channels = 0, f.bitsPerSample = 0, f.codecParameter = 90000;
  }
  f.codecType = 0;

  if (const SdpEncoding* row = FindSdpEncoding(encoding)) {
    f.kind = row->kind;
    f.codecType = row->codecType;
    f.clockRate = row->clockRate;
    f.channels = row->channels;
    f.bitsPerSample = row->bitsPerSample;
    f.codecParameter = row->codecParameter;
    CopyName(row->name, f);
  }

  if (slash != std::string_view::npos) {
    std::string_view rest = encoding.substr(slash + 1);
    uint32_t clockRate = 0;
    // A clock rate of 0 would make every RTP-time figure of the stream a division by zero;
    // such a field is ignored like one without digits.
    if (ReadNumber(rest, clockRate) && clockRate != 0) f.clockRate = clockRate;
    const size_t next = rest.find('/');
    if (f.kind == 1 && next != std::string_view::npos) ReadNumber(rest.substr(next + 1), f.channels);
  }
  ApplyIlbcMode(f);
  if (earlier == nullptr) ++d.formatCount;
}

// "a=fmtp:<payload type> <format specific parameters>" (RFC 4566 6). The parameters are kept
// with the format of that payload type (the last one, as the stream match uses the last);
// an fmtp line before or without an rtpmap line takes a slot of its own, so that static
// payload types (G.729's "annexb=no" for payload type 18) keep their parameters too.
void HandleFmtp(std::string_view line, const Tokens& t, MediaDescription& d) {
  const std::string_view fmtpToken = t[2];
  std::string_view rest = line.substr(static_cast<size_t>(fmtpToken.data() - line.data()) + fmtpToken.size());
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
  uint32_t payloadType = 0;
  if (!ReadNumber(rest, payloadType)) return;
  size_t digits = 0;
  while (digits < rest.size() && IsDigit(rest[digits])) ++digits;
  rest.remove_prefix(digits);

  MediaFormat* target = nullptr;
  for (uint32_t i = 0; i < d.formatCount; ++i) {
    if (d.formats[i].payloadType == payloadType) target = &d.formats[i];
  }
  if (target == nullptr) {
    if (d.formatCount >= kMaxMediaFormats) return;
    target = &d.formats[d.formatCount++];
    *target = MediaFormat{};
    target->payloadType = payloadType;
    target->kind = d.mediaKind == kMediaAudio ? 1 : 0;
  }
  target->AddFmtp(rest);
  ApplyIlbcMode(*target);
}

// The media type this program writes into the "m=" line it appends to a user's SDP text
// (MakeUserSdpText); no SDP writer uses it otherwise (RFC 4566 5.14 registers audio, video,
// text, application and message).
constexpr std::string_view kUserMedia = "unknown";

// Splits one SDP text into its media (RFC 4566 5: a media description runs from its "m="
// line to the next one). Lines before the first "m=" line are the session level: its "c="
// line is the connection of every medium without one of its own, and its formats (not where
// SDP puts them, but seen in hand-written texts) are every medium's.
class SessionParser {
 public:
  void Line(std::string_view line) {
    if (!IsKnownLineType(line)) return;
    DebugPrint("[SDP] %.*s\n", static_cast<int>(std::min(line.size(), kMaxDebugLine)), line.data());
    const Tokens t(line);
    switch (line[0]) {
      case 'c':
        if (const std::optional<uint32_t> address = ReadConnection(t)) {
          Current().connectionAddress = *address;
          lastConnection_ = *address;
        }
        break;
      case 'm':
        Media(t);
        break;
      case 'a':
        if (t[2].starts_with("rtpmap:")) {
          HandleRtpmap(t, Current());
        } else if (t[2].starts_with("fmtp:")) {
          HandleFmtp(line, t, Current());
        }
        // cat, keywds, tool, ptime, maxptime, recvonly, sendrecv, sendonly, inactive,
        // framerate and every other attribute have no effect on the payload formats.
        break;
      default:
        break;  // v, o, s, i, u, e, p, b, t, r, z, k: recognised, no effect
    }
  }

  // The media in text order; a text without "m=" lines is one description of its own.
  std::vector<MediaDescription> Finish() {
    if (media_.empty()) media_.push_back(std::move(session_));
    return std::move(media_);
  }

 private:
  MediaDescription& Current() { return media_.empty() ? session_ : media_.back(); }

  // "m=<media> <port>[/<number of ports>] <proto> <fmt> ..." (RFC 4566 5.14). The format list
  // is not read: the rtpmap and fmtp attributes carry what the analysis needs.
  void Media(const Tokens& t) {
    MediaDescription m;
    m.connectionAddress = session_.connectionAddress;
    ReadNumber(t[3], m.mediaPort);
    // rtpmap/fmtp lines belong to a medium (RFC 4566 6); any written at the session level
    // apply to every medium, behind which the medium's own mapping of a payload type wins.
    AddFormatsOf(session_, m);
    if (t[2] == "audio") {
      m.mediaKind = kMediaAudio;
    } else if (t[2] == "video") {
      m.mediaKind = kMediaVideo;
    } else if (t[2] == kUserMedia) {
      // The lines appended to a user's SDP: the "c=" line just before and this port name
      // the stream the user chose, and the medium carries every format of the user's text
      // (a later mapping of a payload type replacing an earlier one) and the kind of the
      // user's last medium that named one.
      m.connectionAddress = lastConnection_;
      m.mediaKind = lastNamedKind_;
      for (const MediaDescription& earlier : media_) AddFormatsOf(earlier, m);
    }
    if (m.mediaKind != 0) lastNamedKind_ = m.mediaKind;
    media_.push_back(std::move(m));
  }

  static void AddFormatsOf(const MediaDescription& from, MediaDescription& to) {
    for (uint32_t i = 0; i < from.formatCount; ++i) {
      const MediaFormat& f = from.formats[i];
      MediaFormat* same = nullptr;
      for (uint32_t j = 0; j < to.formatCount; ++j) {
        if (to.formats[j].payloadType == f.payloadType) same = &to.formats[j];
      }
      if (same != nullptr) {
        *same = f;
      } else if (to.formatCount < kMaxMediaFormats) {
        to.formats[to.formatCount++] = f;
      }
    }
  }

  MediaDescription session_;
  std::vector<MediaDescription> media_;
  uint32_t lastConnection_ = 0;
  uint32_t lastNamedKind_ = 0;
};

}  // namespace

const MediaFormat* MediaDescription::FindFormat(uint32_t payloadType) const {
  const MediaFormat* found = nullptr;
  for (uint32_t i = 0; i < formatCount && i < kMaxMediaFormats; ++i) {
    if (formats[i].payloadType == payloadType) found = &formats[i];
  }
  return found;
}

// Lines end at CR or LF; CR LF and LF CR each count as one break. The text is bounded by
// `length` only: it need not end with a break and is not zero-terminated.
std::vector<MediaDescription> ParseMediaDescriptions(const uint8_t* text, size_t length) {
  SessionParser parser;
  const char* p = reinterpret_cast<const char*>(text);
  size_t pos = 0;
  while (text != nullptr && pos < length) {
    size_t end = pos;
    while (end < length && p[end] != '\r' && p[end] != '\n') ++end;
    parser.Line(std::string_view(p + pos, end - pos));
    if (end >= length) break;
    size_t next = end + 1;
    if (next < length && (p[next] == '\r' || p[next] == '\n') && p[next] != p[end]) ++next;
    pos = next;
  }
  return parser.Finish();
}

void MediaDescriptionList::Parse(const uint8_t* text, size_t length) {
  for (MediaDescription& d : ParseMediaDescriptions(text, length)) {
    if (d.formatCount == 0) continue;
    const size_t sequence = descriptions_.size();
    if (d.connectionAddress != 0) {
      newestByEndpoint_[Key(d.connectionAddress, static_cast<uint16_t>(d.mediaPort))] = sequence;
    }
    descriptions_.push_front(std::move(d));
  }
}

void MediaDescriptionList::Parse(std::string_view text) {
  Parse(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const MediaDescription* MediaDescriptionList::FindForStream(uint32_t srcAddr, uint32_t dstAddr,
                                                            uint16_t srcPort, uint16_t dstPort) const {
  // Of the four (address, port) pairs the stream can be matched by, the one whose newest
  // description was added last wins. Descriptions without a connection address are not in
  // the index, so they match nothing.
  const uint64_t keys[4] = {Key(srcAddr, srcPort), Key(srcAddr, dstPort), Key(dstAddr, srcPort),
                            Key(dstAddr, dstPort)};
  bool found = false;
  size_t newest = 0;
  for (const uint64_t key : keys) {
    const auto it = newestByEndpoint_.find(key);
    if (it != newestByEndpoint_.end() && (!found || it->second > newest)) {
      newest = it->second;
      found = true;
    }
  }
  if (!found) return nullptr;
  return &descriptions_[descriptions_.size() - 1 - newest];
}

void MediaDescriptionList::Clear() {
  descriptions_.clear();
  newestByEndpoint_.clear();
}

namespace {

// Digits only, above 0, at most 32 bits.
std::optional<uint32_t> PositiveNumber(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t v = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v == 0 || v > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(v);
}

// Rewrites the short-form lines of a user's text as rtpmap attributes, keeping the breaks.
std::string ExpandRtpmapShorthand(std::string_view body) {
  std::string out;
  out.reserve(body.size());
  size_t pos = 0;
  while (pos <= body.size()) {
    size_t end = body.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view line = body.substr(pos, end - pos);
    if (const std::optional<RtpmapShorthand> s = ParseRtpmapShorthand(line)) {
      out += RtpmapLine(*s);
    } else {
      out.append(line);
    }
    if (end >= body.size()) break;
    out += body[end];
    pos = end + 1;
  }
  return out;
}

}  // namespace

std::optional<RtpmapShorthand> ParseRtpmapShorthand(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  const size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0 || equals > 3) return std::nullopt;
  RtpmapShorthand s;
  uint32_t payloadType = 0;
  for (const char c : text.substr(0, equals)) {
    if (!IsDigit(c)) return std::nullopt;
    payloadType = payloadType * 10 + static_cast<uint32_t>(c - '0');
  }
  if (payloadType > 127) return std::nullopt;
  s.payloadType = payloadType;
  std::string_view rest = text.substr(equals + 1);
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos || slash == 0) return std::nullopt;
  const std::string_view name = rest.substr(0, slash);
  for (const char c : name) {
    if (c <= ' ' || c > '~' || c == '=' || c == ';') return std::nullopt;
  }
  s.encodingName = std::string(name);
  rest.remove_prefix(slash + 1);
  const size_t next = rest.find('/');
  const std::optional<uint32_t> rate = PositiveNumber(rest.substr(0, next));
  if (!rate) return std::nullopt;
  s.clockRate = *rate;
  if (next != std::string_view::npos) {
    const std::optional<uint32_t> channels = PositiveNumber(rest.substr(next + 1));
    if (!channels) return std::nullopt;
    s.channels = *channels;
  }
  return s;
}

std::string RtpmapLine(const RtpmapShorthand& s) {
  std::string line = "a=rtpmap:" + std::to_string(s.payloadType) + " " + s.encodingName + "/" +
                     std::to_string(s.clockRate);
  if (s.channels != 0) line += "/" + std::to_string(s.channels);
  return line;
}

std::string MakeUserSdpText(std::string_view body, uint32_t srcAddr, uint16_t srcPort) {
  char lines[80];
  const int n = std::snprintf(lines, sizeof lines, "\r\nc=IN IP4 %u.%u.%u.%u\r\nm=unknown %u\r\n",
                              srcAddr >> 24, (srcAddr >> 16) & 0xFF, (srcAddr >> 8) & 0xFF,
                              srcAddr & 0xFF, static_cast<unsigned>(srcPort));
  std::string text = ExpandRtpmapShorthand(body);
  text.append(lines, static_cast<size_t>(n));
  return text;
}

}  // namespace fennik
