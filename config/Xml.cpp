#include "config/Xml.h"

#include <new>

#include "base/DebugPrint.h"
#include "base/TextCodec.h"

namespace fennik {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool EndsName(char c) {
  switch (c) {
    case '\0': case '\t': case '\n': case '\r': case ' ': case '"': case '&': case '\'':
    case '/': case '<': case '=': case '>':
      return true;
    default:
      return false;
  }
}

struct Entity {
  std::string_view name;  // including '&' and ';'
  char character;
};
constexpr Entity kEntities[] = {
    {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''},
};

// Length of the valid UTF-8 sequence at s[i] (RFC 3629 section 4), or 0 when invalid.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// Copies UTF-8 text, replacing every byte that does not start a valid sequence with U+FFFD,
// so that everything handed out is valid UTF-8.
std::string SanitizeUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    size_t length = Utf8SequenceLength(s, i);
    if (length == 0) {
      out += kReplacementCharacter;
      ++i;
    } else {
      out.append(s.substr(i, length));
      i += length;
    }
  }
  return out;
}

// Shift_JIS (CP932) to UTF-8. A text with an invalid or unmapped sequence is converted
// character by character, each bad character becoming U+FFFD.
std::string ShiftJisText(std::string_view s) {
  std::string out;
  if (ShiftJisToUtf8(s, out)) return out;
  out.clear();
  for (size_t i = 0; i < s.size();) {
    unsigned char lead = static_cast<unsigned char>(s[i]);
    bool doubleByte = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    size_t length = (doubleByte && i + 1 < s.size()) ? 2 : 1;
    std::string one;
    if (ShiftJisToUtf8(s.substr(i, length), one)) {
      out += one;
    } else {
      out += kReplacementCharacter;
    }
    i += length;
  }
  return out;
}

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c; break;
    }
  }
}

void AppendElement(std::string& out, const XmlElement& element) {
  out += '<';
  out += element.name;
  if (!element.attributes.empty()) {
    out += ' ';
    for (const XmlAttribute& attribute : element.attributes) {
      out += attribute.name;
      out += "=\"";
      AppendEscaped(out, attribute.value);
      out += "\" ";
    }
  }
  bool hasText = element.text.has_value() && !element.text->empty();
  if (!hasText && element.children.empty()) {
    out += "/>\r\n";
    return;
  }
  out += '>';
  if (hasText) AppendEscaped(out, *element.text);
  for (const XmlElement& child : element.children) AppendElement(out, child);
  out += "</";
  out += element.name;
  out += ">\r\n";
}

}  // namespace

const XmlElement* XmlElement::FindChild(std::string_view childName) const {
  for (const XmlElement& child : children) {
    if (child.name == childName) return &child;
  }
  return nullptr;
}

XmlElement& XmlElement::AddChild(std::string childName, std::optional<std::string> childText) {
  return children.emplace_back(std::move(childName), std::move(childText));
}

void CXml::SetText(std::string_view bytes) {
  text_ = bytes;
  pos_ = 0;
  codePage_ = kUtf8;
  pendingEncoding_.reset();
}

void CXml::SkipWhiteSpace() {
  while (!AtEnd() && IsWhiteSpace(text_[pos_])) ++pos_;
}

void CXml::ParseError() const {
  DebugPrint("XML parse error (%d)\n", static_cast<int>(pos_));
}

std::string CXml::Decode(std::string_view bytes) const {
  return codePage_ == kShiftJis ? ShiftJisText(bytes) : SanitizeUtf8(bytes);
}

// Name: the bytes up to the first NUL, white space, quote, '&', '/', '<', '=' or '>'.
// `raw` receives the undecoded bytes (end tags are compared against them).
bool CXml::ParseName(std::string& raw) {
  size_t start = pos_;
  while (!AtEnd() && !EndsName(text_[pos_])) ++pos_;
  if (pos_ == start) return false;
  raw.assign(text_.substr(start, pos_ - start));
  return true;
}

// name S? '=' S? quote value quote. On failure the cursor is left where it was.
bool CXml::ParseAttribute(XmlAttribute& attribute) {
  size_t start = pos_;
  auto fail = [&] {
    pos_ = start;
    return false;
  };
  SkipWhiteSpace();
  std::string raw;
  if (!ParseName(raw)) return fail();
  SkipWhiteSpace();
  if (AtEnd() || text_[pos_] != '=') return fail();
  ++pos_;
  SkipWhiteSpace();
  if (AtEnd() || (text_[pos_] != '"' && text_[pos_] != '\'')) return fail();
  char quote = text_[pos_++];
  std::string value;
  if (!ParseText(quote, value)) return fail();
  attribute.name = Decode(raw);
  attribute.value = std::move(value);
  return true;
}

// Text content (quote == 0) or an attribute value up to `quote`. Entities among the five
// are replaced, other '&' kept; each run of white space becomes one space, with none at
// the start and none at the end. Content stops before '<'; a value stops behind its
// quote. A '>' (or, in a value, '<'), an empty text or the end of the input fails, and
// leaves the cursor where it was.
bool CXml::ParseText(char quote, std::string& out) {
  size_t end = pos_;
  while (end < text_.size() && text_[end] != '<' && text_[end] != '>' &&
         (quote == 0 || text_[end] != quote)) {
    ++end;
  }
  if (end == pos_ || end >= text_.size()) return false;
  char stop = text_[end];
  bool ok = quote == 0 ? stop == '<' : stop == quote;
  if (!ok) return false;

  std::string bytes;
  bytes.reserve(end - pos_);
  for (size_t i = pos_; i < end;) {
    char c = text_[i];
    if (IsWhiteSpace(c)) {
      while (i < end && IsWhiteSpace(text_[i])) ++i;
      if (!bytes.empty()) bytes += ' ';
      continue;
    }
    if (c == '&') {
      bool replaced = false;
      for (const Entity& entity : kEntities) {
        if (text_.substr(i, end - i).starts_with(entity.name)) {
          bytes += entity.character;
          i += entity.name.size();
          replaced = true;
          break;
        }
      }
      if (replaced) continue;
    }
    bytes += c;
    ++i;
  }
  if (!bytes.empty() && bytes.back() == ' ') bytes.pop_back();
  out = Decode(bytes);
  pos_ = quote == 0 ? end : end + 1;
  return true;
}

bool CXml::ParseDeclaration() {
  SkipWhiteSpace();
  if (!StartsWith("<?xml") || pos_ + 5 >= text_.size() || !IsWhiteSpace(text_[pos_ + 5])) {
    return false;
  }
  pos_ += 5;
  while (true) {
    SkipWhiteSpace();
    if (AtEnd()) return false;
    if (StartsWith("?>")) {
      pos_ += 2;
      return true;
    }
    size_t roundStart = pos_;
    XmlAttribute attribute;
    if (ParseAttribute(attribute) && attribute.name == "encoding") {
      codePage_ = kUtf8;
      std::string lower;
      for (char c : attribute.value) {
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      }
      if (lower == "shift_jis") codePage_ = kShiftJis;
      pendingEncoding_ = attribute.value;
    }
    if (pos_ == roundStart) {
      ParseError();
      return false;
    }
  }
}

std::optional<XmlElement> CXml::ParseElement() {
  std::optional<XmlElement> element = ParseElementAt(0);
  if (element && pendingEncoding_) {
    element->declarationEncoding = std::move(pendingEncoding_);
    pendingEncoding_.reset();
  }
  return element;
}

// One element and its content. A failing element leaves the cursor where the element
// began, except after a wrong end tag, which moves the cursor to the end of the text so
// that nothing further is read.
std::optional<XmlElement> CXml::ParseElementAt(int depth) {
  size_t start = pos_;
  auto fail = [&]() -> std::optional<XmlElement> {
    pos_ = start;
    return std::nullopt;
  };
  while (true) {
    SkipWhiteSpace();
    if (AtEnd() || text_[pos_] != '<') return fail();
    if (!StartsWith("<!--") || text_.size() - pos_ < 8) break;
    size_t close = text_.find("-->", pos_ + 4);
    if (close == std::string_view::npos) {
      pos_ = text_.size();  // an unterminated comment swallows the rest
      return std::nullopt;
    }
    pos_ = close + 3;
  }
  if (depth >= kMaxDepth) {
    ParseError();
    return fail();
  }

  ++pos_;  // '<'
  std::string rawName;
  if (!ParseName(rawName)) return fail();
  XmlElement element(Decode(rawName));
  if (AtEnd()) return fail();
  if (IsWhiteSpace(text_[pos_])) {
    SkipWhiteSpace();
  } else if (text_[pos_] != '/' && text_[pos_] != '>') {
    return fail();
  }

  // Attributes, up to "/>" or ">".
  while (true) {
    SkipWhiteSpace();
    if (StartsWith("/>")) {
      pos_ += 2;
      return element;
    }
    if (StartsWith(">")) {
      ++pos_;
      break;
    }
    size_t roundStart = pos_;
    XmlAttribute attribute;
    if (!ParseAttribute(attribute)) return fail();
    if (pos_ == roundStart) {
      ParseError();
      break;
    }
    element.attributes.push_back(std::move(attribute));
  }

  // Content: text runs, child elements, and the end tag.
  while (true) {
    size_t roundStart = pos_;
    SkipWhiteSpace();
    if (AtEnd()) return element;  // unterminated: as far as it got
    if (text_[pos_] != '<') {
      std::string text;
      if (ParseText(0, text)) element.text = std::move(text);
    } else if (StartsWith("</")) {
      size_t endTag = pos_;
      pos_ += 2;
      bool matches = StartsWith(rawName);
      if (matches) {
        pos_ += rawName.size();
        SkipWhiteSpace();
        matches = !AtEnd() && text_[pos_] == '>';
      }
      if (!matches) {
        pos_ = endTag;
        ParseError();
        pos_ = text_.size();
        return std::nullopt;
      }
      ++pos_;
      return element;
    } else {
      std::optional<XmlElement> child = ParseElementAt(depth + 1);
      if (child) element.children.push_back(std::move(*child));
    }
    if (pos_ == roundStart) {
      ParseError();
      return element;
    }
  }
}

std::optional<std::string> CXml::Serialize(std::span<const XmlElement> elements) {
  try {
    std::string out = "<?xml version=\"1.0\" ";
    if (!elements.empty() && elements.front().declarationEncoding) {
      out += "encoding=\"";
      AppendEscaped(out, *elements.front().declarationEncoding);
      out += "\" ";
    }
    out += "?>\r\n";
    for (const XmlElement& element : elements) AppendElement(out, element);
    return out;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

int32_t CXml::GetInt(const XmlElement* element, int32_t defaultValue) {
  if (element == nullptr || !element->text || element->text->empty()) return defaultValue;
  std::string_view s = *element->text;
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && s[i] == '-') {
    negative = true;
    ++i;
  }
  uint32_t value = 0;  // unsigned, so that overlong numbers wrap instead of overflowing
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return defaultValue;
    value = value * 10 + static_cast<uint32_t>(s[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

}  // namespace fennik
