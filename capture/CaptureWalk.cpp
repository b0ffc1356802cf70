#include "capture/CaptureWalk.h"

#include <algorithm>

#include "base/ByteOrder.h"

namespace fennik {
namespace {

constexpr uint32_t kPcapMicro = 0xA1B2C3D4;
constexpr uint32_t kPcapNano = 0xA1B23C4D;
constexpr uint32_t kPcapngSection = 0x0A0D0D0A;
constexpr uint32_t kPcapngByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kPcapGlobalHeader = 24;

constexpr uint32_t kBlockInterface = 1;
constexpr uint32_t kBlockEnhancedPacket = 6;
constexpr uint32_t kBlockHeader = 8;
constexpr uint32_t kBlockMinimum = 12;  // type, total length, trailing total length
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionTsResol = 9;
constexpr uint16_t kOptionTsOffset = 14;

}  // namespace

bool IsCaptureMagic(const uint8_t* data, size_t length) {
  if (length < kPcapGlobalHeader) return false;
  uint32_t le = ReadLE32(data);
  uint32_t be = ReadBE32(data);
  return le == kPcapMicro || be == kPcapMicro || le == kPcapNano || be == kPcapNano ||
         le == kPcapngSection;
}

bool DetectCaptureFormat(const uint8_t* data, size_t length, CaptureFormatInfo& info) {
  info = CaptureFormatInfo{};
  if (length < kPcapGlobalHeader) return false;
  uint32_t v = ReadBE32(data);
  switch (v) {
    case kPcapMicro: info = {CaptureFormat::kPcap, true, false}; return true;
    case kPcapNano: info = {CaptureFormat::kPcap, true, true}; return true;
    case 0xD4C3B2A1: info = {CaptureFormat::kPcap, false, false}; return true;
    case 0x4D3CB2A1: info = {CaptureFormat::kPcap, false, true}; return true;
    case kPcapngSection:
      info = {CaptureFormat::kPcapng, ReadBE32(data + 8) == kPcapngByteOrderMagic, false};
      return true;
    default: return false;
  }
}

const char* WalkEndText(WalkEnd end) {
  switch (end) {
    case WalkEnd::kEndOfFile: return "end of file";
    case WalkEnd::kCancelled: return "cancelled";
    case WalkEnd::kReadError: return "read error";
    case WalkEnd::kTruncated: return "truncated record";
    case WalkEnd::kRecordTooLarge: return "record larger than the read window";
    case WalkEnd::kMalformed: return "malformed block length";
  }
  return "";
}

int64_t TicksToMicroseconds(uint64_t ticks, uint8_t resolution) {
  if (resolution & 0x80) {
    unsigned shift = resolution & 0x7F;
    if (shift > 63) return 0;
    __uint128_t us = static_cast<__uint128_t>(ticks) * 1000000u;
    return static_cast<int64_t>(us >> shift);
  }
  if (resolution > 19) return 0;
  uint64_t scale = 1;
  if (resolution >= 6) {
    for (unsigned i = 6; i < resolution; ++i) scale *= 10;
    return static_cast<int64_t>(ticks / scale);
  }
  for (unsigned i = resolution; i < 6; ++i) scale *= 10;
  return static_cast<int64_t>(ticks * scale);
}

WalkResult CCaptureWalk::Run(CCaptureSink& sink) {
  WalkResult result;
  packetNumber_ = 0;
  bigEndian_ = info_.bigEndian;
  interfaces_.clear();
  firstSection_.clear();
  sections_ = 0;
  const uint64_t size = file_.FileSize();
  uint8_t header[kPcapGlobalHeader];
  if (info_.format == CaptureFormat::kPcap && file_.ReadAt(0, header, sizeof header) == sizeof header) {
    classicLinkType_ = Read32(header + 20, bigEndian_) & 0x0FFFFFFF;  // upper bits: FCS flags
  }
  uint64_t offset = info_.format == CaptureFormat::kPcap ? kPcapGlobalHeader : 0;
  const uint32_t minimum = info_.format == CaptureFormat::kPcap ? kPcapRecordHeader + 1
                                                                 : kBlockHeader + 1;
  bool done = false;
  while (!done && offset < size) {
    if (!sink.OnWindow(offset, size)) {
      result.end = WalkEnd::kCancelled;
      result.stopOffset = offset;
      return result;
    }
    const uint8_t* window = nullptr;
    bool lost = false;
    const uint32_t valid = NextWindow(offset, size, window, lost);
    if (valid == 0 || (lost && valid < minimum)) {
      result.end = WalkEnd::kReadError;
      break;
    }
    if (valid < minimum) {
      result.end = WalkEnd::kTruncated;
      break;
    }
    uint32_t consumed = info_.format == CaptureFormat::kPcap
                            ? WalkPcapWindow(window, valid, offset, sink, result, done)
                            : WalkPcapngWindow(window, valid, offset, sink, result, done);
    if (done) break;
    // A mapped file that lost pages while they were walked: the walk ends at the loss.
    if (lost || (file_.InPlace() != nullptr && !file_.IntactInPlace(offset + consumed))) {
      result.end = WalkEnd::kReadError;
      offset += consumed;
      break;
    }
    if (consumed == 0) {
      // Nothing fitted: the record is larger than the window or runs past the file's end.
      result.end = offset + valid < size ? WalkEnd::kRecordTooLarge : WalkEnd::kTruncated;
      break;
    }
    offset += consumed;
    file_.ConsumedInPlace(offset);
  }
  result.packets = packetNumber_;
  if (info_.format == CaptureFormat::kPcap) {
    result.linkTypes.push_back(classicLinkType_);
  } else {
    if (sections_ < 2) firstSection_ = interfaces_;
    for (const Interface& itf : firstSection_) result.linkTypes.push_back(itf.linkType);
  }
  if (result.end != WalkEnd::kEndOfFile && result.stopOffset == 0) result.stopOffset = offset;
  return result;
}

// The window at `offset`: in place when the file is mapped or in memory (`lost` when the
// mapped file no longer has all of it), else read into the file's window buffer. Either way
// at most one window's size, so records larger than that end the walk alike.
uint32_t CCaptureWalk::NextWindow(uint64_t offset, uint64_t size, const uint8_t*& window, bool& lost) {
  const uint8_t* inPlace = file_.InPlace();
  if (inPlace == nullptr) {
    const uint32_t valid = file_.ReadWindow(offset);
    window = file_.Window().Data();
    return valid;
  }
  const uint64_t want = std::min<uint64_t>(size - offset, CFileBuffer::kWindowSize);
  const uint64_t valid = file_.ReadableInPlace(offset, want);
  lost = valid < want;
  window = inPlace + offset;
  return static_cast<uint32_t>(valid);
}

RecordSpan ReadRecordSpan(const uint8_t* p, uint64_t available, CaptureFormat format, bool big) {
  RecordSpan r;
  if (format == CaptureFormat::kPcap) {
    if (available < kPcapRecordHeader) return r;
    const uint64_t length = uint64_t{Read32(p + 8, big)} + kPcapRecordHeader;
    if (length > available) return r;
    r.status = RecordSpan::kComplete;
    r.length = r.usable = static_cast<uint32_t>(length);
    r.frameOffset = kPcapRecordHeader;
    return r;
  }
  if (available < 8) return r;
  r.type = Read32(p, big);
  const uint32_t length = Read32(p + 4, big);
  if (length < kBlockMinimum || (length & 3) != 0) {
    r.status = RecordSpan::kMalformed;
    return r;
  }
  if (length > available) return r;
  r.status = RecordSpan::kComplete;
  r.length = length;
  if (r.type == kBlockEnhancedPacket && length >= kEnhancedPacketHeader + 4) {
    const uint32_t captured = Read32(p + 20, big);
    const uint32_t room = length - kEnhancedPacketHeader - 4;
    r.interfaceId = Read32(p + 8, big);
    r.frameOffset = kEnhancedPacketHeader;
    r.usable = kEnhancedPacketHeader + (captured < room ? captured : room);
  }
  return r;
}

uint32_t CCaptureWalk::WalkPcapWindow(const uint8_t* window, uint32_t valid, uint64_t base,
                                      CCaptureSink& sink, WalkResult& result, bool& done) {
  (void)done;
  uint32_t pos = 0;
  while (pos + kPcapRecordHeader < valid) {
    const uint8_t* rec = window + pos;
    const RecordSpan r = ReadRecordSpan(rec, valid - pos, CaptureFormat::kPcap, bigEndian_);
    if (r.status != RecordSpan::kComplete) break;
    uint64_t seconds = Read32(rec, bigEndian_);
    uint64_t fraction = Read32(rec + 4, bigEndian_);
    int64_t us = static_cast<int64_t>(seconds * 1000000 +
                                      (info_.nanosecond ? fraction / 1000 : fraction));
    CaptureRecord record{rec, r.usable, r.frameOffset, base + pos, ++packetNumber_, us, classicLinkType_};
    sink.OnRecord(record);
    ++result.records;
    pos += r.length;
  }
  return pos;
}

// pcapng block: type(4) total length(4) body ... total length(4).
uint32_t CCaptureWalk::WalkPcapngWindow(const uint8_t* window, uint32_t valid, uint64_t base,
                                        CCaptureSink& sink, WalkResult& result, bool& done) {
  uint32_t pos = 0;
  while (pos + kBlockHeader < valid) {
    const uint8_t* block = window + pos;
    uint32_t type = Read32(block, bigEndian_);
    if (type == kPcapngSection && valid - pos >= kBlockMinimum) {
      // A new section may change the byte order; its length is read in that order.
      bigEndian_ = ReadBE32(block + 8) == kPcapngByteOrderMagic;
    }
    const RecordSpan r = ReadRecordSpan(block, valid - pos, CaptureFormat::kPcapng, bigEndian_);
    if (r.status == RecordSpan::kMalformed) {
      result.end = WalkEnd::kMalformed;
      result.stopOffset = base + pos;
      done = true;
      return pos;
    }
    if (r.status != RecordSpan::kComplete) break;
    const uint32_t length = r.length;
    if (type == kPcapngSection) {
      ReadSectionHeader(block, length);
    } else if (type == kBlockInterface) {
      ReadInterface(block, length);
    } else if (r.frameOffset != 0) {
      uint64_t ticks = (uint64_t{Read32(block + 12, bigEndian_)} << 32) | Read32(block + 16, bigEndian_);
      CaptureRecord record{block, r.usable, r.frameOffset, base + pos, ++packetNumber_,
                           EnhancedTimestamp(r.interfaceId, ticks), InterfaceLinkType(r.interfaceId)};
      sink.OnRecord(record);
    }
    ++result.records;
    pos += length;
  }
  return pos;
}

void CCaptureWalk::ReadSectionHeader(const uint8_t*, uint32_t) {
  if (++sections_ == 2) firstSection_ = interfaces_;
  interfaces_.clear();
}

// Interface Description Block: link type(2) reserved(2) snap length(4), then options
// (code(2) length(2) value padded to 4 bytes).
void CCaptureWalk::ReadInterface(const uint8_t* block, uint32_t length) {
  Interface itf;
  if (length >= 20) itf.linkType = Read16(block + 8, bigEndian_);
  uint32_t pos = 16;
  const uint32_t end = length - 4;
  while (pos + 4 <= end) {
    uint16_t code = Read16(block + pos, bigEndian_);
    uint16_t size = Read16(block + pos + 2, bigEndian_);
    pos += 4;
    if (code == kOptionEnd || pos + size > end) break;
    if (code == kOptionTsResol && size >= 1) itf.resolution = block[pos];
    if (code == kOptionTsOffset && size >= 8) {
      uint64_t hi = Read32(block + pos, bigEndian_);
      uint64_t lo = Read32(block + pos + 4, bigEndian_);
      itf.offsetSeconds = static_cast<int64_t>(bigEndian_ ? (hi << 32) | lo : (lo << 32) | hi);
    }
    pos += (size + 3u) & ~3u;
  }
  interfaces_.push_back(itf);
}

uint32_t CCaptureWalk::InterfaceLinkType(uint32_t interfaceId) const {
  return interfaceId < interfaces_.size() ? interfaces_[interfaceId].linkType : 0xFFFFFFFF;
}

int64_t CCaptureWalk::EnhancedTimestamp(uint32_t interfaceId, uint64_t ticks) const {
  if (interfaceId >= interfaces_.size()) return TicksToMicroseconds(ticks, 6);
  const Interface& itf = interfaces_[interfaceId];
  return TicksToMicroseconds(ticks, itf.resolution) + itf.offsetSeconds * 1000000;
}

}  // namespace fennik
