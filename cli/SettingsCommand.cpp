// fennik-cli settings: the settings in force and the file they came from.
#include <cstdio>
#include <string>

#include "cli/CliArgs.h"
#include "config/AppParameter.h"

namespace fennik::cli {
namespace {

const char* StatusText(CCommConfig::LoadResult result) {
  switch (result) {
    case CCommConfig::LoadResult::kLoaded: return "read";
    case CCommConfig::LoadResult::kMissing: return "not found, defaults in force";
    case CCommConfig::LoadResult::kUnreadable: return "unreadable, defaults in force";
    case CCommConfig::LoadResult::kMalformed: return "not a settings file, defaults in force";
    case CCommConfig::LoadResult::kNotLoaded: break;
  }
  return "not read";
}

// The colour dialog's name of an index in the given language, or "" when it has none.
std::string ColorNameOf(int32_t index, int32_t language) {
  for (const ColorName& name : ColorNames()) {
    if (name.index == index) return language == kLanguageJapanese ? name.japanese : name.english;
  }
  return "";
}

// Prints a multi-line text with each line indented; CR LF and LF both end a line.
void PrintIndented(const std::string& text, const char* indent) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t lineEnd = end;
    if (lineEnd > start && text[lineEnd - 1] == '\r') --lineEnd;
    std::printf("%s%s\n", indent, text.substr(start, lineEnd - start).c_str());
    start = end + 1;
  }
}

}  // namespace

int RunSettings(const CliArgs& args) {
  if (!args.Positional().empty()) return Fail(kExitUsage, "settings takes no file argument");
  CAppParameter settings;
  settings.Create();
  settings.language = settings.ResolveLanguage();
  if (auto lang = args.Get("--lang")) {
    if (*lang == "en") {
      settings.language = kLanguageEnglish;
    } else if (*lang == "ja") {
      settings.language = kLanguageJapanese;
    } else {
      return Fail(kExitUsage, "--lang takes en or ja");
    }
  }

  std::printf("file: %s\n", settings.SettingsFilePath().c_str());
  std::printf("status: %s\n", StatusText(settings.LastLoadResult()));
  std::printf("language: %d (stored: %d)\n", settings.language, settings.storedLanguage);
  std::printf("font_name: %s (in force: %s)\n", settings.fontName.c_str(),
              settings.FontNameInForce().c_str());
  std::printf("font_size: %d (in force: %d)\n", settings.fontSize, settings.FontSizeInForce());
  std::printf("temp_path: %s\n", settings.tempPath.c_str());
  std::printf("log_enabled: %d\n", settings.logEnabled);
  std::printf("log_path: %s\n", settings.logPath.c_str());
  std::printf("view_toolbar: %d\n", settings.viewToolbar);
  std::printf("view_statusbar: %d\n", settings.viewStatusbar);
  std::printf("arib_code: %d\n", settings.aribCode ? 1 : 0);
  std::printf("file_read_limit: %d\n", settings.fileReadLimitEnabled ? 1 : 0);
  std::printf("file_read_limit_length: %u\n", settings.fileReadLimit);
  std::printf("config_val_1: %d\n", settings.configValue1);
  std::printf("config_val_2: %d\n", settings.configValue2);
  std::printf("video_preview: %d\n", settings.videoPreview ? 1 : 0);
  std::printf("show_codec: %d\n", settings.showCodec ? 1 : 0);
  std::printf("play_timeline: %d\n", settings.playTimeline ? 1 : 0);
  std::printf("ts_packets: %zu\n", settings.packetOptions.size());
  for (const PacketOption& option : settings.packetOptions) {
    std::printf("  type %u time %u\n", option.type, option.time);
  }
  std::printf("colors: %d\n", settings.colorCount);
  for (int32_t i = 0; i < settings.colorCount; ++i) {
    const ColorPair& c = settings.colors[static_cast<size_t>(i)];
    std::string name = ColorNameOf(i, settings.language);
    std::printf("  %2d text 0x%06X background 0x%06X%s%s\n", i, c.text, c.background,
                name.empty() ? "" : "  ", name.c_str());
  }
  std::printf("sdp_list: %zu\n", settings.sdpList.size());
  for (size_t i = 0; i < settings.sdpList.size(); ++i) {
    std::printf("  [%zu] %s\n", i + 1, settings.sdpList[i].title.c_str());
    PrintIndented(settings.sdpList[i].body, "      ");
  }
  return kExitOk;
}

}  // namespace fennik::cli
