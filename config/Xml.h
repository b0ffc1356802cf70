// CXml: reader and writer for the small XML subset of the settings file — an XML
// declaration, elements with attributes, text content, comments and the five predefined
// entities. Input bytes are UTF-8 or Shift_JIS (CP932); names and texts are handed out as
// UTF-8. Output is always UTF-8. No CDATA, DOCTYPE, processing instructions other than
// the declaration, numeric character references or namespaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fennik {

struct XmlAttribute {
  std::string name;
  std::string value;
};

struct XmlElement {
  std::string name;
  // Absent for an element written without content; never empty when read.
  std::optional<std::string> text;
  std::vector<XmlAttribute> attributes;
  std::vector<XmlElement> children;  // document order
  // The "encoding" attribute of the XML declaration; only the first top-level element of a
  // parsed document carries it, and Serialize writes it back into the declaration.
  std::optional<std::string> declarationEncoding;

  XmlElement() = default;
  explicit XmlElement(std::string elementName, std::optional<std::string> elementText = std::nullopt)
      : name(std::move(elementName)), text(std::move(elementText)) {}

  // The first child whose name equals `childName` byte for byte, or null.
  const XmlElement* FindChild(std::string_view childName) const;
  // Appends a child and returns it (the reference is valid until the next append).
  XmlElement& AddChild(std::string childName, std::optional<std::string> childText = std::nullopt);
};

class CXml {
 public:
  enum CodePage : int32_t { kUtf8 = 65001, kShiftJis = 932 };

  // Nesting deeper than this fails the innermost element (stack safety on hostile input).
  static constexpr int kMaxDepth = 64;

  // Starts reading `bytes` (which must outlive the reads) from position 0 as UTF-8.
  void SetText(std::string_view bytes);

  // Reads the XML declaration; true with the cursor behind "?>". The declaration's
  // encoding attribute selects Shift_JIS or UTF-8 for the rest of the text.
  bool ParseDeclaration();

  // Reads the next top-level element with its descendants. Returns nothing when no element
  // starts here or the element is broken; call repeatedly to collect the top-level
  // elements in order. After a wrong end tag nothing further is read.
  std::optional<XmlElement> ParseElement();

  size_t Position() const { return pos_; }
  CodePage GetCodePage() const { return codePage_; }

  // The declaration line, then each element (in order) with all its descendants, UTF-8,
  // no indentation, CR LF after every end tag or empty-element tag. Nothing on
  // allocation failure.
  static std::optional<std::string> Serialize(std::span<const XmlElement> elements);

  // The element's text as a decimal 32-bit integer: leading spaces and tabs skipped, an
  // optional "-", then digits only (a lone "-" gives 0). No element, no text, or any
  // other character gives `defaultValue`. Overlong numbers wrap modulo 2^32.
  static int32_t GetInt(const XmlElement* element, int32_t defaultValue);

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  bool StartsWith(std::string_view s) const { return text_.substr(pos_).starts_with(s); }
  void SkipWhiteSpace();
  bool ParseName(std::string& raw);
  bool ParseAttribute(XmlAttribute& attribute);
  bool ParseText(char quote, std::string& out);
  std::optional<XmlElement> ParseElementAt(int depth);
  std::string Decode(std::string_view bytes) const;
  void ParseError() const;

  std::string_view text_;
  size_t pos_ = 0;
  CodePage codePage_ = kUtf8;
  std::optional<std::string> pendingEncoding_;
};

}  // namespace fennik
