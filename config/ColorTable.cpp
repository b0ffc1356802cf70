#include "config/ColorTable.h"

namespace fennik {
namespace {

constexpr ColorPair kPlain = {0x000000, 0xFFFFFF};  // the unnamed slots

constexpr ColorArray kDefaultColors = {{
    {0xFFFFFF, 0xFF8000},  //  0 title 1
    {0x000000, 0xE0FFFF},  //  1 title 2
    {0x000000, 0xFFDCFF},  //  2 title 3
    {0x000000, 0x00FFFF},  //  3 title 4
    {0x000000, 0xFFFFFF},  //  4 item 1
    {0x000000, 0xFFF0FF},  //  5 item 2
    {0x000000, 0xE0FFFF},  //  6 item 3
    {0x000000, 0xE0FFFF},  //  7 item 4
    {0x808080, 0xFFFFFF},  //  8 grey-out 1
    {0x808080, 0xFFF0FF},  //  9 grey-out 2
    {0x808080, 0xFFFFFF},  // 10 grey-out 3
    {0x808080, 0xFFFFFF},  // 11 grey-out 4
    {0x0000FF, 0xFFFFFF},  // 12 error
    kPlain, kPlain, kPlain, kPlain, kPlain, kPlain, kPlain,  // 13-19
    {0xFFFFFF, 0xFF8000},  // 20 list title
    {0x000000, 0xFFFF00},  // 21 cursor
    {0x000000, 0x00FF00},  // 22 marker
    {0xFFFFFF, 0x0000FF},  // 23 error row
    {0x000000, 0xE6E6E6},  // 24 grey-out
    {0x000000, 0xFFFFFF},  // 25 list text 1
    {0x000000, 0x00E6FF},  // 26 list text 2
    {0x000000, 0xFFFFFF},  // 27 list text 3
    {0x000000, 0xFFFFFF},  // 28 list text 4
    {0x000000, 0xFFC8C8},  // 29
    kPlain, kPlain, kPlain,  // 30-32
    {0x000000, 0xDCFFFF},  // 33 video stream 1
    {0x000000, 0xBEFFFF},  // 34 video stream 2
    {0x000000, 0xA0FFFF},  // 35 video stream 3
    {0x000000, 0x82FFFF},  // 36 video stream 4
    {0x000000, 0xFFDCFF}, {0x000000, 0xFFDCFF}, {0x000000, 0xFFDCFF},  // 37-39 audio 1-3
    {0x000000, 0xFFDCFF}, {0x000000, 0xFFDCFF}, {0x000000, 0xFFDCFF},  // 40-42 audio 4-6
    {0x000000, 0xFFDCFF}, {0x000000, 0xFFDCFF},                        // 43-44 audio 7-8
    kPlain, kPlain, kPlain, kPlain, kPlain,  // 45-49
    {0xFFFFFF, 0x808080},  // 50 address
    {0x000000, 0xFFFFFF},  // 51 binary data
}};

constexpr ColorName kColorNames[kColorNameCount] = {
    {"Title Color 1", "タイトル行の表示1", 0},
    {"Title Color 2", "タイトル行の表示2", 1},
    {"Title Color 3", "タイトル行の表示3", 2},
    {"Title Color 4", "タイトル行の表示4", 3},
    {"Item Color 1", "アイテム行の表示1", 4},
    {"Item Color 2", "アイテム行の表示2", 5},
    {"Item Color 3", "アイテム行の表示3", 6},
    {"Item Color 4", "アイテム行の表示4", 7},
    {"GrayOut Color 1", "アイテム行のグレイアウト1", 8},
    {"GrayOut Color 2", "アイテム行のグレイアウト2", 9},
    {"GrayOut Color 3", "アイテム行のグレイアウト3", 10},
    {"GrayOut Color 4", "アイテム行のグレイアウト4", 11},
    {"Error Color", "エラー表示", 12},
    {"---- List View ----", "---- リスト表示ウインドウ ----", -1},
    {"Title Color", "タイトル行の色", 20},
    {"Cursor Color", "カーソル行の色", 21},
    {"Marker Color", "マーク行の色", 22},
    {"Error Color", "エラー行の色", 23},
    {"GrayOut Color", "グレイアウト", 24},
    {"List Text Color 1", "通常のリスト表示1", 25},
    {"List Text Color 2", "通常のリスト表示2", 26},
    {"List Text Color 3", "通常のリスト表示3", 27},
    {"List Text Color 4", "通常のリスト表示4", 28},
    {"Video Stream Color 1", "映像ストリームの色1", 33},
    {"Video Stream Color 2", "映像ストリームの色2", 34},
    {"Video Stream Color 3", "映像ストリームの色3", 35},
    {"Video Stream Color 4", "映像ストリームの色4", 36},
    {"Audio Stream Color 1", "音声ストリームの色1", 37},
    {"Audio Stream Color 2", "音声ストリームの色2", 38},
    {"Audio Stream Color 3", "音声ストリームの色3", 39},
    {"Audio Stream Color 4", "音声ストリームの色4", 40},
    {"Audio Stream Color 5", "音声ストリームの色5", 41},
    {"Audio Stream Color 6", "音声ストリームの色6", 42},
    {"Audio Stream Color 7", "音声ストリームの色7", 43},
    {"Audio Stream Color 8", "音声ストリームの色8", 44},
    {"---- Binary View ----", "---- バイナリ表示ウインドウ ----", -1},
    {"Address Color", "アドレス表示", 50},
    {"Binary Data Color", "バイナリデータ表示", 51},
};

}  // namespace

const ColorArray& DefaultColors() { return kDefaultColors; }

std::span<const ColorName, kColorNameCount> ColorNames() { return std::span(kColorNames); }

}  // namespace fennik
