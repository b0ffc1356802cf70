// The command table of the menus and the toolbar: command ids, menu texts and tooltips in
// both languages, the menu each command sits in, the toolbar's button order with its
// hidden buttons, and which commands an open file and a page's flags enable.
#pragma once

#include <cstdint>
#include <span>

namespace fennik {

enum CommandId : int {
  kCmdOpen = 6001, kCmdLimitLoading = 6002, kCmdClose = 6003, kCmdExtract = 6004, kCmdCsv = 6005,
  kCmdExit = 5019, kCmdSelectView = 6011, kCmdViewIndex = 6012, kCmdPrevious = 6013, kCmdNext = 6014,
  kCmdJump = 6015, kCmdListTop = 6016, kCmdListEnd = 6017, kCmdFileTop = 6018, kCmdFileEnd = 6019,
  kCmdMarker = 6031, kCmdMarkerList = 6032, kCmdErrorList = 6033, kCmdSearch = 6034,
  kCmdSearchPrevious = 6035, kCmdSearchNext = 6036, kCmdStreamAnalysis = 6037, kCmdPlay = 6041, kCmdStop = 6042, kCmdPause = 6043,
  kCmdSlowPrevious = 6044, kCmdSkipPrevious = 6045, kCmdSlowForward = 6046, kCmdSkipNext = 6047,
  kCmdColors = 6051, kCmdFont = 6052, kCmdSdpSetting = 6055, kCmdOtherSettings = 6056,
  kCmdHelp = 5015, kCmdLanguage = 5017, kCmdAbout = 5014,
};

enum MenuId : int { kMenuNone = -1, kMenuFile = 0, kMenuView, kMenuSearch, kMenuOperation, kMenuSetting, kMenuHelp };

struct CommandText {
  int id;
  int menu;  // MenuId
  const char* menuEn;
  const char* menuJa;
  const char* tipEn;  // nullptr: no toolbar button
  const char* tipJa;
};

// In menu order.
std::span<const CommandText> Commands();
const CommandText* FindCommand(int id);
// The pop-up titles in both languages.
const char* MenuTitle(int menu, int language);

struct ToolbarButton {
  int id;       // 0: separator
  bool hidden;
};
std::span<const ToolbarButton> ToolbarButtons();

// Commands an open file enables (disabled again on close).
std::span<const int> FileCommands();
// Commands whose enabling follows the selected page's PageFlags, with their bit.
struct FlagCommand {
  int bit;
  int id;
};
std::span<const FlagCommand> FlagCommands();

}  // namespace fennik
