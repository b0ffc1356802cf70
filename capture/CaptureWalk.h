// Capture format detection and the record walk over classic pcap and pcapng files: the file
// is walked in 4 MiB windows (in place when it is mapped or in memory, else read into a
// buffer) and each packet record is handed, in place, to a sink together with its file
// offset, packet number and timestamp in microseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/CAvFile.h"

namespace fennik {

enum class CaptureFormat : uint8_t { kNone, kPcap, kPcapng };

struct CaptureFormatInfo {
  CaptureFormat format = CaptureFormat::kNone;
  bool bigEndian = false;
  bool nanosecond = false;  // classic files written with nanosecond timestamps
};

// Recognises a capture from its first bytes (at least 24). Classic pcap with microsecond
// (A1B2C3D4) or nanosecond (A1B23C4D) timestamps in either byte order, and pcapng (the byte
// order of its first Section Header Block).
bool DetectCaptureFormat(const uint8_t* data, size_t length, CaptureFormatInfo& info);

// The first 32-bit little-endian word is one of the accepted capture magics.
bool IsCaptureMagic(const uint8_t* data, size_t length);

// Frame offsets inside a record.
constexpr uint32_t kPcapRecordHeader = 16;
constexpr uint32_t kEnhancedPacketHeader = 28;

// One record of a classic file or one pcapng block, as every reader of the capture sees it:
//   classic: seconds(4) sub-second(4) captured length(4) original length(4), frame
//   pcapng:  type(4) total length(4), body, total length(4); the body of an Enhanced Packet
//            Block (type 6): interface id(4) timestamp high(4) low(4) captured length(4)
//            original length(4), frame
struct RecordSpan {
  enum Status : uint8_t {
    kComplete,
    kIncomplete,  // the record does not end within the bytes given
    kMalformed,   // a pcapng total length below 12 or not a multiple of 4
  };
  Status status = kIncomplete;
  uint32_t length = 0;       // bytes of the record or block
  uint32_t frameOffset = 0;  // 16 or 28; 0 for a pcapng block that carries no packet
  uint32_t usable = 0;       // record bytes the frame may use: header + captured frame, within the block
  uint32_t type = 0;         // pcapng block type
  uint32_t interfaceId = 0;  // Enhanced Packet Block's interface
};
// Reads the record at `p`, `available` bytes of which are in memory; the lengths are
// checked against them before any byte past the header is trusted.
RecordSpan ReadRecordSpan(const uint8_t* p, uint64_t available, CaptureFormat format, bool bigEndian);

struct CaptureRecord {
  const uint8_t* data;     // the record, starting at its record or block header
  uint32_t length;         // record bytes the frame may use (header + captured frame)
  uint32_t frameOffset;    // 16 (classic) or 28 (Enhanced Packet Block)
  uint64_t fileOffset;     // of the record's first byte
  uint32_t packetNumber;   // 1-based: every classic record, every Enhanced Packet Block
  int64_t timestampUs;     // capture timestamp in microseconds since the epoch
  uint32_t linkType;       // link-layer type of the file or interface (pcap LINKTYPE_)
};

class CCaptureSink {
 public:
  virtual ~CCaptureSink() = default;
  virtual void OnRecord(const CaptureRecord& record) = 0;
  // Before each window is read; return false to cancel the walk.
  virtual bool OnWindow(uint64_t offset, uint64_t fileSize) {
    (void)offset, (void)fileSize;
    return true;
  }
};

// Why a walk stopped.
enum class WalkEnd : uint8_t {
  kEndOfFile,        // every record was read
  kCancelled,
  kReadError,
  kTruncated,        // the last record reaches past the end of the file
  kRecordTooLarge,   // a record larger than the read window
  kMalformed,        // a pcapng block length that cannot be walked
};
const char* WalkEndText(WalkEnd end);

struct WalkResult {
  WalkEnd end = WalkEnd::kEndOfFile;
  uint64_t stopOffset = 0;   // where the walk stopped when it did not reach the end
  uint64_t records = 0;      // classic records or pcapng blocks walked
  uint32_t packets = 0;      // packet records handed to the sink
  // Link types: the classic file's, or the interfaces' of the first pcapng section.
  std::vector<uint32_t> linkTypes;
};

// Walks a capture opened in `file` whose format was detected into `info`.
class CCaptureWalk {
 public:
  CCaptureWalk(CAvFile& file, const CaptureFormatInfo& info) : file_(file), info_(info) {}
  WalkResult Run(CCaptureSink& sink);

 private:
  struct Interface {
    int64_t offsetSeconds = 0;
    uint8_t resolution = 6;  // if_tsresol: power of ten, or of two with the top bit set
    uint32_t linkType = 0;
  };

  uint32_t NextWindow(uint64_t offset, uint64_t size, const uint8_t*& window, bool& lost);
  // Returns the bytes of the window consumed; sets done/result when the walk must stop.
  uint32_t WalkPcapWindow(const uint8_t* window, uint32_t valid, uint64_t base,
                          CCaptureSink& sink, WalkResult& result, bool& done);
  uint32_t WalkPcapngWindow(const uint8_t* window, uint32_t valid, uint64_t base,
                            CCaptureSink& sink, WalkResult& result, bool& done);
  void ReadSectionHeader(const uint8_t* block, uint32_t length);
  void ReadInterface(const uint8_t* block, uint32_t length);
  int64_t EnhancedTimestamp(uint32_t interfaceId, uint64_t ticks) const;
  uint32_t InterfaceLinkType(uint32_t interfaceId) const;

  CAvFile& file_;
  CaptureFormatInfo info_;
  bool bigEndian_ = false;
  std::vector<Interface> interfaces_;
  std::vector<Interface> firstSection_;
  int sections_ = 0;
  uint32_t packetNumber_ = 0;
  uint32_t classicLinkType_ = 0xFFFFFFFF;
};

// Converts a timestamp in units of an if_tsresol value to microseconds.
int64_t TicksToMicroseconds(uint64_t ticks, uint8_t resolution);

}  // namespace fennik
