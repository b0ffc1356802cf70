// The content of the capture's views: the page list (the capture-wide packet list and one
// list per stream), the packet lists' columns, rows and summary (CView_RTPList), and the
// header fields of one packet (CView_RTPInfo), printed as view rows without any toolkit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/RtpTables.h"
#include "view/CFieldTree.h"
#include "view/CListModel.h"

namespace fennik {

class CRTP_Parser;

// Page ids: 0 for the capture-wide list; for a stream page
// 0x40000000 | (low byte of the codec type << 16) | stream id.
constexpr uint32_t kCapturePageId = 0;
constexpr size_t kMaxStreamPages = 100;
uint32_t StreamPageId(uint32_t streamId, uint32_t codecType);
// True when the top two bits are 01.
bool IsStreamPageId(uint32_t pageId);
inline uint32_t StreamIdOfPage(uint32_t pageId) { return pageId & 0xFFFF; }

struct RtpPage {
  uint32_t id;
  std::string title;
};
// "LIST OF RTP PACKET", then one page per stream in stream-table order (at most 100):
// "LIST OF a.b.c.d:port (NAME) RTP PACKET", or without " (NAME)" when the stream has no
// encoding name.
std::vector<RtpPage> RtpPageList(const CRTP_Parser& capture);

// The codec type a stream's page id carries: the stream object's own when it has one.
uint32_t StreamCodecType(const CRTP_Parser& capture, uint32_t streamIndex);

// The stream object's frame columns of a stream list: titles and, for a packet in which
// one of its frames begins, the cells.
class CFrameCellSource {
 public:
  virtual ~CFrameCellSource() = default;
  // Writes the column titles from `column`; returns the columns' total width.
  virtual int ColumnTitles(CRowLine& line, int column) const = 0;
  virtual void FrameCells(uint32_t frameIndex, CRowLine& line, int column) const = 0;
};

// The packet list of a page: the rows of the capture-wide packet table or of one stream.
class CView_RTPList : public CListSource {
 public:
  struct Column {
    Label name;
    int width;
  };

  CView_RTPList(const CRTP_Parser& capture, std::string fileName, int language);

  // Selects the capture-wide list or a stream's list, and counts the rows with error flags.
  // False for an id that names no stream (the page stays as it was).
  bool SelectPage(uint32_t pageId);
  uint32_t PageId() const { return pageId_; }
  bool IsStreamPage() const { return IsStreamPageId(pageId_); }
  uint32_t ErrorCount() const { return errors_; }

  void SetMarkers(const CMarkerQuery* markers) { markers_ = markers; }
  void SetFrameCells(const CFrameCellSource* cells) { frameCells_ = cells; }

  // The packet behind list row `row`: its file offset and entry.
  bool RowEntry(uint64_t row, uint64_t* address, RtpPacketEntry* entry) const;
  // Packet-table index of list row `row` (the row itself on the capture-wide page).
  bool PacketIndex(uint64_t row, uint64_t& packetIndex) const;

  const std::vector<Column>& Columns() const;

  // CListSource
  uint64_t Count() const override;
  std::string FileName() const override { return fileName_; }
  uint64_t FileSize() const override;
  void PrintHeader(const CListModel& list, CFieldTree& tree) const override;
  void ColumnTitle(CRowLine& line) const override;
  bool ItemRow(uint64_t row, CRowLine& line, int& colourIndex) const override;

 private:
  const RtpStreamEntry* StreamOf(const RtpPacketEntry& e) const;
  void CaptureRow(uint64_t row, uint64_t address, const RtpPacketEntry& e, CRowLine& line) const;
  void StreamRow(uint64_t row, uint64_t address, const RtpPacketEntry& e, CRowLine& line) const;

  const CRTP_Parser& capture_;
  std::string fileName_;
  int language_;
  uint32_t pageId_ = kCapturePageId;
  std::vector<uint64_t> streamRows_;  // packet-table indices of the selected stream
  uint32_t errors_ = 0;
  const CMarkerQuery* markers_ = nullptr;
  const CFrameCellSource* frameCells_ = nullptr;
};

// Prints the stream object's information about a frame (the "AUDIO/VIDEO STREAM
// INFORMATION" group of stream pages).
class CStreamInfoSource {
 public:
  virtual ~CStreamInfoSource() = default;
  virtual void PrintFrameInfo(uint32_t frameIndex, CFieldTree& tree) const = 0;
};

// The header fields of one packet: the record is read again from its file offset and
// decoded with the link type it was analysed with.
class CView_RTPInfo {
 public:
  CView_RTPInfo(CRTP_Parser& capture, uint32_t pageId = kCapturePageId)
      : capture_(capture), pageId_(pageId) {}
  void SetStreamInfo(const CStreamInfoSource* info) { streamInfo_ = info; }

  // Prints the groups for the packet at `address`; false (and only the first group) when
  // the record cannot be read again or does not decode as the RTP packet it was.
  bool Print(uint64_t address, const RtpPacketEntry& entry, CFieldTree& tree) const;

 private:
  CRTP_Parser& capture_;
  uint32_t pageId_;
  const CStreamInfoSource* streamInfo_ = nullptr;
};

}  // namespace fennik
