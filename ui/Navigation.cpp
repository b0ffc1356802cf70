#include "ui/Navigation.h"

#include <algorithm>

namespace fennik {

uint64_t FindItemByAddress(uint64_t count, const ItemAddress& addressOf, uint64_t address) {
  if (!addressOf || count == 0) return kNoItem;
  // Binary search for the last item at or before the address.
  uint64_t lo = 0, hi = count;  // answer in [lo, hi)
  uint64_t found = kNoItem;
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    uint64_t at = 0;
    if (!addressOf(mid, at)) return kNoItem;
    if (at <= address) {
      found = mid;
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return found;
}

uint64_t Navigate(CListModel& list, int kind, uint64_t value, int visibleRows,
                  const ItemAddress& addressOf) {
  if (list.Source() == nullptr) return kNoItem;
  const uint64_t count = list.Count();
  uint64_t target = kNoItem;
  switch (kind) {
    case kNavWindowTop: target = list.WindowLength() ? list.WindowStart() : kNoItem; break;
    case kNavWindowEnd: target = list.WindowLength() ? list.WindowLast() : kNoItem; break;
    case kNavFileTop: target = 0; break;
    case kNavFileEnd: target = count ? count - 1 : kNoItem; break;
    case kNavAddress:
    case kNavListAddress:
    case kNavAddressStart: target = FindItemByAddress(count, addressOf, value); break;
    case kNavNumber:
    case kNavNumberStart: target = value; break;
    default: return kNoItem;
  }
  if (target == kNoItem || target >= count) return kNoItem;
  if (kind == kNavAddressStart || kind == kNavNumberStart) {
    if (!list.SetWindowStart(target)) return kNoItem;
  } else if (target < list.WindowStart() || target > list.WindowLast()) {
    list.SetWindowStart(target / CListModel::kWindowItems * CListModel::kWindowItems);
  }
  const uint64_t cursor = target - list.WindowStart();
  list.SetCursor(cursor);
  const uint64_t half = static_cast<uint64_t>(std::max(visibleRows, 0) / 2);
  list.SetFirstVisible(cursor > half ? cursor - half : 0);
  return cursor;
}

bool NavigatePrevious(CListModel& list, int visibleRows) {
  if (list.Source() == nullptr || list.WindowLength() == 0) return false;
  if (list.Cursor() > 0) {
    list.SetCursor(list.Cursor() - 1);
    list.KeepCursorVisible(visibleRows);
    return true;
  }
  const uint64_t start = list.WindowStart();
  if (start == 0) return false;
  const uint64_t newStart = start > CListModel::kWindowItems ? start - CListModel::kWindowItems : 0;
  if (!list.SetWindowStart(newStart)) return false;
  // The item just before the old window: the last of the new one when it is a full window.
  list.SetCursor(start - 1 - newStart);
  list.KeepCursorVisible(visibleRows);
  return true;
}

bool NavigateNext(CListModel& list, int visibleRows) {
  if (list.Source() == nullptr || list.WindowLength() == 0) return false;
  if (list.Cursor() + 1 < list.WindowLength()) {
    list.SetCursor(list.Cursor() + 1);
    list.KeepCursorVisible(visibleRows);
    return true;
  }
  return list.SetWindowStart(list.WindowStart() + CListModel::kWindowItems);
}

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

bool ParseNumberEntry(std::string_view text, uint64_t& value) {
  text = Trim(text);
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (v > (~uint64_t{0} - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

bool ParseAddressEntry(std::string_view text, uint64_t& value) {
  text = Trim(text);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty() || text.size() > 16) return false;
  uint64_t v = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return false;
    v = (v << 4) | static_cast<uint64_t>(digit);
  }
  value = v;
  return true;
}

bool ParseSignedDecimal(std::string_view text, int64_t& value) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 18) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  value = negative ? -v : v;
  return true;
}

CsvEntryCheck CheckCsvEntry(std::string_view start, std::string_view end, std::string_view fileName,
                            int64_t& first, int64_t& last) {
  int64_t a = 0, b = 0;
  if (!ParseSignedDecimal(start, a) || !ParseSignedDecimal(end, b) || a >= b) return CsvEntryCheck::kBadRange;
  if (fileName.empty()) return CsvEntryCheck::kNoFileName;
  first = a;
  last = b;
  return CsvEntryCheck::kOk;
}

}  // namespace fennik
