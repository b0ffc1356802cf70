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
                       "\"r_factor\": 86.020, \"mos\": 4.230}"),
            std::string::npos);
  EXPECT_NE(r.out.find("\"quality_note\": \"r_factor and mos are estimates"), std::string::npos);
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
