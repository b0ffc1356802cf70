#include "sdp/MediaFormat.h"

namespace fennik {
namespace {

// Whole fmtp text kept per format. Real parameter sets are well below this (a 1080p H.264
// sprop-parameter-sets is under 100 characters); the bound keeps a damaged capture with
// megabyte-long lines from multiplying them into every format.
constexpr size_t kMaxFmtpText = 16384;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::vector<FmtpParameter> ParseFmtpParameters(std::string_view text) {
  std::vector<FmtpParameter> list;
  while (!text.empty()) {
    const size_t semicolon = text.find(';');
    const std::string_view item = Trim(text.substr(0, semicolon));
    text = semicolon == std::string_view::npos ? std::string_view() : text.substr(semicolon + 1);
    if (item.empty()) continue;
    FmtpParameter p;
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos) {
      p.name = std::string(item);
    } else {
      p.name = std::string(Trim(item.substr(0, equals)));
      p.value = std::string(Trim(item.substr(equals + 1)));
      p.hasValue = true;
    }
    list.push_back(std::move(p));
  }
  return list;
}

std::optional<std::string_view> MediaFormat::Fmtp(std::string_view name) const {
  for (const FmtpParameter& p : fmtp) {
    if (EqualNoCase(p.name, name)) return std::string_view(p.value);
  }
  return std::nullopt;
}

std::optional<uint32_t> MediaFormat::FmtpNumber(std::string_view name) const {
  const std::optional<std::string_view> value = Fmtp(name);
  if (!value || value->empty()) return std::nullopt;
  uint64_t v = 0;
  for (const char c : *value) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

void MediaFormat::AddFmtp(std::string_view text) {
  text = Trim(text);
  if (text.empty() || fmtpText.size() + text.size() > kMaxFmtpText) return;
  if (!fmtpText.empty()) fmtpText += "; ";
  fmtpText.append(text);
  for (FmtpParameter& p : ParseFmtpParameters(text)) fmtp.push_back(std::move(p));
}

}  // namespace fennik
