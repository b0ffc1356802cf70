// The desktop program's access to the process's settings object: the settings it reads
// and changes, in the types its dialogs use; everything here runs on the main thread.
#pragma once

#include <string>
#include <vector>

#include "config/ColorTable.h"
#include "ui/SdpText.h"

namespace fennik {

struct ViewStyle;

// Creates the settings object (program and current folder, defaults, the settings file);
// `iniPath` non-empty points it at another settings file (tests).
void CreateSettings(const std::string& iniPath = {});
void DeleteSettings();
bool SettingsExist();

int LanguageInForce();
int StoredLanguage();  // -1 when never chosen
void SetLanguageInForce(int language);
void SetStoredLanguage(int language);
// Japanese when the user's locale names Japanese.
int LocaleLanguage();

ColorArray SettingsColors();
void SetSettingsColors(const ColorArray& colors);
std::string SettingsFontName();  // as stored (empty: the default)
int SettingsFontSize();
void SetSettingsFont(const std::string& name, int size);
std::vector<SdpText> SettingsSdpList();
void SetSettingsSdpList(const std::vector<SdpText>& list);
// Audio plays (and lists its frame times) on the RTP timeline unless this is off.
bool SettingsPlayTimeline();
uint32_t SettingsFileLimitMb();
void SetSettingsFileLimitMb(uint32_t megabytes);
std::string SettingsFilePath();
std::string HelpPage(int language);
std::string ProgramVersion();

// Writes the settings file; false when it could not be written.
bool SaveSettings();
// The view style from the settings in force.
void FillViewStyle(ViewStyle& style);

}  // namespace fennik
