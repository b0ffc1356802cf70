#include "config/Xml.h"

#include <gtest/gtest.h>

#include <vector>

namespace fennik {
namespace {

// Parses a whole document: the declaration, then every top-level element.
struct Parsed {
  bool declaration = false;
  std::vector<XmlElement> elements;
  CXml::CodePage codePage = CXml::kUtf8;
};

Parsed Parse(const std::string& text) {
  CXml xml;
  xml.SetText(text);
  Parsed parsed;
  parsed.declaration = xml.ParseDeclaration();
  while (std::optional<XmlElement> element = xml.ParseElement()) {
    parsed.elements.push_back(std::move(*element));
  }
  parsed.codePage = xml.GetCodePage();
  return parsed;
}

// Parses one element from a text without declaration.
std::optional<XmlElement> ParseOne(const std::string& text) {
  CXml xml;
  xml.SetText(text);
  return xml.ParseElement();
}

TEST(Xml, DeclarationNeedsXmlAndWhiteSpaceAndClosing) {
  EXPECT_TRUE(Parse("  \r\n<?xml version=\"1.0\" ?>").declaration);
  EXPECT_TRUE(Parse("<?xml version='1.0'?>").declaration);
  EXPECT_FALSE(Parse("<?xmlversion=\"1.0\"?>").declaration);  // no white space after "<?xml"
  EXPECT_FALSE(Parse("<config/>").declaration);
  EXPECT_FALSE(Parse("<?xml version=\"1.0\"").declaration);   // ends inside
  EXPECT_FALSE(Parse("<?xml version ?>").declaration);        // broken attribute: no progress
  EXPECT_FALSE(Parse("<?xml ").declaration);
}

TEST(Xml, EmptyElementsHaveNoText) {
  std::optional<XmlElement> a = ParseOne("<a/>");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->name, "a");
  EXPECT_FALSE(a->text);
  EXPECT_TRUE(a->children.empty());

  std::optional<XmlElement> b = ParseOne("<b></b>");
  ASSERT_TRUE(b);
  EXPECT_FALSE(b->text);

  std::optional<XmlElement> c = ParseOne("<c>  \r\n\t </c>");
  ASSERT_TRUE(c);
  EXPECT_FALSE(c->text);
}

TEST(Xml, TextCollapsesWhiteSpaceAndReplacesEntities) {
  std::optional<XmlElement> a = ParseOne("<a> x &amp; y </a>");
  ASSERT_TRUE(a && a->text);
  EXPECT_EQ(*a->text, "x & y");

  a = ParseOne("<a>one\r\n   two\tthree  </a>");
  ASSERT_TRUE(a && a->text);
  EXPECT_EQ(*a->text, "one two three");

  a = ParseOne("<a>&lt;&gt;&quot;&apos;&amp;amp;</a>");
  ASSERT_TRUE(a && a->text);
  EXPECT_EQ(*a->text, "<>\"'&amp;");

  // Unknown entities and a bare ampersand stay as they are.
  a = ParseOne("<a>&foo; & &#65;</a>");
  ASSERT_TRUE(a && a->text);
  EXPECT_EQ(*a->text, "&foo; & &#65;");
}

TEST(Xml, LaterTextRunReplacesEarlier) {
  std::optional<XmlElement> a = ParseOne("<a>first<b>x</b>second</a>");
  ASSERT_TRUE(a && a->text);
  EXPECT_EQ(*a->text, "second");
  ASSERT_EQ(a->children.size(), 1u);
  EXPECT_EQ(a->children[0].text.value_or(""), "x");
}

TEST(Xml, BareGreaterThanInContentFailsTheText) {
  CXml xml;
  std::string text = "<a>x > y</a><b/>";
  xml.SetText(text);
  std::optional<XmlElement> a = xml.ParseElement();
  ASSERT_TRUE(a);  // returned as far as it got
  EXPECT_FALSE(a->text);
  EXPECT_FALSE(xml.ParseElement());  // parsing cannot go on behind the bad text
}

TEST(Xml, AttributesAndNestedChildrenInOrder) {
  std::optional<XmlElement> a =
      ParseOne("<a  x = \"1 &lt; 2\" y='two'\n><b>1</b><!-- note --><c/><b>2</b></a >");
  ASSERT_TRUE(a);
  ASSERT_EQ(a->attributes.size(), 2u);
  EXPECT_EQ(a->attributes[0].name, "x");
  EXPECT_EQ(a->attributes[0].value, "1 < 2");
  EXPECT_EQ(a->attributes[1].name, "y");
  EXPECT_EQ(a->attributes[1].value, "two");
  ASSERT_EQ(a->children.size(), 3u);
  EXPECT_EQ(a->children[0].name, "b");
  EXPECT_EQ(a->children[1].name, "c");
  EXPECT_EQ(a->children[2].name, "b");
  // FindChild gives the first of a name.
  ASSERT_NE(a->FindChild("b"), nullptr);
  EXPECT_EQ(a->FindChild("b")->text.value_or(""), "1");
  EXPECT_EQ(a->FindChild("B"), nullptr);  // names are case-sensitive
}

TEST(Xml, BrokenAttributeFailsTheElement) {
  EXPECT_FALSE(ParseOne("<a x=1></a>"));        // unquoted
  EXPECT_FALSE(ParseOne("<a x=\"1></a>"));      // quote never closed before '>'
  EXPECT_FALSE(ParseOne("<a x=\"\"></a>"));     // empty value
  EXPECT_FALSE(ParseOne("<a x></a>"));          // no '='
  EXPECT_FALSE(ParseOne("<a\"x\"></a>"));       // nothing may follow the name directly
}

TEST(Xml, CommentsAreSkippedAndAnUnterminatedOneEndsTheText) {
  Parsed p = Parse("<?xml version=\"1.0\"?>\n<!-- a < b -->\n<a>1</a><!-- x --><b/>");
  ASSERT_EQ(p.elements.size(), 2u);
  EXPECT_EQ(p.elements[0].name, "a");
  EXPECT_EQ(p.elements[1].name, "b");

  p = Parse("<?xml version=\"1.0\"?><!-- never closed <a>1</a>");
  EXPECT_TRUE(p.elements.empty());
}

TEST(Xml, WrongEndTagStopsAllParsing) {
  CXml xml;
  std::string text = "<a><b>1</c><d>2</d></a><e/>";
  xml.SetText(text);
  std::optional<XmlElement> a = xml.ParseElement();
  ASSERT_TRUE(a);  // a itself comes back as far as it got, without b and anything after it
  EXPECT_TRUE(a->children.empty());
  EXPECT_EQ(xml.Position(), text.size());
  EXPECT_FALSE(xml.ParseElement());

  // An end tag that only begins with the start tag's name is wrong, too.
  EXPECT_FALSE(ParseOne("<a>1</ab>"));
  // White space before '>' is allowed.
  EXPECT_TRUE(ParseOne("<a>1</a \r\n>"));
}

TEST(Xml, UnterminatedElementReturnsWhatWasRead) {
  std::optional<XmlElement> a = ParseOne("<a><b>1</b><c>2");
  ASSERT_TRUE(a);
  ASSERT_EQ(a->children.size(), 2u);
  EXPECT_EQ(a->children[0].text.value_or(""), "1");
  EXPECT_FALSE(a->children[1].text);  // "2" runs into the end of the text
}

TEST(Xml, DeepNestingIsBounded) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  std::optional<XmlElement> a = ParseOne(deep);
  ASSERT_TRUE(a);
  int depth = 1;
  for (const XmlElement* e = &*a; !e->children.empty(); e = &e->children[0]) ++depth;
  EXPECT_EQ(depth, CXml::kMaxDepth);
}

TEST(Xml, EncodingAttributeSelectsTheCodePage) {
  // "表" in Shift_JIS is 95 5C; "ソ" is 83 5C: second bytes that are ASCII backslashes.
  std::string sjis = "<?xml version=\"1.0\" encoding=\"SHIFT_JIS\"?><a>\x95\x5C\x83\x5C</a>";
  Parsed p = Parse(sjis);
  EXPECT_EQ(p.codePage, CXml::kShiftJis);
  ASSERT_EQ(p.elements.size(), 1u);
  EXPECT_EQ(p.elements[0].text.value_or(""), "表ソ");
  EXPECT_EQ(p.elements[0].declarationEncoding.value_or(""), "SHIFT_JIS");

  // Any other encoding reads as UTF-8.
  p = Parse("<?xml version=\"1.0\" encoding=\"EUC-JP\"?><a>表</a>");
  EXPECT_EQ(p.codePage, CXml::kUtf8);
  ASSERT_EQ(p.elements.size(), 1u);
  EXPECT_EQ(p.elements[0].text.value_or(""), "表");
}

TEST(Xml, InvalidBytesBecomeReplacementCharacters) {
  // UTF-8: a stray continuation byte and a truncated sequence.
  std::optional<XmlElement> a = ParseOne("<a>x\x80y\xE3\x81</a>");
  ASSERT_TRUE(a && a->text);
  EXPECT_EQ(*a->text, "x\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBD");

  // Shift_JIS: a lead byte with an invalid second byte; the rest still converts.
  Parsed p = Parse("<?xml version=\"1.0\" encoding=\"shift_jis\"?><a>\x83\x47\x81\x20x</a>");
  ASSERT_EQ(p.elements.size(), 1u);
  std::string text = p.elements[0].text.value_or("");
  EXPECT_TRUE(text.starts_with("エ")) << text;
  EXPECT_TRUE(text.ends_with("x")) << text;
  EXPECT_NE(text.find("\xEF\xBF\xBD"), std::string::npos) << text;
}

TEST(Xml, SerializeLayout) {
  XmlElement root("config");
  root.AddChild("a", "<&>");
  root.AddChild("b");
  XmlElement& c = root.AddChild("c");
  c.AddChild("d", "1");
  c.attributes.push_back({"k", "v\"w"});
  std::optional<std::string> out = CXml::Serialize(std::span(&root, 1));
  ASSERT_TRUE(out);
  EXPECT_EQ(*out,
            "<?xml version=\"1.0\" ?>\r\n"
            "<config><a>&lt;&amp;&gt;</a>\r\n"
            "<b/>\r\n"
            "<c k=\"v&quot;w\" ><d>1</d>\r\n"
            "</c>\r\n"
            "</config>\r\n");
}

TEST(Xml, SerializeWritesTheDeclarationEncodingAndReadsBack) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<a x=\"1\" >t</a>\r\n<b/>\r\n";
  Parsed p = Parse(text);
  ASSERT_EQ(p.elements.size(), 2u);
  std::optional<std::string> out = CXml::Serialize(p.elements);
  ASSERT_TRUE(out);
  EXPECT_EQ(*out, text);
}

TEST(Xml, GetIntRules) {
  auto get = [](std::optional<std::string> text, int32_t fallback = -7) {
    XmlElement e("n", std::move(text));
    return CXml::GetInt(&e, fallback);
  };
  EXPECT_EQ(CXml::GetInt(nullptr, -7), -7);
  EXPECT_EQ(get(std::nullopt), -7);
  EXPECT_EQ(get(""), -7);
  EXPECT_EQ(get("42"), 42);
  EXPECT_EQ(get(" \t 1"), 1);        // leading blanks and tabs skipped
  EXPECT_EQ(get("-15"), -15);
  EXPECT_EQ(get("-"), 0);            // a lone minus gives 0
  EXPECT_EQ(get("1a"), -7);
  EXPECT_EQ(get("1 "), -7);
  EXPECT_EQ(get("+1"), -7);
  EXPECT_EQ(get("0x10"), -7);
  EXPECT_EQ(get("4294967295"), -1);  // accumulated in 32 bits
  EXPECT_EQ(get("-2147483648"), INT32_MIN);
}

}  // namespace
}  // namespace fennik
