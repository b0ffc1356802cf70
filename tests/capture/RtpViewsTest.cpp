// The capture's views as rows: page list, packet list rows and summary, packet information
// tree. Captures come from tests/data/captures (made by scripts/make-test-captures; the
// .tshark.tsv next to each file is tshark's view of its RTP packets, see the README there).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/RtpViews.h"
#include "tests/capture/CaptureBuilder.h"
#include "view/CListModel.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using namespace test;

std::string Capture(const std::string& name) {
  return std::string(FENNIK_TEST_DATA) + "/captures/" + name;
}

struct TsvRow {
  uint32_t frame;
  double time;
  uint32_t sport;
  uint32_t seq;
  uint32_t timestamp;
};

std::vector<TsvRow> ReadTsv(const std::string& name) {
  std::ifstream in(Capture(name) + ".tshark.tsv");
  std::vector<TsvRow> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream f(line);
    TsvRow r{};
    std::string src, dst;
    uint32_t dport;
    f >> r.frame >> r.time >> src >> dst >> r.sport >> dport >> r.seq >> r.timestamp;
    rows.push_back(r);
  }
  return rows;
}

class Opened {
 public:
  explicit Opened(const std::string& name) {
    ok = capture.Open(Capture(name)) == OpenResult::kOk;
    if (ok) capture.Analyse(nullptr);
  }
  CRTP_Parser capture;
  bool ok = false;
};

std::string RowText(const CView_RTPList& list, uint64_t row, int* colourOut = nullptr) {
  CRowLine line;
  int colourIndex = colour::kListRow;
  if (!list.ItemRow(row, line, colourIndex)) return "<none>";
  if (colourOut) *colourOut = colourIndex;
  return line.Text();
}

// The cell of a right-aligned column: the characters from `start` for `width`, blanks trimmed.
std::string Cell(const std::string& row, size_t start, size_t width) {
  if (row.size() <= start) return {};
  std::string cell = row.substr(start, width);
  const size_t first = cell.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  cell = cell.substr(first);
  while (!cell.empty() && cell.back() == ' ') cell.pop_back();
  return cell;
}

// Capture time as the list shows it: whole milliseconds since the file's first packet.
uint32_t Ms(double seconds) { return static_cast<uint32_t>(std::floor(seconds * 1000 + 1e-6)); }

TEST(RtpViews, PageListTitlesAndIds) {
  Opened many("many-streams-300.pcap");
  ASSERT_TRUE(many.ok);
  const std::vector<RtpPage> pages = RtpPageList(many.capture);
  // The capture-wide page and the first 100 of 300 streams.
  ASSERT_EQ(pages.size(), 101u);
  EXPECT_EQ(pages[0].id, 0u);
  EXPECT_EQ(pages[0].title, "LIST OF RTP PACKET");
  EXPECT_EQ(pages[1].title, "LIST OF 127.0.2.1:10000 (PCMU) RTP PACKET");
  // G.711 u-law is codec type 106 = 0x6A; stream id 1.
  EXPECT_EQ(pages[1].id, 0x406A0001u);
  EXPECT_EQ(pages[100].id & 0xFFFF, 100u);
  EXPECT_TRUE(IsStreamPageId(pages[100].id));
  EXPECT_FALSE(IsStreamPageId(0));
  EXPECT_FALSE(IsStreamPageId(0xC0000001));

  Opened nosdp("g711a-g722-nosdp-nsec.pcap");
  ASSERT_TRUE(nosdp.ok);
  const std::vector<RtpPage> p = RtpPageList(nosdp.capture);
  ASSERT_EQ(p.size(), 4u);
  // Payload type 98 without a session description: no encoding name, no codec.
  EXPECT_EQ(p[1].title, "LIST OF 127.0.1.20:34004 RTP PACKET");
  EXPECT_EQ(p[1].id, 0x40000001u);
  EXPECT_EQ(p[2].title, "LIST OF 127.0.1.10:24002 (G722) RTP PACKET");
}

TEST(RtpViews, CaptureWideRowsAgainstTshark) {
  Opened o("g711u-sip-udp.pcap");
  ASSERT_TRUE(o.ok);
  CView_RTPList list(o.capture, "g711u-sip-udp.pcap", kLanguageEnglish);
  const std::vector<TsvRow> tsv = ReadTsv("g711u-sip-udp.pcap");
  ASSERT_EQ(list.Count(), tsv.size());

  // Row 0 is frame 6: 0.538668 s after the first record, seq 1312, RTP timestamp 22,804,477
  // at 8 kHz = 2,850,559 ms = 0:47:30.559; record at file offset 0x80E (the first five
  // records are SIP: 24-byte file header plus their records).
  const std::string expected = std::string("             0")  // "%9d" in 14
                               + "  0x000000080E"              // "0x%010llX" in 14
                               + "           6"                // "%10d" in 12
                               + "    0:00:00.538"             // " %2d:%02d:%02d.%03d" in 15
                               + "      1312"                  // "%8d" in 10
                               + "    0:47:30.559"             // RTP time in 15
                               + "        PCMU"                // encoding in 12
                               + "   "                         // M: no marker
                               + "       127.0.1.20"           // source address in 17
                               + "   30000"                    // "%6d" in 8
                               + "       160";                 // UDP-derived payload in 10
  int rowColour = -1;
  EXPECT_EQ(RowText(list, 0, &rowColour), expected);
  EXPECT_EQ(rowColour, colour::kListRow);

  // A few more rows: packet number, capture time, sequence number and source port cells.
  for (uint64_t row : {1u, 2u, 57u, 299u}) {
    const std::string text = RowText(list, row);
    EXPECT_EQ(Cell(text, 28, 12), std::to_string(tsv[row].frame)) << row;
    char time[32];
    const uint32_t ms = Ms(tsv[row].time);
    std::snprintf(time, sizeof time, "%d:%02d:%02d.%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
    EXPECT_EQ(Cell(text, 40, 15), time) << row;
    EXPECT_EQ(Cell(text, 55, 10), std::to_string(tsv[row].seq)) << row;
    EXPECT_EQ(Cell(text, 115, 8), std::to_string(tsv[row].sport)) << row;
  }
  EXPECT_FALSE(list.ItemRow(300, *std::make_unique<CRowLine>(), rowColour));

  CRowLine title;
  list.ColumnTitle(title);
  EXPECT_EQ(title.Text(),
            "           No.       ADDRESS  Packet No.       Cap Time   Seq No.       RTP Time"
            "        Type  M        Src Addr.    Port   Payload" +
                std::string(33, ' ') + "Error Description");
}

TEST(RtpViews, StreamRowsWithGapsAgainstTheRowAbove) {
  Opened o("g711u-sip-udp.pcap");
  ASSERT_TRUE(o.ok);
  CView_RTPList list(o.capture, "g711u-sip-udp.pcap", kLanguageEnglish);
  ASSERT_TRUE(list.SelectPage(StreamPageId(1, 106)));
  ASSERT_EQ(list.Count(), 150u);
  std::vector<TsvRow> tsv;
  for (const TsvRow& r : ReadTsv("g711u-sip-udp.pcap")) {
    if (r.sport == 30000) tsv.push_back(r);
  }
  ASSERT_EQ(tsv.size(), 150u);

  // Columns: No. 0, ADDRESS 14, Packet No. 28, Cap Time 40, GAP 55, Seq No. 67,
  // RTP Time 77, GAP 92, Jitter 104, M 116, Payload 119, Bitrate 129.
  const std::string first = RowText(list, 0);
  EXPECT_EQ(Cell(first, 28, 12), "6");
  EXPECT_EQ(Cell(first, 55, 12), "");   // no row above
  EXPECT_EQ(Cell(first, 92, 12), "");
  EXPECT_EQ(Cell(first, 104, 12), "");
  EXPECT_EQ(Cell(first, 119, 10), "160");
  // Bit rate: payload bytes of the last second, in bits. The window exists only for streams
  // with a stream object, which needs the audio codecs linked in (the CLI has them).
  const bool haveObject = o.capture.StreamObject(0) != nullptr;
  EXPECT_EQ(Cell(first, 129, 12), haveObject ? "1280" : "0");

  // Row 1 (frame 9): 548 - 538 = 10 ms capture gap, (22804637 - 22804477) / 8 = 20 ms RTP gap,
  // so the jitter against the first packet is 10 - 20 = -10 ms; 320 bytes in the last second.
  const std::string second = RowText(list, 1);
  EXPECT_EQ(Cell(second, 28, 12), "9");
  EXPECT_EQ(Cell(second, 55, 12), "10");
  EXPECT_EQ(Cell(second, 67, 10), "1313");
  EXPECT_EQ(Cell(second, 92, 12), "20");
  EXPECT_EQ(Cell(second, 104, 12), "-10");
  EXPECT_EQ(Cell(second, 129, 12), haveObject ? "2560" : "0");

  // A row drawn first after scrolling still shows its gaps against the row above.
  CListModel model;
  model.SetSource(&list);
  model.SetFirstVisible(100);
  const std::vector<ViewRow> rows = model.Render(1, kLanguageEnglish);
  const std::string& row100 = rows.back().text;
  const std::string gap = std::to_string(Ms(tsv[100].time) - Ms(tsv[99].time));
  EXPECT_EQ(Cell(row100, 55, 12), gap);
  EXPECT_EQ(Cell(row100, 92, 12), std::to_string((tsv[100].timestamp - tsv[99].timestamp) / 8));
  EXPECT_EQ(Cell(row100, 0, 14), "100");

  CRowLine title;
  list.ColumnTitle(title);
  EXPECT_EQ(Cell(title.Text(), 55, 12), "GAP(ms)");
  EXPECT_EQ(Cell(title.Text(), 104, 12), "Jitter(ms)");
  EXPECT_EQ(Cell(title.Text(), 129, 12), "Bitrate");
  EXPECT_EQ(Cell(title.Text(), 141, 50), "Error Description");

  // An id that names no stream is refused and the page stays.
  EXPECT_FALSE(list.SelectPage(StreamPageId(3, 106)));
  EXPECT_FALSE(list.SelectPage(0x80000001));
  EXPECT_EQ(list.Count(), 150u);
}

TEST(RtpViews, ErrorRowsSummaryAndMarkers) {
  Opened o("g711u-sip-udp-lost-reordered.pcap");
  ASSERT_TRUE(o.ok);
  CView_RTPList list(o.capture, "lost.pcap", kLanguageJapanese);
  EXPECT_EQ(list.ErrorCount(), 9u);  // 7 + 2 sequence errors
  ASSERT_TRUE(list.SelectPage(StreamPageId(1, 106)));
  EXPECT_EQ(list.ErrorCount(), 7u);

  uint64_t errorRow = ~uint64_t{0};
  for (uint64_t i = 0; i < list.Count() && errorRow == ~uint64_t{0}; ++i) {
    RtpPacketEntry e;
    ASSERT_TRUE(list.RowEntry(i, nullptr, &e));
    if (e.errorFlags) errorRow = i;
  }
  ASSERT_NE(errorRow, ~uint64_t{0});
  int rowColour = 0;
  const std::string text = RowText(list, errorRow, &rowColour);
  EXPECT_EQ(rowColour, colour::kListError);
  EXPECT_NE(text.find("シーケンス番号が不連続"), std::string::npos);

  // Markers: the marker colour and "*" as the first character.
  class OneMarker : public CMarkerQuery {
   public:
    explicit OneMarker(uint32_t packet) : packet_(packet) {}
    bool IsMarked(uint64_t, uint32_t packetNumber) const override { return packetNumber == packet_; }
    uint32_t packet_;
  };
  RtpPacketEntry e2;
  ASSERT_TRUE(list.RowEntry(2, nullptr, &e2));
  OneMarker marker(e2.packetNumber);
  list.SetMarkers(&marker);
  const std::string marked = RowText(list, 2, &rowColour);
  EXPECT_EQ(rowColour, colour::kListMarker);
  EXPECT_EQ(marked[0], '*');
  RowText(list, 3, &rowColour);
  EXPECT_EQ(rowColour, colour::kListRow);

  // The summary of a stream page.
  CListModel model;
  model.SetSource(&list);
  const std::vector<ViewRow> rows = model.Render(0, kLanguageJapanese);
  std::string all;
  for (const ViewRow& r : rows) all += r.text + "\n";
  EXPECT_TRUE(rows[0].title);
  EXPECT_EQ(rows[0].text, "  LIST OF RTP PACKET");
  test::ExpectContains(all, {"ファイル名", "lost.pcap", "0 - 149", "127.0.1.20 (30000)", "127.0.1.10 (20000)",
      "Payload Type", "PCMU", "Number of Error Packets"});
  EXPECT_EQ(rows.back().colour, colour::kListTitle);
  EXPECT_NE(rows.back().text.find("エラー内容"), std::string::npos);
}

TEST(RtpViews, MarkerCellAndUdpPayload) {
  // Every packet of the 300-stream capture has the marker bit set (see its tsv).
  // Capture-wide columns: ... Type 80, M 92, Src Addr. 95, Port 112, Payload 120.
  Opened many("many-streams-300.pcap");
  ASSERT_TRUE(many.ok);
  CView_RTPList all(many.capture, "", kLanguageEnglish);
  EXPECT_EQ(Cell(RowText(all, 0), 92, 3), "*");
  Opened o("g711u-sip-udp.pcap");
  ASSERT_TRUE(o.ok);
  CView_RTPList plain(o.capture, "", kLanguageEnglish);
  EXPECT_EQ(Cell(RowText(plain, 0), 92, 3), "");
  EXPECT_EQ(Cell(RowText(plain, 0), 112, 8), "30000");

  // A record cut short (60 bytes of its 160-byte payload missing): the list shows the
  // UDP-derived payload length, not the captured bytes.
  std::vector<Frame> frames = AudioStream(Ip(10, 0, 0, 1), 5000, Ip(10, 0, 0, 2), 6000, 3);
  frames[1].bytes.resize(frames[1].bytes.size() - 60);
  TempFile file(ClassicPcap(frames));
  CRTP_Parser cut;
  ASSERT_EQ(cut.Open(file.Path()), OpenResult::kOk);
  cut.Analyse(nullptr);
  CView_RTPList list(cut, "", kLanguageEnglish);
  ASSERT_EQ(list.Count(), 3u);
  RtpPacketEntry e;
  ASSERT_TRUE(list.RowEntry(1, nullptr, &e));
  EXPECT_EQ(e.capturedPayload, 100u);
  EXPECT_EQ(Cell(RowText(list, 1), 120, 10), "160");
  ASSERT_TRUE(list.SelectPage(StreamPageId(1, StreamCodecType(cut, 0))));
  EXPECT_EQ(Cell(RowText(list, 1), 119, 10), "160");
}

std::string Find(const std::vector<ViewRow>& rows, const std::string& name) {
  for (const ViewRow& r : rows) {
    if (r.text.compare(0, 3 + name.size(), "   " + name) == 0) return r.text;
  }
  return "<missing " + name + ">";
}

TEST(RtpViews, PacketInformationTree) {
  Opened o("g711u-sip-udp.pcap");
  ASSERT_TRUE(o.ok);
  uint64_t row = 0;
  ASSERT_TRUE(FindPacketRow(o.capture.Packets(), 6, row));
  EXPECT_EQ(row, 0u);
  EXPECT_FALSE(FindPacketRow(o.capture.Packets(), 7, row));  // frame 7 is not RTP
  EXPECT_FALSE(FindPacketRow(o.capture.Packets(), 100000, row));
  uint64_t address;
  RtpPacketEntry entry;
  ASSERT_TRUE(FindPacketRow(o.capture.Packets(), 9, row));
  ASSERT_TRUE(o.capture.Packets().Get(row, &address, &entry));

  CFieldTree tree(kLanguageEnglish, FieldColumns{2, 34, 40, 60, 0});
  CView_RTPInfo info(o.capture);
  ASSERT_TRUE(info.Print(address, entry, tree));
  const std::vector<ViewRow>& rows = tree.Rows();
  std::vector<std::string> titles;
  for (const ViewRow& r : rows) {
    if (r.title) titles.push_back(r.text);
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"  RTP PACKET INFORMATION", "  IP(Internet Protocol)",
                                              "  UDP (User Datagram Protocol)", "  RTP Fixed Header Fields"}));
  // Frame 9 of the tsv: 127.0.1.20:30000 -> 127.0.1.10:20000, seq 1313, timestamp 22804637,
  // SSRC 0x2b5e0c11, 160 payload bytes (UDP length 180).
  auto pad = [](std::string s, size_t n) { s.resize(n, ' '); return s; };
  EXPECT_EQ(Find(rows, "Packet Number"), pad("   Packet Number", 60) + "9");
  EXPECT_EQ(Find(rows, "Version"), pad(pad("   Version", 34) + "   4", 40) + pad("0100b", 20) + "4");
  EXPECT_EQ(Find(rows, "Source Address"),
            pad(pad("   Source Address", 34) + "  32", 40) + pad("0x7F000114", 20) + "127.0.1.20");
  EXPECT_EQ(Find(rows, "Destination Port"), pad(pad("   Destination Port", 34) + "  16", 40) + pad("0x4E20", 20) + "20,000");
  EXPECT_EQ(Find(rows, "Length"), pad(pad("   Length", 34) + "  16", 40) + pad("0x00B4", 20) + "180");
  EXPECT_EQ(Find(rows, "version"), pad(pad("   version", 34) + "   2", 40) + pad("10b", 20) + "2");
  EXPECT_EQ(Find(rows, "marker"), pad(pad("   marker", 34) + "   1", 40) + pad("0", 20) + "0");
  EXPECT_EQ(Find(rows, "payload type"), pad(pad("   payload type", 34) + "   7", 40) + pad("0000000b", 20) + "0");
  EXPECT_EQ(Find(rows, "sequence number"), pad(pad("   sequence number", 34) + "  16", 40) + pad("0x0521", 20) + "1,313");
  EXPECT_EQ(Find(rows, "timestamp"), pad(pad("   timestamp", 34) + "  32", 40) + pad("0x015BF89D", 20) + "22,804,637");
  EXPECT_EQ(Find(rows, "SSRC"), pad(pad("   SSRC", 34) + "  32", 40) + pad("0x2B5E0C11", 20) + "0x2B5E0C11");
  char fileAddress[32];
  std::snprintf(fileAddress, sizeof fileAddress, "0x%012llX", static_cast<unsigned long long>(address));
  EXPECT_EQ(Find(rows, "File Address"), pad(pad("   File Address", 34) + "  48", 40) + pad(fileAddress, 20) + fileAddress);

  // On a stream page the stream's group follows.
  CFieldTree streamTree(kLanguageEnglish);
  CView_RTPInfo streamInfo(o.capture, StreamPageId(1, 106));
  ASSERT_TRUE(streamInfo.Print(address, entry, streamTree));
  std::vector<std::string> streamTitles;
  for (const ViewRow& r : streamTree.Rows()) {
    if (r.title) streamTitles.push_back(r.text);
  }
  ASSERT_GE(streamTitles.size(), 5u);
  EXPECT_EQ(streamTitles[4], "  AUDIO STREAM INFORMATION");
  // The capture-wide page has no stream group.
  EXPECT_EQ(titles.size(), 4u);

  // A page's own printer fills the group for the frame that begins in the packet.
  class FramePrinter : public CStreamInfoSource {
   public:
    void PrintFrameInfo(uint32_t frameIndex, CFieldTree& tree) const override {
      tree.Field(1, "frame", 0, kModeDecimal, colour::kField, 0, frameIndex);
    }
  };
  FramePrinter printer;
  streamInfo.SetStreamInfo(&printer);
  RtpPacketEntry withFrame = entry;
  withFrame.frameIndex = 1234;
  CFieldTree framed(kLanguageEnglish, FieldColumns{2, 0, 0, 20, 0});
  ASSERT_TRUE(streamInfo.Print(address, withFrame, framed));
  EXPECT_EQ(framed.Rows().back().text, "   frame            1,234");
  withFrame.frameIndex = kNoFrame;
  CFieldTree unframed;
  ASSERT_TRUE(streamInfo.Print(address, withFrame, unframed));
  EXPECT_EQ(unframed.Rows().back().text, "  AUDIO STREAM INFORMATION");

  // A record that cannot be read again: only the first group, and a failure.
  RtpPacketEntry beyond = entry;
  CFieldTree bad;
  EXPECT_FALSE(info.Print(o.capture.FileSize() - 10, beyond, bad));
  EXPECT_EQ(bad.Rows().size(), 3u);
}

TEST(RtpViews, PacketInformationFromPcapng) {
  // Enhanced Packet Blocks put the frame 28 bytes into the record.
  Opened o("g711u-sip-udp-usec.pcapng");
  ASSERT_TRUE(o.ok);
  const std::vector<TsvRow> tsv = ReadTsv("g711u-sip-udp-usec.pcapng");
  ASSERT_FALSE(tsv.empty());
  uint64_t row, address;
  RtpPacketEntry entry;
  ASSERT_TRUE(FindPacketRow(o.capture.Packets(), tsv[3].frame, row));
  ASSERT_TRUE(o.capture.Packets().Get(row, &address, &entry));
  CFieldTree tree(kLanguageEnglish, FieldColumns{2, 0, 0, 40, 0});
  ASSERT_TRUE(CView_RTPInfo(o.capture).Print(address, entry, tree));
  const std::string seq = Find(tree.Rows(), "sequence number");
  const std::string ts = Find(tree.Rows(), "timestamp");
  EXPECT_EQ(seq.substr(40), FormatDecimal(tsv[3].seq));
  EXPECT_EQ(ts.substr(40), FormatDecimal(tsv[3].timestamp));
}

}  // namespace
}  // namespace fennik
