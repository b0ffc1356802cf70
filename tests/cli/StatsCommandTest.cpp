// fennik-cli stats: the per-stream statistics as text and JSON on the capture with three lost
// and two reordered packets (tests/data/captures/g711u-sip-udp-lost-reordered.pcap).
#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using fennik::test::Cli;

const std::string kLost = std::string(FENNIK_TEST_DATA) + "/captures/g711u-sip-udp-lost-reordered.pcap";

TEST(StatsCommand, JsonCarriesTheFiguresPerStream) {
  const auto r = Cli("stats " + kLost + " --json");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("{\n  \"streams\": [", 0), 0u) << r.out;
  // Stream 1 (127.0.1.20 -> .10): reordered only; stream 2: three lost of 150.
  EXPECT_NE(r.out.find("{\"id\": 1, \"src\": \"127.0.1.20:30000\", \"dst\": \"127.0.1.10:20000\", "
                       "\"ssrc\": \"0x2b5e0c11\", \"clock_rate\": 8000, \"packets\": 150, "
                       "\"expected\": 150, \"lost\": 0, \"loss_percent\": 0.000, \"duplicates\": 0, "
                       "\"out_of_order\": 3, \"sequence_errors\": 7,"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"packets\": 147, \"expected\": 150, \"lost\": 3, \"loss_percent\": 2.000"),
            std::string::npos);
  EXPECT_NE(r.out.find("\"max_delta_ms\": 52.089, \"mean_jitter_ms\": 1.219, \"max_jitter_ms\": 1.894"),
            std::string::npos);
  // Losses 11 (isolated: gap) and 41-42 (a burst of two): gap density 1/148; transitions
  // p = 2/146, q = 2/3 give BurstR 1.470; Ie,eff = 190 / (2/1.470 + 25.1) = 7.181, R 86.020.
  EXPECT_NE(r.out.find("\"burst_density\": 1.0000, \"gap_density\": 0.0068, \"bursts\": 1, "
                       "\"mean_burst_ms\": 40.0, \"mean_gap_ms\": 1480.2, \"burst_r\": 1.470, "
                       "\"r_factor\": 86.020, \"mos\": 4.230, \"jitter_buffer_ms\": 60, \"discarded\": 0,"),
            std::string::npos);
  EXPECT_NE(r.out.find("\"quality_note\": \"r_factor and mos are estimates"), std::string::npos);
}

TEST(StatsCommand, RtcpEventsAndJitterBuffer) {
  // The RTCP table and the events (their fields are compared with tshark's in
  // tests/capture/RtcpEventsTest.cpp): every RR report block names the u-law stream.
  const std::string quality = std::string(FENNIK_TEST_DATA) + "/quality/";
  auto r = Cli("stats " + quality + "rtcp-ffmpeg-pcmu.pcap --json");
  ASSERT_EQ(r.status, 0) << r.err;
  size_t blocks = 0;
  for (size_t at = 0; (at = r.out.find("\"stream\": 1, \"fraction_lost\"", at)) != std::string::npos; ++at) ++blocks;
  EXPECT_EQ(blocks, 11u) << r.out;
  EXPECT_NE(r.out.find("\"blocks\": [\"Receiver Reference Time\", \"VoIP Metrics\"]"), std::string::npos);
  EXPECT_NE(r.out.find("\"rtcp_invalid\": 0,\n  \"events\": []"), std::string::npos);
  r = Cli("stats " + quality + "dtmf-sipp.pcap --json");
  EXPECT_NE(r.out.find("\"event\": 9, \"digit\": \"9\", \"packet\": 15,"), std::string::npos) << r.out;
  // A 1 ms buffer discards in both directions of the reordered call; 0 simulates none.
  r = Cli("stats " + kLost + " --jitter-buffer 1 --json");
  EXPECT_EQ(r.out.find("\"jitter_buffer_ms\": 1, \"discarded\": 0,"), std::string::npos) << r.out;
  EXPECT_EQ(Cli("stats " + kLost + " --jitter-buffer 0").out.find("jitter buffer"), std::string::npos);
  for (const char* bad : {"-5", "x", "20000"}) EXPECT_EQ(Cli("stats " + kLost + " --jitter-buffer " + bad).status, 2);
}

TEST(StatsCommand, TextAndErrors) {
  auto r = Cli("stats " + kLost);
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("packets 147  expected 150  lost 3 (2.00%)"), std::string::npos) << r.out;
  r = Cli("stats /nonexistent.pcap --json");
  EXPECT_NE(r.status, 0);
  EXPECT_TRUE(r.out.empty());
}

}  // namespace
}  // namespace fennik
