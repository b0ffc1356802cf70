#include "capture/RtpViews.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "capture/PacketRecord.h"
#include "capture/RtpTiming.h"
#include "stream/CAudio_Stream.h"
#include "view/NumberFormat.h"

namespace fennik {
namespace {

const Label kErrorColumn{"Error Description", "エラー内容"};

// Column widths in characters; every cell is right-aligned in its column.
const std::vector<CView_RTPList::Column> kCaptureColumns = {
    {{"No.", nullptr}, 14},        {{"ADDRESS", nullptr}, 14},  {{"Packet No.", nullptr}, 12},
    {{"Cap Time", nullptr}, 15},   {{"Seq No.", nullptr}, 10},  {{"RTP Time", nullptr}, 15},
    {{"Type", nullptr}, 12},       {{"M", nullptr}, 3},         {{"Src Addr.", nullptr}, 17},
    {{"Port", nullptr}, 8},        {{"Payload", nullptr}, 10},  {kErrorColumn, 50},
};
// The stream object's frame columns go between "Bitrate" and "Error Description".
const std::vector<CView_RTPList::Column> kStreamColumns = {
    {{"No.", nullptr}, 14},        {{"ADDRESS", nullptr}, 14},    {{"Packet No.", nullptr}, 12},
    {{"Cap Time", nullptr}, 15},   {{"GAP(ms)", nullptr}, 12},    {{"Seq No.", nullptr}, 10},
    {{"RTP Time", nullptr}, 15},   {{"GAP(ms)", nullptr}, 12},    {{"Jitter(ms)", nullptr}, 12},
    {{"M", nullptr}, 3},           {{"Payload", nullptr}, 10},    {{"Bitrate", nullptr}, 12},
    {kErrorColumn, 50},
};

std::string ListTime(uint64_t milliseconds) {
  char text[32];
  FormatListTime(milliseconds, text, sizeof text);
  return text;
}

std::string Endpoint(uint32_t address, uint16_t port) {
  return Printf("%s (%u)", FormatIpv4(address).text, port);
}

// Writes cells right-aligned into consecutive columns.
// Hex bytes "0A 1B 2C" of an extension element (the first 16, then "...").
std::string HexBytes(const uint8_t* data, size_t length) {
  std::string text;
  for (size_t i = 0; i < length && i < 16; ++i) text += Printf(i ? " %02X" : "%02X", data[i]);
  if (length > 16) text += " ...";
  return text;
}

// The RTP header extension: profile and length (RFC 3550 5.3.1), then the elements of the
// one-byte (profile 0xBEDE) and two-byte (0x100x) forms of RFC 8285. `data` holds the
// extension's words as far as they were captured.
void PrintHeaderExtension(CFieldTree& tree, const PacketRecord& p, const uint8_t* data,
                          size_t captured) {
  const int c = colour::kField;
  tree.Title("RTP Header Extension");
  tree.Field(1, "defined by profile", 16, kModeHex, c, p.extensionProfile, p.extensionProfile,
             p.extensionProfile == 0xBEDE                ? "one-byte header elements"
             : (p.extensionProfile & 0xFFF0) == 0x1000 ? "two-byte header elements"
                                                       : "");
  tree.Field(1, "length", 16, kModeDecimal, c, p.extensionWords, p.extensionWords, {},
             "words");
  const bool oneByte = p.extensionProfile == 0xBEDE;
  const bool twoByte = (p.extensionProfile & 0xFFF0) == 0x1000;
  if (!oneByte && !twoByte) return;
  const size_t size = std::min<size_t>(size_t{p.extensionWords} * 4, captured);
  size_t i = 0;
  while (i < size) {
    if (data[i] == 0) {  // padding between elements
      ++i;
      continue;
    }
    uint32_t id, length;
    size_t header;
    if (oneByte) {
      id = data[i] >> 4;
      if (id == 15) break;  // reserved: the rest of the extension is not parsed
      length = (data[i] & 0x0F) + 1u;
      header = 1;
    } else {
      if (i + 1 >= size) break;
      id = data[i];
      length = data[i + 1];
      header = 2;
    }
    const size_t available = std::min<size_t>(length, size - i - header);
    tree.Field(2, "element ID", oneByte ? 4 : 8, kModeDecimal, c, id, id);
    tree.Field(2, "element length", oneByte ? 4 : 8, kModeDecimal, c,
               oneByte ? length - 1 : length, length, {}, "bytes");
    tree.FieldText(2, "element data", static_cast<int>(length * 8), c,
                   HexBytes(data + i + header, available),
                   available < length ? "truncated" : std::string_view{});
    i += header + length;
  }
}

class CellWriter {
 public:
  explicit CellWriter(CRowLine& line) : line_(line) {}
  void Cell(int width, const std::string& text) {
    line_.PutRight(column_, width, text);
    column_ += width;
  }
  void Skip(int width) { column_ += width; }
  int Column() const { return column_; }

 private:
  CRowLine& line_;
  int column_ = 0;
};

}  // namespace

uint32_t StreamPageId(uint32_t streamId, uint32_t codecType) {
  return 0x40000000u | ((codecType & 0xFF) << 16) | (streamId & 0xFFFF);
}

bool IsStreamPageId(uint32_t pageId) { return (pageId >> 30) == 1; }

uint32_t StreamCodecType(const CRTP_Parser& capture, uint32_t streamIndex) {
  if (streamIndex >= capture.Streams().size()) return 0;
  const CAvStream* object = capture.StreamObject(streamIndex);
  return object ? static_cast<uint32_t>(object->GetCodecType())
                : capture.Streams()[streamIndex].codecType;
}

std::vector<RtpPage> RtpPageList(const CRTP_Parser& capture) {
  std::vector<RtpPage> pages;
  pages.push_back({kCapturePageId, "LIST OF RTP PACKET"});
  const auto& streams = capture.Streams();
  for (uint32_t i = 0; i < streams.size() && i < kMaxStreamPages; ++i) {
    const RtpStreamEntry& s = streams[i];
    const std::string endpoint = Printf("%s:%u", FormatIpv4(s.sourceAddress).text, s.sourcePort);
    // The name is a fixed array: never read past it even without a terminator.
    const std::string name(s.encodingName, strnlen(s.encodingName, sizeof s.encodingName));
    std::string title = name.empty() ? "LIST OF " + endpoint + " RTP PACKET"
                                     : "LIST OF " + endpoint + " (" + name + ") RTP PACKET";
    pages.push_back({StreamPageId(i + 1, StreamCodecType(capture, i)),
                     std::move(title)});
  }
  return pages;
}

bool FindPacketRow(const CPacketTable& table, uint32_t packetNumber, uint64_t& row) {
  const uint64_t count = table.GetCount();
  auto numberAt = [&](uint64_t i) { return table.GetEntry(i, nullptr)->packetNumber; };
  uint64_t high = count;  // rows at or above `high` hold larger packet numbers
  uint64_t step = 1;
  while (step <= high && numberAt(high - step) > packetNumber) {
    high -= step;
    step *= 2;
  }
  uint64_t low = step <= high ? high - step : 0;
  while (low < high) {
    const uint64_t mid = low + (high - low) / 2;
    if (numberAt(mid) < packetNumber) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  if (low >= count || numberAt(low) != packetNumber) return false;
  row = low;
  return true;
}

// ---------------------------------------------------------------------------------------
// Packet lists

CView_RTPList::CView_RTPList(const CRTP_Parser& capture, std::string fileName, int language)
    : capture_(capture), fileName_(std::move(fileName)), language_(language) {
  SelectPage(kCapturePageId);
}

bool CView_RTPList::SelectPage(uint32_t pageId) {
  std::vector<uint64_t> rows;
  uint32_t errors = 0;
  const CPacketTable& table = capture_.Packets();
  if (pageId == kCapturePageId) {
    // The streams count their packets with errors as they are listed; no walk of the table.
    for (const RtpStreamEntry& s : capture_.Streams()) errors += s.sequenceErrors;
  } else {
    const uint32_t streamId = StreamIdOfPage(pageId);
    if (!IsStreamPageId(pageId) || streamId == 0 || streamId > capture_.Streams().size()) {
      return false;
    }
    rows = capture_.StreamPacketIndices(streamId - 1);
    for (uint64_t index : rows) {
      const RtpPacketEntry* e = table.GetEntry(index, nullptr);
      if (e != nullptr && e->errorFlags != 0) ++errors;
    }
  }
  pageId_ = pageId;
  streamRows_ = std::move(rows);
  errors_ = errors;
  return true;
}

const std::vector<CView_RTPList::Column>& CView_RTPList::Columns() const {
  return IsStreamPage() ? kStreamColumns : kCaptureColumns;
}

uint64_t CView_RTPList::Count() const {
  return IsStreamPage() ? streamRows_.size() : capture_.Packets().GetCount();
}

uint64_t CView_RTPList::FileSize() const { return capture_.FileSize(); }

bool CView_RTPList::PacketIndex(uint64_t row, uint64_t& packetIndex) const {
  if (row >= Count()) return false;
  packetIndex = IsStreamPage() ? streamRows_[row] : row;
  return true;
}

bool CView_RTPList::RowEntry(uint64_t row, uint64_t* address, RtpPacketEntry* entry) const {
  uint64_t index;
  return PacketIndex(row, index) && capture_.Packets().Get(index, address, entry) != 0;
}

const RtpStreamEntry* CView_RTPList::StreamOf(const RtpPacketEntry& e) const {
  const auto& streams = capture_.Streams();
  return e.streamIndex < streams.size() ? &streams[e.streamIndex] : nullptr;
}

void CView_RTPList::PrintHeader(const CListModel& list, CFieldTree& tree) const {
  tree.Title("LIST OF RTP PACKET");
  PrintDefaultListHeader(tree, fileName_, FileSize(), Count(), list.WindowStart(), list.WindowLast());
  if (IsStreamPage()) {
    const RtpStreamEntry& s = capture_.Streams()[StreamIdOfPage(pageId_) - 1];
    tree.FieldText(0, "Source Port", 0, colour::kField, Endpoint(s.sourceAddress, s.sourcePort));
    tree.FieldText(0, "Destination Port", 0, colour::kField,
                   Endpoint(s.destinationAddress, s.destinationPort));
    tree.FieldText(0, "Payload Type", 0, colour::kField,
                   std::string(s.encodingName, strnlen(s.encodingName, sizeof s.encodingName)));
  }
  tree.Field(0, "Number of Error Packets", 0, kModeDecimal,
             errors_ > 0 ? colour::kErrorField : colour::kField, 0, errors_);
}

void CView_RTPList::ColumnTitle(CRowLine& line) const {
  CellWriter cells(line);
  const std::vector<Column>& columns = Columns();
  for (size_t i = 0; i < columns.size(); ++i) {
    if (IsStreamPage() && i + 1 == columns.size() && frameCells_ != nullptr) {
      cells.Skip(frameCells_->ColumnTitles(line, cells.Column()));
    }
    cells.Cell(columns[i].width, Pick(columns[i].name, language_));
  }
}

bool CView_RTPList::ItemRow(uint64_t row, CRowLine& line, int& colourIndex) const {
  uint64_t address;
  RtpPacketEntry e;
  if (!RowEntry(row, &address, &e)) return false;
  if (IsStreamPage()) {
    StreamRow(row, address, e, line);
  } else {
    CaptureRow(row, address, e, line);
  }
  if (e.errorFlags != 0) colourIndex = colour::kListError;
  if (markers_ != nullptr && markers_->IsMarked(address, e.packetNumber)) {
    colourIndex = colour::kListMarker;
    line.Put(0, "*");
  }
  return true;
}

void CView_RTPList::CaptureRow(uint64_t row, uint64_t address, const RtpPacketEntry& e,
                               CRowLine& line) const {
  const RtpStreamEntry* s = StreamOf(e);
  CellWriter cells(line);
  cells.Cell(14, Printf("%9" PRIu64, row));
  cells.Cell(14, Printf("0x%010" PRIX64, address));
  cells.Cell(12, Printf("%10u", e.packetNumber));
  cells.Cell(15, ListTime(e.captureTime));
  cells.Cell(10, Printf("%8u", e.sequenceNumber));
  cells.Cell(15, ListTime(s ? RtpTimeMs(e.rtpTimestamp, s->clockRate) : 0));
  cells.Cell(12, capture_.PayloadTypeName(e));
  cells.Cell(3, e.marker ? "*" : " ");
  cells.Cell(17, FormatIpv4(s ? s->sourceAddress : 0).text);
  cells.Cell(8, Printf("%6u", s ? s->sourcePort : 0));
  cells.Cell(10, Printf("%8u", e.payloadLength));
  cells.Cell(50, PacketNoteText(e.errorFlags, e.flags, language_));
}

void CView_RTPList::StreamRow(uint64_t row, uint64_t address, const RtpPacketEntry& e,
                              CRowLine& line) const {
  const RtpStreamEntry* s = StreamOf(e);
  const uint32_t clockRate = s ? s->clockRate : 0;
  // Gaps against the row above: it is read whenever the row is not the list's first, so a
  // row shows the same gaps whichever rows were drawn before it.
  RtpPacketEntry previous;
  const bool havePrevious = row > 0 && RowEntry(row - 1, nullptr, &previous);

  CellWriter cells(line);
  cells.Cell(14, Printf("%9" PRIu64, row));
  cells.Cell(14, Printf("0x%010" PRIX64, address));
  cells.Cell(12, Printf("%10u", e.packetNumber));
  cells.Cell(15, ListTime(e.captureTime));
  cells.Cell(12, havePrevious ? Printf("%10" PRId64, static_cast<int64_t>(e.captureTime - previous.captureTime))
                              : std::string());
  cells.Cell(10, Printf("%8u", e.sequenceNumber));
  cells.Cell(15, ListTime(RtpTimeMs(e.rtpTimestamp, clockRate)));
  cells.Cell(12, havePrevious
                     ? Printf("%10" PRId64, RtpGapMs(e.rtpTimestamp, previous.rtpTimestamp, clockRate))
                     : std::string());
  cells.Cell(12, havePrevious ? Printf("%10d", e.jitter) : std::string());
  cells.Cell(3, e.marker ? "*" : " ");
  cells.Cell(10, Printf("%8u", e.payloadLength));
  cells.Cell(12, Printf("%10" PRIu64, uint64_t{e.bitRate} * 8));
  if (frameCells_ != nullptr) {
    CRowLine titles;  // only the width is needed here
    const int width = frameCells_->ColumnTitles(titles, cells.Column());
    if (e.frameIndex != kNoFrame) frameCells_->FrameCells(e.frameIndex, line, cells.Column());
    cells.Skip(width);
  }
  cells.Cell(50, PacketNoteText(e.errorFlags, e.flags, language_));
}

// ---------------------------------------------------------------------------------------
// Packet information

bool CView_RTPInfo::Print(uint64_t address, const RtpPacketEntry& entry, CFieldTree& tree) const {
  const int c = colour::kField;
  tree.Title("RTP PACKET INFORMATION");
  tree.Field(1, "File Address", 48, kModeHex, c, address, static_cast<int64_t>(address));
  tree.Field(1, "Packet Number", 0, kModeDecimal, c, 0, entry.packetNumber);

  // Read the record again (up to its saturated length, which covers every header) and
  // decode it with the link type of the analysis pass.
  const uint32_t length = entry.RecordLength();
  std::vector<uint8_t> record(length);
  if (record.empty() || capture_.ReadAt(address, record.data(), length) != length) return false;
  const uint32_t frameOffset = capture_.Format().format == CaptureFormat::kPcap ? 16 : 28;
  CRTP_LoadPacket decoder;
  PacketRecord p;
  if (decoder.Decode(record.data(), length, frameOffset, p, LinkTypeOfCode(entry.linkCode), false) == 0) {
    return false;
  }

  for (uint32_t k = 0; k < p.vlanCount && k < 2; ++k) {
    tree.Field(1, "VLAN ID", 12, kModeDecimal, c, p.vlanIds[k], p.vlanIds[k]);
  }
  if (p.ipVersion == 6) {
    tree.Title("IPv6 (Internet Protocol version 6)");
    tree.Field(1, "Version", 4, kModeDecimal, c, p.ipVersion, p.ipVersion);
    tree.Field(1, "Traffic Class", 8, kModeDecimal, c, p.trafficClass, p.trafficClass);
    tree.Field(1, "Flow Label", 20, kModeHex, c, p.flowLabel, p.flowLabel);
    tree.Field(1, "Payload Length", 16, kModeDecimal, c, p.ipv6PayloadLength, p.ipv6PayloadLength);
    tree.Field(1, "Next Header", 8, kModeDecimal, c, p.nextHeader, p.nextHeader);
    tree.Field(1, "Hop Limit", 8, kModeDecimal, c, p.hopLimit, p.hopLimit);
    tree.FieldText(1, "Source Address", 128, c, FormatIpv4(p.sourceAddress).text);
    tree.FieldText(1, "Destination Address", 128, c, FormatIpv4(p.destinationAddress).text);
    if (p.extensionHeaders > 0) {
      tree.Field(1, "Extension Headers", 0, kModeDecimal, c, p.extensionHeaders, p.extensionHeaders);
    }
  } else {
  tree.Title("IP(Internet Protocol)");
  tree.Field(1, "Version", 4, kModeDecimal, c, p.ipVersion, p.ipVersion);
  tree.Field(1, "IHL(Internet Header Length)", 4, kModeDecimal, c, p.ihl, p.ihl);
  tree.Field(1, "Type of Service", 8, kModeDecimal, c, p.typeOfService, p.typeOfService);
  tree.Field(1, "Total Length", 16, kModeDecimal, c, p.totalLength, p.totalLength);
  tree.Field(1, "Identification", 16, kModeDecimal, c, p.identification, p.identification);
  tree.Field(1, "Flags", 3, kModeDecimal, c, p.flags, p.flags);
  tree.Field(1, "Fragment Offset", 13, kModeDecimal, c, p.fragmentOffset, p.fragmentOffset);
  tree.Field(1, "Time to Live", 8, kModeDecimal, c, p.timeToLive, p.timeToLive);
  tree.Field(1, "Protocol", 8, kModeDecimal, c, p.protocol, p.protocol);
  tree.Field(1, "Header Checksum", 16, kModeDecimal, c, p.headerChecksum, p.headerChecksum);
  tree.Ipv4(1, "Source Address", p.sourceAddress, c);
  tree.Ipv4(1, "Destination Address", p.destinationAddress, c);
  }

  tree.Title("UDP (User Datagram Protocol)");
  tree.Field(1, "Source Port", 16, kModeDecimal, c, p.sourcePort, p.sourcePort);
  tree.Field(1, "Destination Port", 16, kModeDecimal, c, p.destinationPort, p.destinationPort);
  tree.Field(1, "Length", 16, kModeDecimal, c, p.udpLength, p.udpLength);
  tree.Field(1, "Checksum", 16, kModeDecimal, c, p.udpChecksum, p.udpChecksum);

  tree.Title("RTP Fixed Header Fields");
  tree.Field(1, "version", 2, kModeBinary, c, p.rtpVersion, p.rtpVersion);
  tree.Field(1, "padding", 1, kModeBinary, c, p.padding, p.padding);
  tree.Field(1, "extension", 1, kModeBinary, c, p.extension, p.extension);
  tree.Field(1, "CSRC count", 4, kModeDecimal, c, p.csrcCount, p.csrcCount);
  tree.Field(1, "marker", 1, kModeBinary, c, p.marker, p.marker);
  tree.Field(1, "payload type", 7, kModeDecimal, c, p.payloadType, p.payloadType);
  tree.Field(1, "sequence number", 16, kModeDecimal, c, p.sequenceNumber, p.sequenceNumber);
  tree.Field(1, "timestamp", 32, kModeDecimal, c, p.timestamp, p.timestamp);
  tree.Field(1, "SSRC", 32, kModeHex, c, p.ssrc, p.ssrc);
  for (uint32_t k = 0; k < p.csrcCount; ++k) tree.Field(1, "CSRC", 32, kModeHex, c, p.csrc[k], p.csrc[k]);
  if (p.extension && p.extensionOffset != 0) {
    PrintHeaderExtension(tree, p, record.data() + p.extensionOffset,
                         record.size() > p.extensionOffset ? record.size() - p.extensionOffset : 0);
  }
  if (p.padding) {
    tree.Field(1, "padding length", 8, kModeDecimal, c, p.paddingLength, p.paddingLength,
               p.paddingLength == 0 ? "not captured or invalid" : std::string_view{}, "bytes");
  }
  if (p.extension || p.padding) {
    tree.Field(1, "media length", 0, kModeDecimal, c, p.mediaLength, p.mediaLength,
               "payload without extension and padding", "bytes");
  }

  if (IsStreamPageId(pageId_)) {
    const uint32_t streamIndex = StreamIdOfPage(pageId_) - 1;
    CAvStream* object = capture_.StreamObject(streamIndex);
    const bool video = object != nullptr ? object->IsVideo()
                       : streamIndex < capture_.Streams().size() &&
                             capture_.Streams()[streamIndex].mediaKind != 1;
    tree.Title(video ? "VIDEO STREAM INFORMATION" : "AUDIO STREAM INFORMATION");
    // The frame that begins in this packet, described by the stream object itself unless
    // the page supplies its own printer.
    if (entry.frameIndex != kNoFrame) {
      if (streamInfo_ != nullptr) {
        streamInfo_->PrintFrameInfo(entry.frameIndex, tree);
      } else if (auto* audio = dynamic_cast<CAudio_Stream*>(object)) {
        audio->ShowFrameInfo(tree, entry.frameIndex);
      }
    }
  }
  return true;
}

}  // namespace fennik
