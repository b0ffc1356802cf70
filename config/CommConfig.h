// CCommConfig: the common part of the process's settings object — paths, language, font,
// the colour table and the settings file ("fennik.ini", XML) that stores them.
#pragma once

#include <cstdint>
#include <string>

#include "base/Language.h"
#include "config/ColorTable.h"
#include "config/Xml.h"

namespace fennik {

class CCommConfig {
 public:
  enum class LoadResult {
    kNotLoaded,   // Load has not run
    kLoaded,      // the file was read (possibly only partly, when it breaks off)
    kMissing,     // no file: defaults in force
    kUnreadable,  // cannot be opened or read whole: defaults in force
    kMalformed,   // no XML declaration or no "config" element: defaults in force
  };

  // Larger settings files are refused as unreadable; real ones are a few kilobytes.
  static constexpr size_t kMaxFileSize = 16 * 1024 * 1024;

  // Program folder from the executable, start folder from the current folder.
  CCommConfig();
  // Explicit folders (tests, tools); the settings file is located from them.
  CCommConfig(std::string appPath, std::string currentPath);
  virtual ~CCommConfig() = default;

  CCommConfig(const CCommConfig&) = delete;
  CCommConfig& operator=(const CCommConfig&) = delete;

  virtual std::string GetVersion() const;
  virtual std::string GetProductName(int32_t language) const;
  virtual int32_t GetMenuResource(int32_t language) const;
  // No help page address is configured yet; returns "".
  virtual std::string GetHelpPage(int32_t language) const;
  virtual int32_t MapResourceId(int32_t id) const;
  // Sets the window class names.
  virtual void Initialize();
  virtual bool IsValidLanguage(int32_t language) const;
  // Reads the settings file: each key present sets its setting, each key missing sets the
  // default. When the file is missing, unreadable or not a settings file nothing changes.
  // Never writes the file.
  LoadResult Load();
  // Writes every setting to the settings file, replacing it atomically. False when the
  // file could not be written; the previous file is then unchanged.
  bool Save() const;
  // Initialize, default colours, then Load.
  virtual void Create();

  // Reads this class's keys from the "config" element / appends them to it.
  virtual void ReadElements(const XmlElement& config);
  virtual void WriteElements(XmlElement& config) const;

  // The whole file content as Save writes it.
  std::optional<std::string> SerializeSettings() const;

  const std::string& SettingsFilePath() const { return iniPath_; }
  // Points loading and saving at another file (tests, tools).
  void SetSettingsFilePath(std::string path) { iniPath_ = std::move(path); }
  LoadResult LastLoadResult() const { return loadResult_; }

  // Effective font: an empty name or size 0 means the language's fixed-pitch default.
  std::string FontNameInForce() const;
  int32_t FontSizeInForce() const;

  // Japanese when the locale (LC_ALL, LC_MESSAGES, LANG) names Japanese, else English.
  static int32_t LanguageFromLocale();
  // The stored language when valid, else the locale's.
  int32_t ResolveLanguage() const;

  // Window class names.
  std::string mainWindowClass;
  std::string childWindowClass;
  std::string controlItemWindowClass;
  // Folders, without trailing separator.
  std::string appPath;
  std::string currentPath;

  int32_t language = kLanguageEnglish;  // in force for this run
  int32_t storedLanguage = -1;          // -1: never chosen
  std::string fontName;
  int32_t fontSize = 0;
  std::string tempPath;
  int32_t logEnabled = 0;
  std::string logPath;
  int32_t viewToolbar = 1;
  int32_t viewStatusbar = 1;
  static constexpr int32_t colorCount = kColorCount;
  ColorArray defaultColors = DefaultColors();
  ColorArray colors = DefaultColors();

 private:
  std::string iniPath_;
  LoadResult loadResult_ = LoadResult::kNotLoaded;
};

}  // namespace fennik
