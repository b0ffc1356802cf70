#include "capture/ErrorList.h"

#include "capture/RtpTables.h"

namespace fennik {
namespace {

struct ErrorTextRow {
  uint32_t code;
  const char* english;
  const char* japanese;
};

constexpr ErrorTextRow kErrorTexts[] = {
    {kErrorCodeSequence, "The sequence number is discrete.", "シーケンス番号が不連続"},
    {kErrorCodeDuplicate, "Duplicate packet (not decoded).", "重複パケット（デコードしない）"},
    {0xFFFFFFFF, nullptr, nullptr},
};

}  // namespace

ErrorList& ErrorList::Instance() {
  static ErrorList list;
  return list;
}

void ErrorList::Clear() {
  for (ErrorListEntry& e : entries_) e = ErrorListEntry{~uint64_t{0}, ~0u, ~0u, 0, 0, 0};
  full_ = false;
}

void ErrorList::Record(uint64_t fileOffset, uint32_t packetNumber, uint32_t streamIndex,
                       uint32_t errorCode) {
  if (full_) return;
  for (ErrorListEntry& e : entries_) {
    if (e.fileOffset == fileOffset) return;
    if (e.fileOffset == ~uint64_t{0}) {
      e = ErrorListEntry{fileOffset, packetNumber, ~0u, streamIndex, kContainerKindRtp, errorCode};
      return;
    }
  }
  full_ = true;
}

int ErrorList::UsedCount() const {
  int n = 0;
  for (int i = 0; i < kEntries; ++i) n += IsUsed(i) ? 1 : 0;
  return n;
}

const char* ErrorText(uint32_t errorCode, int language) {
  for (const ErrorTextRow* row = kErrorTexts; row->code != 0xFFFFFFFF; ++row) {
    if (row->code != errorCode) continue;
    if (language == 1 && row->japanese != nullptr) return row->japanese;
    return row->english;
  }
  return "";
}

const char* PacketNoteText(uint8_t errorFlags, uint8_t packetFlags, int language) {
  if (errorFlags != 0) return ErrorText(kErrorCodeSequence, language);
  if (packetFlags & kPacketDuplicate) return ErrorText(kErrorCodeDuplicate, language);
  return "";
}

}  // namespace fennik
