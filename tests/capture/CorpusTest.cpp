// Every committed capture (tests/data/captures, made with ffmpeg, tcpdump and dumpcap by
// scripts/make-test-captures) analysed and compared, packet by packet, with tshark's fields
// for it (<capture>.tshark.tsv, written by the same script); dynamic payload types are checked
// against the payload names tshark gives the streams (stream-payloads.tsv).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "sdp/SdpEncodingTable.h"

namespace fennik {
namespace {

namespace fs = std::filesystem;

struct TsharkRow {
  uint32_t frame;
  double timeRelative;
  std::string src, dst;
  uint32_t sport, dport, seq, timestamp, marker, payloadType, payloadLength;
};

std::vector<TsharkRow> ReadTshark(const fs::path& path) {
  std::vector<TsharkRow> rows;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream f(line);
    TsharkRow r;
    std::string ssrc;
    f >> r.frame >> r.timeRelative >> r.src >> r.dst >> r.sport >> r.dport >> r.seq >> r.timestamp >>
        r.marker >> r.payloadType >> ssrc >> r.payloadLength;
    if (f) rows.push_back(r);
  }
  return rows;
}

// Packets the reader counts as RTP that tshark calls RTCP (second byte 205 or 206) are listed
// in the capture's meta file under "reader_rtp_not_in_tsv" as rows of quoted fields.
std::vector<TsharkRow> ReadExtraRows(const fs::path& metaPath) {
  std::ifstream in(metaPath);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  std::vector<TsharkRow> rows;
  size_t at = text.find("\"reader_rtp_not_in_tsv\"");
  if (at == std::string::npos) return rows;
  at = text.find("\"rows\"", at);
  if (at == std::string::npos) return rows;
  size_t end = text.find("]\n}", at);
  std::vector<std::string> fields;
  for (size_t i = text.find('[', at) + 1; i < end && i < text.size(); ++i) {
    if (text[i] == '"') {
      size_t close = text.find('"', i + 1);
      fields.push_back(text.substr(i + 1, close - i - 1));
      i = close;
    } else if (text[i] == ']' && !fields.empty()) {
      std::string line;
      for (const std::string& f : fields) line += f + "\t";
      std::istringstream f(line);
      TsharkRow r;
      std::string ssrc;
      f >> r.frame >> r.timeRelative >> r.src >> r.dst >> r.sport >> r.dport >> r.seq >>
          r.timestamp >> r.marker >> r.payloadType >> ssrc >> r.payloadLength;
      if (f) rows.push_back(r);
      fields.clear();
    }
  }
  return rows;
}

std::vector<fs::path> Captures() {
  std::vector<fs::path> list;
  for (const auto& e : fs::directory_iterator(fs::path(FENNIK_TEST_DATA) / "captures")) {
    const std::string ext = e.path().extension();
    if ((ext == ".pcap" || ext == ".pcapng") && fs::exists(e.path().string() + ".tshark.tsv")) {
      list.push_back(e.path());
    }
  }
  std::sort(list.begin(), list.end());
  return list;
}

TEST(Corpus, TheCorpusIsThere) { EXPECT_GE(Captures().size(), 10u); }

TEST(Corpus, EveryRtpPacketAgreesWithTshark) {
  for (const fs::path& path : Captures()) {
    SCOPED_TRACE(path.filename().string());
    std::vector<TsharkRow> expected = ReadTshark(path.string() + ".tshark.tsv");
    for (const TsharkRow& extra : ReadExtraRows(path.string() + ".meta.json")) expected.push_back(extra);
    std::sort(expected.begin(), expected.end(),
              [](const TsharkRow& a, const TsharkRow& b) { return a.frame < b.frame; });
    ErrorList::Instance().Clear();
    CRTP_Parser capture;
    ASSERT_EQ(capture.Open(path.string()), OpenResult::kOk);
    capture.Analyse(nullptr);
    // Damaged files stop the walk early and say why; intact files are read to the end.
    const std::string name = path.filename().string();
    const bool damaged = name.find("truncated") != std::string::npos ||
                         name.find("blocklen") != std::string::npos ||
                         name.find("badreclen") != std::string::npos;
    EXPECT_EQ(capture.Walk().end != WalkEnd::kEndOfFile, damaged) << WalkEndText(capture.Walk().end);
    const CPacketTable& packets = capture.Packets();
    ASSERT_EQ(packets.GetCount(), expected.size());
    CRTP_LoadPacket decoder;
    for (size_t i = 0; i < expected.size(); ++i) {
      const TsharkRow& t = expected[i];
      uint64_t address;
      RtpPacketEntry e{};
      ASSERT_TRUE(packets.Get(i, &address, &e));
      const RtpStreamEntry& s = capture.Streams()[e.streamIndex];
      ASSERT_EQ(e.packetNumber, t.frame) << "row " << i;
      EXPECT_EQ(FormatIpv4(s.sourceAddress).text, t.src) << "row " << i;
      EXPECT_EQ(FormatIpv4(s.destinationAddress).text, t.dst) << "row " << i;
      EXPECT_EQ(s.sourcePort, t.sport) << "row " << i;
      EXPECT_EQ(s.destinationPort, t.dport) << "row " << i;
      EXPECT_EQ(e.sequenceNumber, t.seq) << "row " << i;
      EXPECT_EQ(e.rtpTimestamp, t.timestamp) << "row " << i;
      EXPECT_EQ(e.marker, t.marker) << "row " << i;
      EXPECT_EQ(e.payloadLength, t.payloadLength) << "row " << i;
      // Capture time in whole milliseconds since the first record.
      EXPECT_LE(std::fabs(e.captureTime - std::floor(t.timeRelative * 1000 + 1e-6)), 1.0)
          << "row " << i << " tshark " << t.timeRelative;

      // The record read again from its file offset decodes to the same packet.
      std::vector<uint8_t> record(e.RecordLength());
      ASSERT_EQ(capture.ReadAt(address, record.data(), e.RecordLength()), e.RecordLength());
      PacketRecord p;
      const uint32_t frameOffset = capture.Format().format == CaptureFormat::kPcap ? 16 : 28;
      EXPECT_EQ(decoder.Decode(record.data(), e.RecordLength(), frameOffset, p, LinkTypeOfCode(e.linkCode), false), e.payloadOffset);
      EXPECT_EQ(p.payloadType, t.payloadType) << "row " << i;
      EXPECT_EQ(p.sequenceNumber, t.seq) << "row " << i;
    }
  }
}

// tshark's payload name of every RTP stream (stream-payloads.tsv, scripts/corpus/stream-
// payloads): for a dynamic payload type the encoding name of the SDP that set the stream up
// (tshark associates SDP with streams on its own), "RTPType-N" when no SDP names it.
std::map<std::string, std::string> ReadStreamPayloads(const std::string& capture) {
  std::map<std::string, std::string> byTuple;  // "src:sport>dst:dport" -> payload
  std::ifstream in(fs::path(FENNIK_TEST_DATA) / "captures" / "stream-payloads.tsv");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() == 7 && f[0] == capture) byTuple[f[1] + ":" + f[2] + ">" + f[3] + ":" + f[4]] = f[6];
  }
  return byTuple;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

TEST(Corpus, DynamicPayloadTypesGetTheCodecOfTheSdpTsharkFinds) {
  size_t compared = 0;
  for (const fs::path& path : Captures()) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    const std::map<std::string, std::string> tshark = ReadStreamPayloads(name);
    // A capture added without running scripts/corpus/stream-payloads has no rows to compare.
    if (tshark.empty()) continue;
    CRTP_Parser capture;
    ASSERT_EQ(capture.Open(path.string()), OpenResult::kOk);
    capture.Analyse(nullptr);
    for (const RtpStreamEntry& s : capture.Streams()) {
      if (s.payloadType < 96) continue;  // static and unassigned types: the static table decides
      const std::string tuple = std::string(FormatIpv4(s.sourceAddress).text) + ":" + std::to_string(s.sourcePort) + ">" +
                                FormatIpv4(s.destinationAddress).text + ":" + std::to_string(s.destinationPort);
      const auto it = tshark.find(tuple);
      ASSERT_NE(it, tshark.end()) << tuple;
      SCOPED_TRACE(tuple + " tshark: " + it->second);
      ++compared;
      if (it->second.starts_with("RTPType-")) {  // no SDP anywhere
        EXPECT_EQ(s.codecType, 0u);
        continue;
      }
      if (const SdpEncoding* row = FindSdpEncoding(it->second)) {
        EXPECT_EQ(s.codecType, row->codecType);
        EXPECT_STREQ(s.encodingName, row->name);
      } else {
        EXPECT_EQ(s.codecType, 0u);
        EXPECT_TRUE(EqualNoCase(s.encodingName, it->second.substr(0, 15)));
      }
    }
  }
  // 8 G.726, 18 L16 (9 calls), H.264, PT 98, 3 of the audio+video call, 3 of the three-stream call.
  EXPECT_GE(compared, 34u);
}

}  // namespace
}  // namespace fennik
