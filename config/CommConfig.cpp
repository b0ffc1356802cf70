#include "config/CommConfig.h"

#include <cstdlib>
#include <string_view>

#include "base/DebugPrint.h"
#include "config/SettingsLocation.h"

namespace fennik {
namespace {

std::string Decimal(int32_t value) { return std::to_string(value); }

// A string setting: the element's text when the element is present (absent text reads as
// ""), `missing` when it is not.
std::string ReadString(const XmlElement& config, std::string_view key, const std::string& missing) {
  const XmlElement* element = config.FindChild(key);
  if (element == nullptr) return missing;
  return element->text.value_or("");
}

}  // namespace

CCommConfig::CCommConfig() : CCommConfig(ExecutableFolder(), CurrentFolder()) {}

CCommConfig::CCommConfig(std::string appFolder, std::string currentFolder)
    : appPath(std::move(appFolder)), currentPath(std::move(currentFolder)) {
  DebugPrint("app_path     = %s\n", appPath.c_str());
  DebugPrint("current_path = %s\n", currentPath.c_str());
  tempPath = currentPath;
  logPath = currentPath;
  iniPath_ = LocateSettingsFile(currentPath, appPath, UserConfigFolder());
  DebugPrint("ini_file = %s\n", iniPath_.c_str());
}

std::string CCommConfig::GetVersion() const { return "1.1.0.0"; }

std::string CCommConfig::GetProductName(int32_t) const { return "Fennik"; }

int32_t CCommConfig::GetMenuResource(int32_t menuLanguage) const {
  return menuLanguage == kLanguageJapanese ? 10013 : 10014;
}

std::string CCommConfig::GetHelpPage(int32_t) const { return ""; }

int32_t CCommConfig::MapResourceId(int32_t id) const {
  return (id >= 10011 && id <= 10016) ? id : 0;
}

void CCommConfig::Initialize() {
  mainWindowClass = "FENNIK MAIN WINDOW";
  childWindowClass = "FENNIK CHILD WINDOW";
  controlItemWindowClass = "FENNIK CONTROL ITEM WINDOW";
}

bool CCommConfig::IsValidLanguage(int32_t value) const {
  return value == kLanguageEnglish || value == kLanguageJapanese;
}

void CCommConfig::Create() {
  Initialize();
  defaultColors = DefaultColors();
  colors = defaultColors;
  Load();
}

CCommConfig::LoadResult CCommConfig::Load() {
  std::string bytes;
  switch (ReadWholeFile(iniPath_, kMaxFileSize, bytes)) {
    case ReadFileResult::kOk: break;
    case ReadFileResult::kMissing: return loadResult_ = LoadResult::kMissing;
    case ReadFileResult::kUnreadable: return loadResult_ = LoadResult::kUnreadable;
  }
  // Editors often start UTF-8 files with a byte order mark; it is not white space to
  // the XML reader, so it is dropped here rather than making the file unreadable.
  std::string_view text = bytes;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  CXml xml;
  xml.SetText(text);
  if (!xml.ParseDeclaration()) return loadResult_ = LoadResult::kMalformed;
  std::vector<XmlElement> topLevel;
  while (std::optional<XmlElement> element = xml.ParseElement()) {
    topLevel.push_back(std::move(*element));
  }
  for (const XmlElement& element : topLevel) {
    if (element.name == "config") {
      ReadElements(element);
      return loadResult_ = LoadResult::kLoaded;
    }
  }
  return loadResult_ = LoadResult::kMalformed;
}

void CCommConfig::ReadElements(const XmlElement& config) {
  storedLanguage = CXml::GetInt(config.FindChild("language"), -1);
  fontName = ReadString(config, "font_name", "");
  fontSize = CXml::GetInt(config.FindChild("font_size"), 0);
  tempPath = ReadString(config, "temp_path", currentPath);
  logEnabled = CXml::GetInt(config.FindChild("log_enabled"), 0);
  logPath = ReadString(config, "log_path", currentPath);
  viewToolbar = CXml::GetInt(config.FindChild("view_toolbar"), 1);
  viewStatusbar = CXml::GetInt(config.FindChild("view_statusbar"), 1);

  if (const XmlElement* list = config.FindChild("colors")) {
    for (const XmlElement& color : list->children) {
      if (color.name != "color") continue;
      int32_t index = CXml::GetInt(color.FindChild("index"), colorCount);
      if (index < 0 || index >= colorCount) continue;
      const ColorPair& fallback = defaultColors[static_cast<size_t>(index)];
      ColorPair& entry = colors[static_cast<size_t>(index)];
      entry.text = static_cast<uint32_t>(
          CXml::GetInt(color.FindChild("text"), static_cast<int32_t>(fallback.text)));
      entry.background = static_cast<uint32_t>(
          CXml::GetInt(color.FindChild("background"), static_cast<int32_t>(fallback.background)));
    }
  }
}

void CCommConfig::WriteElements(XmlElement& config) const {
  config.AddChild("language", Decimal(storedLanguage));
  config.AddChild("font_name", fontName);
  config.AddChild("font_size", Decimal(fontSize));
  config.AddChild("temp_path", tempPath);
  config.AddChild("log_enabled", Decimal(logEnabled));
  config.AddChild("log_path", logPath);
  config.AddChild("view_toolbar", Decimal(viewToolbar));
  config.AddChild("view_statusbar", Decimal(viewStatusbar));

  XmlElement& list = config.AddChild("colors");
  for (int32_t i = 0; i < colorCount; ++i) {
    const ColorPair& entry = colors[static_cast<size_t>(i)];
    XmlElement& color = list.AddChild("color");
    color.AddChild("index", Decimal(i));
    color.AddChild("text", Decimal(static_cast<int32_t>(entry.text)));
    color.AddChild("background", Decimal(static_cast<int32_t>(entry.background)));
  }
}

std::optional<std::string> CCommConfig::SerializeSettings() const {
  XmlElement config("config");
  WriteElements(config);
  return CXml::Serialize(std::span(&config, 1));
}

bool CCommConfig::Save() const {
  std::optional<std::string> bytes = SerializeSettings();
  if (!bytes) return false;
  if (!ReplaceFile(iniPath_, *bytes)) {
    DebugPrint("[CONFIG] cannot write %s\n", iniPath_.c_str());
    return false;
  }
  return true;
}

std::string CCommConfig::FontNameInForce() const {
  if (!fontName.empty()) return fontName;
  return language == kLanguageJapanese ? "ＭＳ ゴシック" : "Courier New";
}

int32_t CCommConfig::FontSizeInForce() const {
  if (fontSize != 0) return fontSize;
  return language == kLanguageJapanese ? 12 : 14;
}

int32_t CCommConfig::LanguageFromLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    return std::string_view(value).starts_with("ja") ? kLanguageJapanese : kLanguageEnglish;
  }
  return kLanguageEnglish;
}

int32_t CCommConfig::ResolveLanguage() const {
  return IsValidLanguage(storedLanguage) ? storedLanguage : LanguageFromLocale();
}

}  // namespace fennik
