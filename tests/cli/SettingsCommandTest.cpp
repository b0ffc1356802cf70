// fennik-cli settings, run as a user would: from a folder with or without a settings file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "tests/config/ConfigTestUtil.h"

namespace fennik {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::TestData;
using testing::WriteFile;

struct RunResult {
  int status = -1;
  std::string out;
};

RunResult RunSettings(const std::string& folder, const std::string& options) {
  std::string command = "cd '" + folder + "' && LC_ALL=C XDG_CONFIG_HOME='" + folder +
                        "/xdg' '" FENNIK_CLI_PATH "' settings " + options + " 2>&1";
  RunResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(SettingsCommand, PrintsTheFileAndTheSettingsReadFromIt) {
  TempFolder folder;
  std::string file = folder / "fennik.ini";
  WriteFile(file, ReadFile(TestData("handwritten-sjis.ini")));
  RunResult r = RunSettings(folder.path(), "");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("file: " + file + "\nstatus: read\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("language: 1 (stored: 1)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("font_name: IPAゴシック (in force: IPAゴシック)\n"), std::string::npos);
  EXPECT_NE(r.out.find("file_read_limit_length: 10485760\n"), std::string::npos);
  // Colour 21 was set by the file; names follow the language in force (Japanese here).
  EXPECT_NE(r.out.find("  21 text 0x0000FF background 0x00FF00  カーソル行の色\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("sdp_list: 2\n  [1] 社内 PBX & 会議室\n      v=0\n"), std::string::npos);

  r = RunSettings(folder.path(), "--lang en");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("language: 0 (stored: 1)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  21 text 0x0000FF background 0x00FF00  Cursor Color\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("font_name: IPAゴシック (in force: IPAゴシック)\n"), std::string::npos);
}

TEST(SettingsCommand, DefaultsWithoutAFileAndNothingWritten) {
  TempFolder folder;
  RunResult r = RunSettings(folder.path(), "");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("status: not found, defaults in force\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("language: 0 (stored: -1)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("font_name:  (in force: Courier New)\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("temp_path: " + folder.path() + "\n"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(folder / "fennik.ini"));

  WriteFile(folder / "fennik.ini", "<settings/>");
  r = RunSettings(folder.path(), "");
  EXPECT_NE(r.out.find("status: not a settings file, defaults in force\n"), std::string::npos);
  EXPECT_EQ(ReadFile(folder / "fennik.ini"), "<settings/>");

  EXPECT_EQ(RunSettings(folder.path(), "--lang fr").status, 2);
  EXPECT_EQ(RunSettings(folder.path(), "extra").status, 2);
}

}  // namespace
}  // namespace fennik
