// Fuzzes the settings XML reader: declaration, every top-level element, then the
// settings object's key rules over the parsed tree, and the writer over what was read.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "config/AppParameter.h"
#include "config/Xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fennik;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CXml xml;
  xml.SetText(text);
  if (!xml.ParseDeclaration()) return 0;
  std::vector<XmlElement> elements;
  while (std::optional<XmlElement> element = xml.ParseElement()) {
    if (xml.Position() > size) __builtin_trap();
    elements.push_back(std::move(*element));
  }
  for (const XmlElement& element : elements) {
    if (element.name == "config") {
      static CAppParameter settings("/nonexistent/app", "/nonexistent/start");
      settings.ReadElements(element);
      (void)settings.SerializeSettings();
      break;
    }
  }
  (void)CXml::Serialize(elements);
  return 0;
}
