#include "sdp/MediaDescription.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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
// TTL suffix is ignored and a host name gives 0. Only IPv4 is kept: "IP6" changes nothing.
void HandleConnection(const Tokens& t, MediaDescription& d) {
  if (t.count < 4) return;
  if (!t[2].starts_with("IN") || !t[3].starts_with("IP4")) return;
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
  d.connectionAddress = (address << 8) + octet;
}

// "m=<media> <port>[/<number of ports>] <proto> <fmt> ..." (RFC 4566 5.14). The format list
// is not read: the rtpmap attributes carry what the analysis needs. A media type other than
// audio or video keeps the kind an earlier "m=" line set.
void HandleMedia(const Tokens& t, MediaDescription& d) {
  if (t[2] == "audio") {
    d.mediaKind = kMediaAudio;
  } else if (t[2] == "video") {
    d.mediaKind = kMediaVideo;
  }
  ReadNumber(t[3], d.mediaPort);
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

void HandleAttribute(std::string_view line, const Tokens& t, MediaDescription& d) {
  const std::string_view name = t[2];
  if (name.starts_with("rtpmap:")) {
    HandleRtpmap(t, d);
  } else if (name.starts_with("fmtp:")) {
    HandleFmtp(line, t, d);
  }
  // cat, keywds, tool, ptime, maxptime, recvonly, sendrecv, sendonly, inactive, framerate
  // and every other attribute have no effect on the payload formats.
}

void HandleLine(std::string_view line, MediaDescription& d) {
  if (!IsKnownLineType(line)) return;
  DebugPrint("[SDP] %.*s\n", static_cast<int>(std::min(line.size(), kMaxDebugLine)), line.data());
  switch (line[0]) {
    case 'c':
      HandleConnection(Tokens(line), d);
      break;
    case 'm':
      HandleMedia(Tokens(line), d);
      break;
    case 'a':
      HandleAttribute(line, Tokens(line), d);
      break;
    default:
      break;  // v, o, s, i, u, e, p, b, t, r, z, k: recognised, no effect
  }
}

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
void ParseMediaDescription(const uint8_t* text, size_t length, MediaDescription& out) {
  out = MediaDescription{};
  if (text == nullptr) return;
  const char* p = reinterpret_cast<const char*>(text);
  size_t pos = 0;
  while (pos < length) {
    size_t end = pos;
    while (end < length && p[end] != '\r' && p[end] != '\n') ++end;
    HandleLine(std::string_view(p + pos, end - pos), out);
    if (end >= length) break;
    size_t next = end + 1;
    if (next < length && (p[next] == '\r' || p[next] == '\n') && p[next] != p[end]) ++next;
    pos = next;
  }
}

void MediaDescriptionList::Parse(const uint8_t* text, size_t length) {
  MediaDescription working;
  ParseMediaDescription(text, length, working);
  if (working.formatCount == 0) return;
  const size_t sequence = descriptions_.size();
  descriptions_.push_front(working);
  if (working.connectionAddress != 0) {
    newestByEndpoint_[Key(working.connectionAddress, static_cast<uint16_t>(working.mediaPort))] = sequence;
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

std::string MakeUserSdpText(std::string_view body, uint32_t srcAddr, uint16_t srcPort) {
  char lines[80];
  const int n = std::snprintf(lines, sizeof lines, "\r\nc=IN IP4 %u.%u.%u.%u\r\nm=unknown %u\r\n",
                              srcAddr >> 24, (srcAddr >> 16) & 0xFF, (srcAddr >> 8) & 0xFF,
                              srcAddr & 0xFF, static_cast<unsigned>(srcPort));
  std::string text;
  text.reserve(body.size() + static_cast<size_t>(n));
  text.append(body);
  text.append(lines, static_cast<size_t>(n));
  return text;
}

}  // namespace fennik
