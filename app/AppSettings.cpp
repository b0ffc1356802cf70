#include "app/AppSettings.h"

#include <algorithm>
#include <memory>

#include "config/AppParameter.h"
#include "ui/ViewStyle.h"

namespace fennik {
namespace {

std::unique_ptr<CAppParameter>& Object() {
  static std::unique_ptr<CAppParameter> settings;
  return settings;
}

CAppParameter& S() {
  if (!Object()) CreateSettings();
  return *Object();
}

}  // namespace

void CreateSettings(const std::string& iniPath) {
  auto settings = std::make_unique<CAppParameter>();
  if (!iniPath.empty()) settings->SetSettingsFilePath(iniPath);
  settings->Create();
  Object() = std::move(settings);
}

void DeleteSettings() { Object().reset(); }
bool SettingsExist() { return Object() != nullptr; }

int LanguageInForce() { return S().language; }
int StoredLanguage() { return S().storedLanguage; }
void SetLanguageInForce(int language) { S().language = language == 1 ? 1 : 0; }
void SetStoredLanguage(int language) { S().storedLanguage = language == 1 ? 1 : 0; }
int LocaleLanguage() { return CCommConfig::LanguageFromLocale(); }

ColorArray SettingsColors() { return S().colors; }
void SetSettingsColors(const ColorArray& colors) { S().colors = colors; }
std::string SettingsFontName() { return S().fontName; }
int SettingsFontSize() { return S().fontSize; }
void SetSettingsFont(const std::string& name, int size) {
  S().fontName = name;
  S().fontSize = size;
}

std::vector<SdpText> SettingsSdpList() {
  std::vector<SdpText> list;
  for (const SdpListEntry& e : S().sdpList) list.push_back({e.title, e.body});
  return list;
}

void SetSettingsSdpList(const std::vector<SdpText>& list) {
  S().sdpList.clear();
  for (const SdpText& e : list) S().sdpList.push_back({e.title, e.body});
}

bool SettingsPlayTimeline() { return S().playTimeline; }
uint32_t SettingsFileLimitMb() { return S().fileReadLimit / (1024 * 1024); }
void SetSettingsFileLimitMb(uint32_t megabytes) {
  const uint64_t bytes = uint64_t{megabytes} * 1024 * 1024;
  S().fileReadLimit = static_cast<uint32_t>(std::min<uint64_t>(bytes, CAppParameter::kMaxFileReadLimit));
}
std::string SettingsFilePath() { return S().SettingsFilePath(); }
std::string HelpPage(int language) { return S().GetHelpPage(language); }
std::string ProgramVersion() { return S().GetVersion(); }

bool SaveSettings() { return S().Save(); }

void FillViewStyle(ViewStyle& style) {
  style.colors = S().colors;
  style.fontName = S().fontName;
  style.fontSize = S().fontSize;
  style.language = S().language;
}

}  // namespace fennik
