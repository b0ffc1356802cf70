// The settings file on disk: round trips of files the program wrote, hand-written files
// in UTF-8 and Shift_JIS, where the file is looked for, and saving without ever leaving a
// damaged file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>

#include "config/AppParameter.h"
#include "config/SettingsLocation.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using test::ReadFileText;
using test::TempDir;
using test::TestData;
using test::WriteFile;

constexpr char kApp[] = "/opt/fennik/bin";
constexpr char kStart[] = "/home/user/work";

// defaults.ini and written.ini are hand-written in the file's layout (written.ini with
// non-default values everywhere: Japanese text, entities, an SDP list, packet options, a
// negative colour word). Loading and saving them again must give the same bytes.
TEST(SettingsFile, RoundTripsAreByteIdentical) {
  for (const char* name : {"defaults.ini", "written.ini"}) {
    TempDir folder;
    std::string original = ReadFileText(TestData(std::string("config/") + name));
    ASSERT_FALSE(original.empty()) << name;
    CAppParameter p(kApp, kStart);
    p.SetSettingsFilePath(TestData(std::string("config/") + name));
    ASSERT_EQ(p.Load(), CCommConfig::LoadResult::kLoaded) << name;
    p.SetSettingsFilePath(folder / "fennik.ini");
    ASSERT_TRUE(p.Save()) << name;
    EXPECT_EQ(ReadFileText(folder / "fennik.ini"), original) << name;
  }
}

// What both hand-written fixtures hold (the Shift_JIS one has a longer second title and
// a session name whose Shift_JIS trail bytes are backslashes followed by "n" and "r").
void ExpectHandWritten(const CAppParameter& p, bool shiftJis) {
  EXPECT_EQ(p.storedLanguage, 1);
  EXPECT_EQ(p.fontName, "IPAゴシック");
  EXPECT_EQ(p.fontSize, 16);
  EXPECT_EQ(p.tempPath, "/var/tmp/fennik");
  EXPECT_EQ(p.logEnabled, 1);
  EXPECT_EQ(p.logPath, kStart);
  EXPECT_EQ(p.viewToolbar, 0);
  EXPECT_EQ(p.viewStatusbar, 1);
  EXPECT_EQ(p.colors[21], (ColorPair{255, 65280}));
  EXPECT_EQ(p.colors[12], (ColorPair{0x0000FF, 12632256}));
  EXPECT_EQ(p.colors[0], DefaultColors()[0]);
  EXPECT_FALSE(p.aribCode);
  EXPECT_EQ(p.fileReadLimit, 10485760u);
  EXPECT_TRUE(p.showCodec);
  ASSERT_EQ(p.sdpList.size(), 2u);
  EXPECT_EQ(p.sdpList[0].title, "社内 PBX & 会議室");
  std::string session = shiftJis ? "s=会議表nソr\r\n" : "s=-\r\n";
  EXPECT_EQ(p.sdpList[0].body, "v=0\r\no=- 0 0 IN IP4 192.0.2.1\r\n" + session +
                                   "t=0 0\r\nm=audio 0 RTP/AVP 96\r\na=rtpmap:96 AMR/8000\r\n");
  EXPECT_EQ(p.sdpList[1].title, shiftJis ? "H.264 カメラ 表示ソ" : "H.264 カメラ");
  EXPECT_EQ(p.sdpList[1].body, "a=rtpmap:97 H264/90000\na=fmtp:97 packetization-mode=1");
}

TEST(SettingsFile, HandWrittenUtf8LoadsWithAndWithoutByteOrderMark) {
  for (const std::string mark : {"", "\xEF\xBB\xBF"}) {
    TempDir folder;
    WriteFile(folder / "fennik.ini", mark + ReadFileText(TestData("config/handwritten-utf8.ini")));
    CAppParameter p(kApp, kStart);
    p.SetSettingsFilePath(folder / "fennik.ini");
    ASSERT_EQ(p.Load(), CCommConfig::LoadResult::kLoaded) << mark.size();
    ExpectHandWritten(p, false);
  }
}

TEST(SettingsFile, HandWrittenShiftJisLoads) {
  std::string bytes = ReadFileText(TestData("config/handwritten-sjis.ini"));
  // The fixture really is Shift_JIS: "ソ" is 83 5C there.
  ASSERT_NE(bytes.find("\x83\x5C"), std::string::npos);
  CAppParameter p(kApp, kStart);
  p.SetSettingsFilePath(TestData("config/handwritten-sjis.ini"));
  ASSERT_EQ(p.Load(), CCommConfig::LoadResult::kLoaded);
  ExpectHandWritten(p, true);

  // Saving writes UTF-8 without an encoding attribute, and that reads back the same.
  TempDir folder;
  p.SetSettingsFilePath(folder / "fennik.ini");
  ASSERT_TRUE(p.Save());
  std::string written = ReadFileText(folder / "fennik.ini");
  EXPECT_TRUE(written.starts_with("<?xml version=\"1.0\" ?>\r\n"));
  EXPECT_NE(written.find("<title>H.264 カメラ 表示ソ</title>"), std::string::npos);
  CAppParameter back(kApp, kStart);
  back.SetSettingsFilePath(folder / "fennik.ini");
  ASSERT_EQ(back.Load(), CCommConfig::LoadResult::kLoaded);
  ExpectHandWritten(back, true);
}

bool Writable(const std::string&) { return true; }
bool NotWritable(const std::string&) { return false; }

TEST(SettingsFile, LocatingTheFile) {
  TempDir root;
  std::string start = root / "start";
  std::string app = root / "app";
  std::string user = root / "user/fennik";
  std::filesystem::create_directories(start);
  std::filesystem::create_directories(app);

  // Nothing anywhere: next to the executable, or the user's folder when that is not writable.
  EXPECT_EQ(LocateSettingsFile(start, app, user, Writable), app + "/fennik.ini");
  EXPECT_EQ(LocateSettingsFile(start, app, user, NotWritable), user + "/fennik.ini");
  EXPECT_EQ(LocateSettingsFile(start, app, "", NotWritable), app + "/fennik.ini");

  // A file next to the executable is used even when the folder is not writable.
  WriteFile(app + "/fennik.ini", "x");
  EXPECT_EQ(LocateSettingsFile(start, app, user, NotWritable), app + "/fennik.ini");

  // A folder named fennik.ini in the start folder is not a settings file.
  std::filesystem::create_directory(start + "/fennik.ini");
  EXPECT_EQ(LocateSettingsFile(start, app, user, Writable), app + "/fennik.ini");
  std::filesystem::remove(start + "/fennik.ini");

  // A file in the start folder wins.
  WriteFile(start + "/fennik.ini", "x");
  EXPECT_EQ(LocateSettingsFile(start, app, user, NotWritable), start + "/fennik.ini");
}

TEST(SettingsFile, StartFolderFileIsReadAndWrittenOverTheProgramFolderOne) {
  TempDir root;
  std::string start = root / "start";
  std::string app = root / "app";
  std::string appFile =
      "<?xml version=\"1.0\" ?>\r\n<config><language>0</language>\r\n</config>\r\n";
  WriteFile(app + "/fennik.ini", appFile);
  WriteFile(start + "/fennik.ini",
            "<?xml version=\"1.0\" ?>\r\n<config><language>1</language>\r\n</config>\r\n");
  CAppParameter p(app, start);
  p.Create();
  EXPECT_EQ(p.SettingsFilePath(), start + "/fennik.ini");
  EXPECT_EQ(p.storedLanguage, 1);
  p.fontSize = 20;
  ASSERT_TRUE(p.Save());
  EXPECT_EQ(ReadFileText(app + "/fennik.ini"), appFile);
  EXPECT_NE(ReadFileText(start + "/fennik.ini").find("<font_size>20</font_size>"), std::string::npos);
}

TEST(SettingsFile, SaveCreatesTheUserConfigFolder) {
  TempDir root;
  std::string file = root / "config/fennik/fennik.ini";
  CAppParameter p(kApp, kStart);
  p.SetSettingsFilePath(file);
  ASSERT_TRUE(p.Save());
  EXPECT_EQ(ReadFileText(file), ReadFileText(TestData("config/defaults.ini")));
  // Only the settings file is left in the folder (no temporary file).
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root / "config/fennik"),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(SettingsFile, FailedSaveKeepsThePreviousFile) {
  TempDir folder;
  std::string file = folder / "fennik.ini";
  std::string previous = ReadFileText(TestData("config/written.ini"));
  WriteFile(file, previous);
  std::filesystem::permissions(file, std::filesystem::perms(0640));

  CAppParameter p(kApp, kStart);
  p.SetSettingsFilePath(file);
  p.sdpList = {{"large", std::string(256 * 1024, 'x')}};

  // Let writes beyond 16 KiB fail (as on a full disk) while this Save runs.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = 16 * 1024;
  sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool saved_ok = p.Save();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved_ok);
  EXPECT_EQ(ReadFileText(file), previous);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                          std::filesystem::directory_iterator()),
            1);

  // A successful save keeps the file's permission bits.
  p.sdpList.clear();
  ASSERT_TRUE(p.Save());
  EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0640));

  // A settings file that is a symbolic link stays one; the file it names is replaced.
  std::string target = folder / "dotfiles/fennik.ini";
  WriteFile(target, "old");
  std::string link = folder / "linked.ini";
  std::filesystem::create_symlink(target, link);
  p.SetSettingsFilePath(link);
  ASSERT_TRUE(p.Save());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileText(target), ReadFileText(file));

  // A folder that cannot be created (a file lies in the way) fails cleanly.
  p.SetSettingsFilePath(file + "/sub/fennik.ini");
  EXPECT_FALSE(p.Save());
}

}  // namespace
}  // namespace fennik
