// Fuzzes the views' content on an arbitrary file: the page list, every page's list rows and
// summary, the packet information of listed packets (each record read again and decoded),
// the hex dump lines, and the row line with the input as text.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "capture/CRTP_Parser.h"
#include "capture/RtpViews.h"
#include "view/CHexDump.h"
#include "view/CListModel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fennik;
  // The input as text: any bytes, at a column taken from the first byte.
  CRowLine line;
  line.Put(size > 0 ? data[0] * 3 - 200 : 0, std::string_view(reinterpret_cast<const char*>(data), size));
  (void)line.Text();
  CFieldTree text;
  text.Text(1, "text", std::span<const uint8_t>(data, std::min<size_t>(size, 600)));

  CRTP_Parser capture;
  if (capture.OpenBytes(data, size) != OpenResult::kOk) return 0;
  capture.Analyse(nullptr);

  CBinaryModel hex([&capture](uint64_t at, void* buffer, uint32_t n) { return capture.ReadAt(at, buffer, n); },
                   capture.FileSize());
  if (hex.Load(size / 3)) (void)hex.Rows();

  CView_RTPList list(capture, "fuzz", 1);
  CListModel model;
  for (const RtpPage& page : RtpPageList(capture)) {
    if (!list.SelectPage(page.id)) __builtin_trap();  // every listed page can be selected
    model.SetSource(&list);
    model.SetFirstVisible(list.Count() / 2);
    model.SetCursor(list.Count() / 2);
    model.KeepCursorVisible(7);
    (void)model.Render(40, 0);
    CView_RTPInfo info(capture, page.id);
    for (uint64_t row = 0; row < list.Count() && row < 40; ++row) {
      uint64_t address;
      RtpPacketEntry entry;
      if (!list.RowEntry(row, &address, &entry)) __builtin_trap();
      CFieldTree tree;
      info.Print(address, entry, tree);
    }
  }
  return 0;
}
