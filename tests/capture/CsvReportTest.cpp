// The CSV report's lines for the capture-wide and the per-stream lists.
#include "capture/CsvReport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "tests/capture/CaptureBuilder.h"

namespace fennik {
namespace {

using namespace fennik::test;

const uint32_t kA = Ip(192, 168, 1, 10), kB = Ip(192, 168, 1, 20);

class StringOutput : public CsvOutput {
 public:
  bool Write(const char* data, size_t size) override {
    text.append(data, size);
    return true;
  }
  std::string text;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CsvReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 5 packets of PCMU, 20 ms apart except the 4th (3 ms late), with packet 3 lost.
    auto frames = AudioStream(kA, 4000, kB, 5000, 6, 1'700'000'000'000'000);
    frames.erase(frames.begin() + 2);
    frames[2].timestampUs += 3000;
    file_ = std::make_unique<TempFile>(ClassicPcap(frames));
    ErrorList::Instance().Clear();
    ASSERT_EQ(capture_.Open(file_->Path()), OpenResult::kOk);
    capture_.Analyse(nullptr);
  }
  std::string Report(uint32_t kind, int start, int end, int language = 0) {
    CsvRequest r;
    r.listKind = kind;
    r.start = start;
    r.end = end;
    r.language = language;
    StringOutput out;
    EXPECT_TRUE(WriteCsvReport(capture_, r, out));
    return out.text;
  }
  std::unique_ptr<TempFile> file_;
  CRTP_Parser capture_;
};

TEST_F(CsvReportTest, CaptureWideList) {
  auto lines = Lines(Report(0, 0, 100));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0],
            "No.,ADDRESS,Packet No.,Cap Time,Seq No.,RTP Time,Type,Src Addr.,Port,Payload,"
            "Error Description");
  // Row 0: record at offset 24; RTP time 8000 / 8000 Hz = 1 s.
  EXPECT_EQ(lines[1], "        0,0x0000000018,         1,  0:00:00.000,     100,  0:00:01.000,"
                      "PCMU,192.168.1.10,  4000,     160,");
  EXPECT_EQ(lines[3], "        2,0x00000001E4,         3,  0:00:00.063,     103,  0:00:01.060,"
                      "PCMU,192.168.1.10,  4000,     160,The sequence number is discrete.");
}

TEST_F(CsvReportTest, StreamListWithGapsJitterAndBitrate) {
  auto lines = Lines(Report(1 | (106u << 16), 0, 4));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0],
            "No.,ADDRESS,Packet No.,Cap Time,GAP(ms),Seq No.,RTP Time,GAP(ms),Jitter(ms),Payload,"
            "Bitrate,Error Description");
  // No stream class is registered for PCMU here, so the bit rate is 0.
  EXPECT_EQ(lines[1], "        0,0x0000000018,         1,  0:00:00.000,,     100,  0:00:01.000,,,"
                      "     160,         0,");
  EXPECT_EQ(lines[3], "        2,0x00000001E4,         3,  0:00:00.063,        43,     103,"
                      "  0:00:01.060,        40,         3,     160,         0,"
                      "The sequence number is discrete.");
  EXPECT_EQ(lines[4], "        3,0x00000002CA,         4,  0:00:00.080,        17,     104,"
                      "  0:00:01.080,        20,        -3,     160,         0,");
}

TEST_F(CsvReportTest, FirstWrittenRowHasNoGapsWhateverItsIndex) {
  auto lines = Lines(Report(1, 3, 3));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "        3,0x00000002CA,         4,  0:00:00.080,,     104,  0:00:01.080,,,"
                      "     160,         0,");
}

TEST_F(CsvReportTest, MissingRowsAreSkipped) {
  EXPECT_EQ(Lines(Report(0, -5, 1)).size(), 3u);
  EXPECT_EQ(Lines(Report(0, 3, 1000)).size(), 3u);
  EXPECT_EQ(Lines(Report(1 | (106u << 16), 10, 20)).size(), 1u);
  EXPECT_EQ(Lines(Report(7, 0, 20)).size(), 1u);  // unknown stream id
}

TEST_F(CsvReportTest, JapaneseTextsAreShiftJis) {
  std::string text = Report(0, 0, 2, 1);
  EXPECT_NE(text.find("Payload,\x83\x47\x83\x89\x81\x5B\x93\xE0\x97\x65\n"), std::string::npos);
  // シーケンス番号が不連続
  EXPECT_NE(text.find(",\x83\x56\x81\x5B\x83\x50\x83\x93\x83\x58\x94\xD4\x8D\x86\x82\xAA"
                      "\x95\x73\x98\x41\x91\xB1\n"),
            std::string::npos);
}

TEST(CsvHeader, VideoCodecsAddTheirFrameColumns) {
  EXPECT_EQ(CsvHeader(3 | (11u << 16), 0),
            "No.,ADDRESS,Packet No.,Cap Time,GAP(ms),Seq No.,RTP Time,GAP(ms),Jitter(ms),Payload,"
            "Bitrate,SIZE,FRAME,POC,IPB,IDR,REF,FLD,SPS,PPS,Error Description\n");
  EXPECT_NE(CsvHeader(1 | (6u << 16), 0).find("Bitrate,SIZE,IPB,tr,Error"), std::string::npos);
  EXPECT_NE(CsvHeader(1 | (28u << 16), 1).find("Bitrate,SIZE,IPB,エラー内容\n"), std::string::npos);
}

TEST_F(CsvReportTest, FileWriting) {
  CsvRequest r;
  r.listKind = 0;
  r.start = 0;
  r.end = 10;
  r.fileName = file_->Path() + ".csv";
  EXPECT_EQ(WriteCsvFile(capture_, r), 1);
  std::ifstream in(r.fileName);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), Report(0, 0, 10));
  std::remove(r.fileName.c_str());

  r.fileName = "/nonexistent-dir/out.csv";
  EXPECT_EQ(WriteCsvFile(capture_, r), 0);
  r.fileName = "/dev/full";  // every write fails: reported, not claimed as success
  EXPECT_EQ(WriteCsvFile(capture_, r), 0);
}

}  // namespace
}  // namespace fennik
