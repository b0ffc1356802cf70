// The list of packet errors (4096 entries) the analysis pass records into, the sink
// interface the pass sees, and the errors' texts in both interface languages. The desktop
// program keeps one list for every open capture and the error-list dialog.
#pragma once

#include <cstdint>

namespace fennik {

constexpr uint32_t kContainerKindRtp = 216;
constexpr uint32_t kErrorCodeSequence = 1;
constexpr uint32_t kErrorCodeDuplicate = 2;  // a note, not an error: the packet is not decoded

struct ErrorListEntry {
  uint64_t fileOffset;     // all ones: free entry
  uint32_t packetNumber;
  uint32_t reserved;
  uint32_t streamIndex;
  uint32_t containerKind;
  uint32_t errorCode;
};

// Where the analysis pass reports a packet's error.
class CErrorSink {
 public:
  virtual ~CErrorSink() = default;
  virtual void Record(uint64_t fileOffset, uint32_t packetNumber, uint32_t streamIndex,
                      uint32_t errorCode = kErrorCodeSequence) = 0;
};

class ErrorList : public CErrorSink {
 public:
  static constexpr int kEntries = 4096;

  ErrorList() { Clear(); }
  // The desktop program's list.
  static ErrorList& Instance();

  // Frees every entry (program start, capture close) and re-enables recording.
  void Clear();
  // Enters a packet unless its file offset is listed already. When the list is full, no
  // further errors are recorded until the next Clear.
  void Record(uint64_t fileOffset, uint32_t packetNumber, uint32_t streamIndex,
              uint32_t errorCode = kErrorCodeSequence) override;
  const ErrorListEntry& At(int index) const { return entries_[index]; }
  bool IsUsed(int index) const { return entries_[index].fileOffset != ~uint64_t{0}; }
  int UsedCount() const;

 private:
  ErrorListEntry entries_[kEntries];
  bool full_ = false;
};

// The error's text in the interface language (0 English, 1 Japanese, UTF-8); English where
// the language has none; "" for an unknown code.
const char* ErrorText(uint32_t errorCode, int language);

// The lists' "Error Description" cell of a packet entry with these error flags and packet
// flags (RtpTables.h): the sequence error, else the duplicate note, else "".
const char* PacketNoteText(uint8_t errorFlags, uint8_t packetFlags, int language);

}  // namespace fennik
