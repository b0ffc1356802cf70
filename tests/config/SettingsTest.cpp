// The settings object: defaults, the key rules of Load, the written layout, and round
// trips through the file.
#include <gtest/gtest.h>

#include "config/AppParameter.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using test::ReadFileText;
using test::TempDir;
using test::TestData;
using test::WriteFile;

constexpr char kApp[] = "/opt/fennik/bin";
constexpr char kStart[] = "/home/user/work";

std::string Document(const std::string& children) {
  return "<?xml version=\"1.0\" ?>\r\n<config>" + children + "</config>\r\n";
}

// Puts a non-default value into every stored setting, so that a key rule that leaves a
// value alone instead of applying the default is caught.
void Poison(CAppParameter& p) {
  p.storedLanguage = 7;
  p.fontName = "poison";
  p.fontSize = 99;
  p.tempPath = "poison";
  p.logEnabled = 9;
  p.logPath = "poison";
  p.viewToolbar = 9;
  p.viewStatusbar = 9;
  for (ColorPair& c : p.colors) c = {0x123456, 0x654321};
  p.aribCode = false;
  p.fileReadLimitEnabled = false;
  p.fileReadLimit = 5;
  p.configValue1 = 9;
  p.configValue2 = 9;
  p.videoPreview = true;
  p.showCodec = true;
}

class Settings : public ::testing::Test {
 protected:
  Settings() { params_.SetSettingsFilePath(file_); }

  // Loads `text` as the settings file into a poisoned settings object.
  CCommConfig::LoadResult LoadText(const std::string& text, bool poison = true) {
    WriteFile(file_, text);
    params_.SetSettingsFilePath(file_);
    if (poison) Poison(params_);
    return params_.Load();
  }

  TempDir folder_;
  std::string file_ = folder_ / "fennik.ini";
  CAppParameter params_{kApp, kStart};
};

TEST_F(Settings, DefaultsAfterCreateWithoutFile) {
  CAppParameter p(folder_.Path(), folder_.Path());
  p.Create();
  EXPECT_EQ(p.LastLoadResult(), CCommConfig::LoadResult::kMissing);
  EXPECT_EQ(p.SettingsFilePath(), folder_ / "fennik.ini");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "fennik.ini"));  // nothing written
  EXPECT_EQ(p.mainWindowClass, "FENNIK MAIN WINDOW");
  EXPECT_EQ(p.childWindowClass, "FENNIK CHILD WINDOW");
  EXPECT_EQ(p.controlItemWindowClass, "FENNIK CONTROL ITEM WINDOW");
  EXPECT_EQ(p.storedLanguage, -1);
  EXPECT_EQ(p.tempPath, folder_.Path());
  EXPECT_EQ(p.logPath, folder_.Path());
  EXPECT_EQ(p.fileReadLimit, 20971520u);
  EXPECT_TRUE(p.aribCode);
  EXPECT_TRUE(p.sdpList.empty());
  EXPECT_EQ(p.colors, p.defaultColors);
  EXPECT_EQ(p.GetVersion(), "1.1.0.0");
  EXPECT_EQ(p.GetMenuResource(kLanguageJapanese), 10013);
  EXPECT_EQ(p.GetMenuResource(kLanguageEnglish), 10014);
  EXPECT_EQ(p.MapResourceId(10011), 10011);
  EXPECT_EQ(p.MapResourceId(10016), 10016);
  EXPECT_EQ(p.MapResourceId(10017), 0);
  EXPECT_TRUE(p.IsValidLanguage(1));
  EXPECT_FALSE(p.IsValidLanguage(-1));
  EXPECT_FALSE(p.IsValidLanguage(2));
}

TEST_F(Settings, FontInForceFollowsLanguage) {
  params_.language = kLanguageJapanese;
  EXPECT_EQ(params_.FontNameInForce(), "ＭＳ ゴシック");
  EXPECT_EQ(params_.FontSizeInForce(), 12);
  params_.language = kLanguageEnglish;
  EXPECT_EQ(params_.FontNameInForce(), "Courier New");
  EXPECT_EQ(params_.FontSizeInForce(), 14);
  params_.fontName = "Noto Sans Mono";
  params_.fontSize = 11;
  EXPECT_EQ(params_.FontNameInForce(), "Noto Sans Mono");
  EXPECT_EQ(params_.FontSizeInForce(), 11);
}

// The colour values themselves are in defaults.ini (DefaultsAreWrittenInTheDocumentedLayout).
TEST_F(Settings, ColourNameList) {
  auto names = ColorNames();
  ASSERT_EQ(names.size(), 38u);
  // Indices in list order: 0-12, separator, 20-28, 33-44, separator, 50, 51.
  std::vector<int32_t> expected;
  for (int i = 0; i <= 12; ++i) expected.push_back(i);
  expected.push_back(-1);
  for (int i = 20; i <= 28; ++i) expected.push_back(i);
  for (int i = 33; i <= 44; ++i) expected.push_back(i);
  expected.push_back(-1);
  expected.push_back(50);
  expected.push_back(51);
  std::vector<int32_t> actual;
  for (const ColorName& n : names) actual.push_back(n.index);
  EXPECT_EQ(actual, expected);
  EXPECT_STREQ(names[13].english, "---- List View ----");
  EXPECT_STREQ(names[13].japanese, "---- リスト表示ウインドウ ----");
  EXPECT_STREQ(names[34].english, "Audio Stream Color 8");
  EXPECT_STREQ(names[34].japanese, "音声ストリームの色8");
  EXPECT_STREQ(names[35].japanese, "---- バイナリ表示ウインドウ ----");
  EXPECT_STREQ(names[37].japanese, "バイナリデータ表示");
}

TEST_F(Settings, DefaultsAreWrittenInTheDocumentedLayout) {
  // Hand-written golden file of every default (start folder /home/user/work), not
  // produced by the program (see tests/data/config/README.md); compared byte for byte.
  ASSERT_TRUE(params_.SerializeSettings());
  EXPECT_EQ(*params_.SerializeSettings(), ReadFileText(TestData("config/defaults.ini")));
}

TEST_F(Settings, LanguageKey) {
  LoadText(Document("<language> \t1</language>"));
  EXPECT_EQ(params_.storedLanguage, 1);
  LoadText(Document("<language>1a</language>"));
  EXPECT_EQ(params_.storedLanguage, -1);
  LoadText(Document("<language>-</language>"));
  EXPECT_EQ(params_.storedLanguage, 0);
  LoadText(Document("<font_size>3</font_size>"));
  EXPECT_EQ(params_.storedLanguage, -1);
  // The first element of a name counts.
  LoadText(Document("<language>0</language><language>1</language>"));
  EXPECT_EQ(params_.storedLanguage, 0);
}

TEST_F(Settings, StringAndIntegerKeyDefaults) {
  ASSERT_EQ(LoadText(Document("<language>0</language>")), CCommConfig::LoadResult::kLoaded);
  EXPECT_EQ(params_.fontName, "");
  EXPECT_EQ(params_.fontSize, 0);
  EXPECT_EQ(params_.tempPath, kStart);  // missing: the start folder
  EXPECT_EQ(params_.logPath, kStart);
  EXPECT_EQ(params_.logEnabled, 0);
  EXPECT_EQ(params_.viewToolbar, 1);
  EXPECT_EQ(params_.viewStatusbar, 1);
  EXPECT_EQ(params_.configValue1, 0);
  EXPECT_EQ(params_.configValue2, 0);
  EXPECT_FALSE(params_.videoPreview);
  EXPECT_FALSE(params_.showCodec);

  // Present but empty paths stay empty; non-numeric integers take the default.
  LoadText(Document("<temp_path/><log_path></log_path><font_size>x</font_size>"
                    "<view_toolbar>0</view_toolbar><view_statusbar>no</view_statusbar>"
                    "<log_enabled>2</log_enabled><config_val_1>-5</config_val_1>"));
  EXPECT_EQ(params_.tempPath, "");
  EXPECT_EQ(params_.logPath, "");
  EXPECT_EQ(params_.fontSize, 0);
  EXPECT_EQ(params_.viewToolbar, 0);
  EXPECT_EQ(params_.viewStatusbar, 1);
  EXPECT_EQ(params_.logEnabled, 2);
  EXPECT_EQ(params_.configValue1, -5);
}

TEST_F(Settings, BooleanKeys) {
  LoadText(Document("<language>0</language>"));
  EXPECT_TRUE(params_.aribCode);               // default 1
  EXPECT_TRUE(params_.fileReadLimitEnabled);

  LoadText(Document("<arib_code>0</arib_code><file_read_limit>7</file_read_limit>"
                    "<video_preview>1</video_preview><show_codec>2</show_codec>"));
  EXPECT_FALSE(params_.aribCode);
  EXPECT_TRUE(params_.fileReadLimitEnabled);   // any non-zero value
  EXPECT_TRUE(params_.videoPreview);
  EXPECT_FALSE(params_.showCodec);             // only 1 counts

  LoadText(Document("<arib_code>off</arib_code><file_read_limit>-1</file_read_limit>"));
  EXPECT_TRUE(params_.aribCode);               // non-numeric: default 1
  EXPECT_TRUE(params_.fileReadLimitEnabled);

  // Playback on the RTP timeline: on by default and then not written (files written before
  // stay as they were); off is stored.
  EXPECT_TRUE(params_.playTimeline);
  EXPECT_EQ(params_.SerializeSettings()->find("play_timeline"), std::string::npos);
  LoadText(Document("<play_timeline>0</play_timeline>"));
  EXPECT_FALSE(params_.playTimeline);
  EXPECT_NE(params_.SerializeSettings()->find("<play_timeline>0</play_timeline>"), std::string::npos);
}

TEST_F(Settings, FileLoadingLimitCeiling) {
  LoadText(Document("<language>0</language>"));
  EXPECT_EQ(params_.fileReadLimit, 20971520u);
  LoadText(Document("<file_read_limit_length>1048576</file_read_limit_length>"));
  EXPECT_EQ(params_.fileReadLimit, 1048576u);
  LoadText(Document("<file_read_limit_length>20971521</file_read_limit_length>"));
  EXPECT_EQ(params_.fileReadLimit, 20971520u);
  LoadText(Document("<file_read_limit_length>-1</file_read_limit_length>"));  // read unsigned
  EXPECT_EQ(params_.fileReadLimit, 20971520u);
  LoadText(Document("<file_read_limit_length>10MB</file_read_limit_length>"));
  EXPECT_EQ(params_.fileReadLimit, 20971520u);
}

TEST_F(Settings, ColourElements) {
  LoadText(Document(
      "<colors>"
      "<color><index>3</index><text>1</text><background>2</background></color>"
      "<color><index>60</index><text>5</text><background>5</background></color>"
      "<color><index>-1</index><text>5</text><background>5</background></color>"
      "<color><text>5</text><background>5</background></color>"   // no index: skipped
      "<color><index>7</index><background>4</background></color>"  // no text
      "<color><index>8</index><text>z</text><background>-1</background></color>"
      "<colour><index>9</index><text>5</text></colour>"            // not a color element
      "</colors>"));
  EXPECT_EQ(params_.colors[3], (ColorPair{1, 2}));
  EXPECT_EQ(params_.colors[7], (ColorPair{DefaultColors()[7].text, 4}));
  EXPECT_EQ(params_.colors[8], (ColorPair{DefaultColors()[8].text, 0xFFFFFFFF}));
  // Entries no element named keep what they held before (the colour table starts as the
  // default table; here the poison).
  EXPECT_EQ(params_.colors[9], (ColorPair{0x123456, 0x654321}));
  EXPECT_EQ(params_.colors[51], (ColorPair{0x123456, 0x654321}));
  EXPECT_EQ(params_.colors[0], (ColorPair{0x123456, 0x654321}));
}

TEST_F(Settings, SdpListKeys) {
  params_.sdpList = {{"old", "old body"}};
  LoadText(Document("<sdp_list>"
                    "<sdp><title>A</title><body>v=0\\r\\na=x\\nb\\\\t</body></sdp>"
                    "<sdp><title/><body>skipped</body></sdp>"
                    "<sdp><title>skipped</title><body></body></sdp>"
                    "<sdp><body>no title</body></sdp>"
                    "<sdp><title>no body</title></sdp>"
                    "</sdp_list>"));
  ASSERT_EQ(params_.sdpList.size(), 3u);  // the first entry read replaced the old list
  EXPECT_EQ(params_.sdpList[0], (SdpListEntry{"A", "v=0\r\na=x\nb\\\\t"}));
  EXPECT_EQ(params_.sdpList[1], (SdpListEntry{"", "no title"}));
  EXPECT_EQ(params_.sdpList[2], (SdpListEntry{"no body", ""}));

  // A list of skipped entries leaves the list in memory alone.
  params_.sdpList = {{"kept", "body"}};
  LoadText(Document("<sdp_list><sdp><title/><body/></sdp></sdp_list>"));
  ASSERT_EQ(params_.sdpList.size(), 1u);
  EXPECT_EQ(params_.sdpList[0].title, "kept");
}

TEST_F(Settings, SdpBodyIsStoredEscapedAndReadBack) {
  params_.sdpList = {{"T <1> & 'q'", "v=0\r\ns=x  y\r\nm=audio 0 RTP/AVP 96\n"}};
  ASSERT_TRUE(params_.Save());
  std::string written = ReadFileText(file_);
  EXPECT_NE(written.find("<sdp_list><sdp><title>T &lt;1&gt; &amp; &apos;q&apos;</title>\r\n"
                         "<body>v=0\\r\\ns=x  y\\r\\nm=audio 0 RTP/AVP 96\\n</body>\r\n"
                         "</sdp>\r\n</sdp_list>\r\n<config_val_1>"),
            std::string::npos)
      << written;
  CAppParameter back(kApp, kStart);
  back.SetSettingsFilePath(file_);
  ASSERT_EQ(back.Load(), CCommConfig::LoadResult::kLoaded);
  ASSERT_EQ(back.sdpList.size(), 1u);
  EXPECT_EQ(back.sdpList[0].title, "T <1> & 'q'");
  // Runs of blanks collapse in XML text; line breaks survive through the escapes.
  EXPECT_EQ(back.sdpList[0].body, "v=0\r\ns=x y\r\nm=audio 0 RTP/AVP 96\n");
}

TEST_F(Settings, PacketOptionList) {
  params_.packetOptions = {{1, 200}, {0, 0}, {0, 5}};
  ASSERT_TRUE(params_.Save());
  std::string written = ReadFileText(file_);
  EXPECT_NE(written.find("<ts_packets><packet_error><type>1</type>\r\n<time>200</time>\r\n"
                         "</packet_error>\r\n<packet_error><type>0</type>\r\n<time>5</time>\r\n"
                         "</packet_error>\r\n</ts_packets>\r\n<config_val_1>"),
            std::string::npos)
      << written;
  CAppParameter back(kApp, kStart);
  back.SetSettingsFilePath(file_);
  back.Load();
  EXPECT_EQ(back.packetOptions, (std::vector<PacketOption>{{1, 200}, {0, 5}}));

  LoadText(Document("<ts_packets><packet_error><type>3</type></packet_error>"
                    "<packet_error><time>7</time></packet_error></ts_packets>"));
  EXPECT_EQ(params_.packetOptions, (std::vector<PacketOption>{{3, 100}, {0, 7}}));
}

TEST_F(Settings, MalformedFilesLeaveEveryDefault) {
  struct Case {
    const char* what;
    std::string text;
    CCommConfig::LoadResult result;
  };
  const Case cases[] = {
      {"empty", "", CCommConfig::LoadResult::kMalformed},
      {"no declaration", "<config><language>1</language></config>",
       CCommConfig::LoadResult::kMalformed},
      {"other root", "<?xml version=\"1.0\"?><settings><language>1</language></settings>",
       CCommConfig::LoadResult::kMalformed},
      {"binary", std::string("\x00\xFF\xFE<?xml", 7), CCommConfig::LoadResult::kMalformed},
      {"wrong end tag of config",
       "<?xml version=\"1.0\"?><config><language>1</language></konfig>",
       CCommConfig::LoadResult::kMalformed},
  };
  for (const Case& c : cases) {
    CAppParameter p(kApp, kStart);
    WriteFile(file_, c.text);
    p.SetSettingsFilePath(file_);
    EXPECT_EQ(p.Load(), c.result) << c.what;
    EXPECT_EQ(p.storedLanguage, -1) << c.what;
    EXPECT_EQ(ReadFileText(file_), c.text) << c.what;  // never rewritten by loading
  }

  // A folder where the file should be cannot be read.
  std::filesystem::remove(file_);
  std::filesystem::create_directory(file_);
  CAppParameter p(kApp, kStart);
  p.SetSettingsFilePath(file_);
  EXPECT_EQ(p.Load(), CCommConfig::LoadResult::kUnreadable);
  EXPECT_EQ(p.storedLanguage, -1);
}

TEST_F(Settings, FirstConfigElementCountsAndABreakStopsReading) {
  LoadText("<?xml version=\"1.0\"?><other/><config><language>1</language></config>"
           "<config><language>0</language></config>");
  EXPECT_EQ(params_.storedLanguage, 1);

  // Keys before a wrong end tag are read; those after it keep their defaults.
  LoadText(Document("<language>1</language><font_size>9</font_size><a>x</b>"
                    "<view_toolbar>0</view_toolbar>"));
  EXPECT_EQ(params_.storedLanguage, 1);
  EXPECT_EQ(params_.fontSize, 9);
  EXPECT_EQ(params_.viewToolbar, 1);
}

}  // namespace
}  // namespace fennik
