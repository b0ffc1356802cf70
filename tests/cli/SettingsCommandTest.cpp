// fennik-cli settings, run as a user would: from a folder with or without a settings file.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using test::ReadFileText;
using test::TempDir;
using test::TestData;
using test::WriteFile;

test::CommandRun RunSettings(const std::string& folder, const std::string& options) {
  test::CommandRun run = test::RunCommand("cd '" + folder + "' && LC_ALL=C XDG_CONFIG_HOME='" + folder +
                                          "/xdg' '" FENNIK_CLI_PATH "' settings " + options);
  run.out += run.err;
  return run;
}

TEST(SettingsCommand, PrintsTheFileAndTheSettingsReadFromIt) {
  TempDir folder;
  std::string file = folder / "fennik.ini";
  WriteFile(file, ReadFileText(TestData("config/handwritten-sjis.ini")));
  test::CommandRun r = RunSettings(folder.Path(), "");
  ASSERT_EQ(r.status, 0) << r.out;
  test::ExpectContains(r.out, {"file: " + file + "\nstatus: read\n", "language: 1 (stored: 1)\n",
      "font_name: IPAゴシック (in force: IPAゴシック)\n", "file_read_limit_length: 10485760\n"});
  // Colour 21 was set by the file; names follow the language in force (Japanese here).
  test::ExpectContains(r.out, {"  21 text 0x0000FF background 0x00FF00  カーソル行の色\n",
      "sdp_list: 2\n  [1] 社内 PBX & 会議室\n      v=0\n"});

  r = RunSettings(folder.Path(), "--lang en");
  ASSERT_EQ(r.status, 0);
  test::ExpectContains(r.out, {"language: 0 (stored: 1)\n", "  21 text 0x0000FF background 0x00FF00  Cursor Color\n",
      "font_name: IPAゴシック (in force: IPAゴシック)\n"});
}

TEST(SettingsCommand, DefaultsWithoutAFileAndNothingWritten) {
  TempDir folder;
  test::CommandRun r = RunSettings(folder.Path(), "");
  ASSERT_EQ(r.status, 0) << r.out;
  test::ExpectContains(r.out, {"status: not found, defaults in force\n", "language: 0 (stored: -1)\n",
      "font_name:  (in force: Courier New)\n", "temp_path: " + folder.Path() + "\n"});
  EXPECT_FALSE(std::filesystem::exists(folder / "fennik.ini"));

  WriteFile(folder / "fennik.ini", "<settings/>");
  r = RunSettings(folder.Path(), "");
  EXPECT_NE(r.out.find("status: not a settings file, defaults in force\n"), std::string::npos);
  EXPECT_EQ(ReadFileText(folder / "fennik.ini"), "<settings/>");

  EXPECT_EQ(RunSettings(folder.Path(), "--lang fr").status, 2);
  EXPECT_EQ(RunSettings(folder.Path(), "extra").status, 2);
}

}  // namespace
}  // namespace fennik
