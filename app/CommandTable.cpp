#include "app/CommandTable.h"

#include <array>

namespace fennik {
namespace {

constexpr CommandText kCommands[] = {
    {kCmdOpen, kMenuFile, "Open", "ファイルを開く", "Open", "ファイルを開く"},
    {kCmdClose, kMenuFile, "Close", "ファイルを閉じる", nullptr, nullptr},
    {kCmdExtract, kMenuFile, "Extraction of Stream", "ストリームを抽出", "Expiration Stream", "ストリームの抽出"},
    {kCmdCsv, kMenuFile, "Output CSV file", "CSVファイルにリストを出力", nullptr, nullptr},
    {kCmdExit, kMenuFile, "Exit", "アプリケーションの終了", nullptr, nullptr},
    {kCmdSelectView, kMenuView, "Select View", "表示画面の切り替え", "Select View", "表示画面の選択"},
    {kCmdViewIndex, kMenuView, "Set View Index", "リストの表示開始番号を指定", "Set View Index", "表示開始番号の指定"},
    {kCmdPrevious, kMenuView, "Jump Previous Address", "前のアドレスを表示", "Previous Address", "前のアドレス"},
    {kCmdNext, kMenuView, "Jump Next Address", "次のアドレスを表示", "Next Address", "次のアドレス"},
    {kCmdJump, kMenuView, "Jump", "指定アドレスへジャンプ", "Jump Address", "指定アドレスへジャンプ"},
    {kCmdListTop, kMenuView, "Jump to Top of List", "表示中のリストの先頭へ移動", "List Top", "リストの先頭へ"},
    {kCmdListEnd, kMenuView, "Jump to End of List", "表示中のリストの最後へ移動", "List Tail", "リストの最後へ"},
    {kCmdFileTop, kMenuView, "Jump to Top of File", "ファイルの先頭へ移動", "File Top", "ファイルの先頭へ"},
    {kCmdFileEnd, kMenuView, "Jump to End of File", "ファイルの最後へ移動", "File End", "ファイルの最後へ"},
    {kCmdMarker, kMenuSearch, "Set/Reset Marker", "マーカの設定/削除", "Set/Reset Marker", "マーカの設定/削除"},
    {kCmdMarkerList, kMenuSearch, "List of Marker", "マーカ一覧", "List of Marker", "マーカ一覧"},
    {kCmdErrorList, kMenuSearch, "List of Error", "エラー一覧", "List of Error", "エラー一覧"},
    {kCmdStreamAnalysis, kMenuSearch, "Stream analysis", "ストリーム解析", nullptr, nullptr},
    {kCmdPlay, kMenuOperation, "Play", "再生", "Play", "再生"},
    {kCmdStop, kMenuOperation, "Stop", "停止", "Stop", "停止"},
    {kCmdColors, kMenuSetting, "Color Setting", "表示色の設定", nullptr, nullptr},
    {kCmdFont, kMenuSetting, "Font Setting", "フォントの設定", nullptr, nullptr},
    {kCmdSdpSetting, kMenuSetting, "Setting SDP", "SDP設定", nullptr, nullptr},
    {kCmdLanguage, kMenuSetting, "Choosse Language", "言語設定", nullptr, nullptr},
    {kCmdHelp, kMenuHelp, "Help Topics", "ヘルプの表示", "Help", "ヘルプ"},
    {kCmdAbout, kMenuHelp, "About Fennik ...", "バージョン情報", nullptr, nullptr},
    // Toolbar-only buttons (kept hidden) and the dialog without a menu entry.
    {kCmdLimitLoading, kMenuNone, nullptr, nullptr, "Set Limit File Loading", "ファイルの読込みを制限"},
    {kCmdSearch, kMenuNone, nullptr, nullptr, "Search", "検索"},
    {kCmdSearchPrevious, kMenuNone, nullptr, nullptr, "Search Previous", "前へ検索"},
    {kCmdSearchNext, kMenuNone, nullptr, nullptr, "Search Next", "後ろへ検索"},
    {kCmdSkipPrevious, kMenuNone, nullptr, nullptr, "Search Skip Previous", "前スキップ"},
    {kCmdSkipNext, kMenuNone, nullptr, nullptr, "Search Skip Next", "後スキップ"},
    {kCmdPause, kMenuNone, nullptr, nullptr, "Pasue", "一時停止"},
    {kCmdSlowForward, kMenuNone, nullptr, nullptr, "Slow Foward", "コマ送り"},
    {kCmdSlowPrevious, kMenuNone, nullptr, nullptr, "Slow Previous", "1フレーム戻る"},
    {kCmdOtherSettings, kMenuNone, nullptr, nullptr, nullptr, nullptr},
};

// 35 buttons: separators count as buttons of the bar. Frame advance and Pause are shown:
// video pages enable them.
constexpr ToolbarButton kToolbar[] = {
    {kCmdOpen, false}, {kCmdLimitLoading, true}, {0, false}, {kCmdExtract, false}, {0, false},
    {kCmdSelectView, false}, {kCmdViewIndex, false}, {0, false},
    {kCmdPrevious, false}, {kCmdNext, false}, {kCmdJump, false}, {0, false},
    {kCmdListTop, false}, {kCmdListEnd, false}, {kCmdFileTop, false}, {kCmdFileEnd, false}, {0, false},
    {kCmdMarker, false}, {kCmdMarkerList, false}, {0, false}, {kCmdErrorList, false}, {0, false},
    {kCmdSearch, true}, {kCmdSearchPrevious, true}, {kCmdSearchNext, true}, {kCmdSkipPrevious, true},
    {kCmdSkipNext, true}, {kCmdPlay, false}, {kCmdSlowForward, false}, {kCmdSlowPrevious, true},
    {kCmdPause, false}, {kCmdStop, false}, {0, false}, {kCmdHelp, false}, {0, true},
};
static_assert(std::size(kToolbar) == 35);

constexpr int kFileCommands[] = {kCmdClose, kCmdExtract, kCmdCsv, kCmdSelectView, kCmdViewIndex, kCmdNext,
                                 kCmdJump, kCmdListTop, kCmdListEnd, kCmdFileTop, kCmdFileEnd,
                                 kCmdMarker, kCmdMarkerList, kCmdErrorList, kCmdStreamAnalysis};

constexpr FlagCommand kFlagCommands[] = {
    {0, kCmdPrevious}, {31, kCmdSkipPrevious}, {30, kCmdSkipNext}, {29, kCmdPlay},
    {28, kCmdSlowForward}, {27, kCmdSlowPrevious}, {26, kCmdPause}, {25, kCmdStop},
    {19, kCmdSearch}, {18, kCmdSearchPrevious}, {17, kCmdSearchNext},
};

}  // namespace

std::span<const CommandText> Commands() { return kCommands; }

const CommandText* FindCommand(int id) {
  for (const CommandText& c : kCommands) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

const char* MenuTitle(int menu, int language) {
  static constexpr std::array<std::array<const char*, 2>, 6> kTitles = {{
      {"&File", "ファイル(&F)"}, {"&View", "表示(&V)"}, {"&Search", "検索(&S)"},
      {"&Operation", "操作(&O)"}, {"S&etting", "設定(&E)"}, {"&Help", "ヘルプ(&H)"},
  }};
  if (menu < 0 || menu >= static_cast<int>(kTitles.size())) return "";
  return kTitles[static_cast<size_t>(menu)][language == 1 ? 1 : 0];
}

std::span<const ToolbarButton> ToolbarButtons() { return kToolbar; }
std::span<const int> FileCommands() { return kFileCommands; }
std::span<const FlagCommand> FlagCommands() { return kFlagCommands; }

}  // namespace fennik
