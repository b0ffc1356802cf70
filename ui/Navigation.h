// The list navigation of the View and Search commands, without any toolkit: moving the
// list window and cursor by kind (0 to 8), previous and next item across 30,000-item
// windows, and the entry checks of the jump, view-index and CSV dialogs.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "view/CListModel.h"

namespace fennik {

constexpr uint64_t kNoItem = ~uint64_t{0};

enum NavigateKind : int {
  kNavWindowTop = 0,
  kNavWindowEnd = 1,
  kNavFileTop = 2,
  kNavFileEnd = 3,
  kNavAddress = 4,
  kNavNumber = 5,
  kNavListAddress = 6,      // from the marker and error lists
  kNavAddressStart = 7,     // the item becomes the window start
  kNavNumberStart = 8,
};

// The file address of an item; false when the item has none.
using ItemAddress = std::function<bool(uint64_t item, uint64_t& address)>;

// The item at file address `address`: the last item whose address is at most `address`
// (items are in file order), kNoItem when there is none.
uint64_t FindItemByAddress(uint64_t count, const ItemAddress& addressOf, uint64_t address);

// Moves window and cursor; returns the new cursor inside the window, or kNoItem when
// nothing moved (no source, no target, a window start out of range).
uint64_t Navigate(CListModel& list, int kind, uint64_t value, int visibleRows,
                  const ItemAddress& addressOf);

// Previous/next item; false when nothing moved.
bool NavigatePrevious(CListModel& list, int visibleRows);
bool NavigateNext(CListModel& list, int visibleRows);

// Jump and view-index entries: blanks and tabs around the text are allowed. Numbers are
// decimal digits only; addresses hexadecimal digits with an optional "0x". False for an
// empty or invalid entry or one that does not fit 64 bits.
bool ParseNumberEntry(std::string_view text, uint64_t& value);
bool ParseAddressEntry(std::string_view text, uint64_t& value);

// The CSV dialog's range fields: an optional leading minus sign, then digits only.
bool ParseSignedDecimal(std::string_view text, int64_t& value);

enum class CsvEntryCheck { kOk, kBadRange, kNoFileName };
// The CSV dialog's checks, in order: both range fields are signed decimals and Start is
// smaller than End; the file name is not empty. The range is returned on kOk.
CsvEntryCheck CheckCsvEntry(std::string_view start, std::string_view end, std::string_view fileName,
                            int64_t& first, int64_t& last);

}  // namespace fennik
