// fennik-cli show --packet and hexdump run as a user would, on committed captures
// (tests/data/captures, see its README for how each was made).
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

using fennik::test::Cli;
using fennik::test::CommandRun;

std::string Data(const std::string& name) { return fennik::test::TestData(name); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

const char kHeader[] = "ADDRESS:      +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F ASCII";

TEST(ViewCommands, HexdumpFirstWindow) {
  // sample.pcap is 72,083 bytes: the default is one 16,384-byte window, 1,024 full lines.
  CommandRun r = Cli("hexdump " + Data("sample.pcap"));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 1u + 1024u);
  EXPECT_EQ(lines[0], kHeader);
  // The classic pcap file header: magic D4 C3 B2 A1, version 2.4, zone 0, ...
  EXPECT_EQ(lines[1], "000000000000  D4 C3 B2 A1 02 00 04 00 00 00 00 00 00 00 00 00 ................");
  EXPECT_EQ(lines[1024].substr(0, 12), "000000003FF0");

  // A range across the window boundary ends in a short line of 4 bytes.
  CommandRun part = Cli("hexdump " + Data("sample.pcap") + " --offset 0x3FF0 --length 36");
  ASSERT_EQ(part.status, 0) << part.err;
  const std::vector<std::string> p = Lines(part.out);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p[1].substr(0, 12), "000000003FF0");
  EXPECT_EQ(p[2].substr(0, 12), "000000004000");
  EXPECT_EQ(p[3].substr(0, 12), "000000004010");
  EXPECT_EQ(p[3].size(), 13u + 4 * 3 + 12 * 3 + 1 + 4);
}

TEST(ViewCommands, HexdumpShortLastLine) {
  // rtp-edge-cases.pcap is 4,667 bytes; its last 5 bytes are CB CC CD CE CF.
  CommandRun r = Cli("hexdump " + Data("captures/rtp-edge-cases.pcap") + " --offset 4662");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "000000001236  CB CC CD CE CF" + std::string(11 * 3, ' ') + " .....");

  // The whole file: 291 full lines and one of 11 bytes, whatever the requested length.
  CommandRun all = Cli("hexdump " + Data("captures/rtp-edge-cases.pcap") + " --length 100000");
  ASSERT_EQ(all.status, 0) << all.err;
  const std::vector<std::string> a = Lines(all.out);
  ASSERT_EQ(a.size(), 1u + 292u);
  EXPECT_EQ(a.back().substr(0, 12), "000000001230");
  EXPECT_EQ(a.back().size(), 13u + 16 * 3 + 1 + 11);
  // Every line's text part starts under "ASCII".
  EXPECT_EQ(a[1].size(), a[0].find("ASCII") + 16);
}

TEST(ViewCommands, HexdumpRefusals) {
  const std::string edge = Data("captures/rtp-edge-cases.pcap"), sample = Data("sample.pcap");
  EXPECT_TRUE(Cli("hexdump " + edge + " --offset 4667").out.empty());
  fennik::test::ExpectRefusals({{"hexdump " + edge + " --offset 4667", 1, "beyond the end"},
                                {"hexdump " + sample + " --length 0", 2},
                                {"hexdump " + sample + " --offset -5", 2},
                                {"hexdump " + sample + " --offset 12x", 2},
                                {"hexdump " + Data("no-such-file.pcap"), 1, "Can't open file"},
                                {"hexdump " + Data("captures/README.md"), 1, "Not support file format"}});
}

// The rows of the packet information are compared with tshark's fields in
// tests/capture/RtpViewsTest.cpp; here the tool picks the packet by its number and prints
// every group.
TEST(ViewCommands, ShowPacketFields) {
  CommandRun r = Cli("show " + Data("captures/g711u-sip-udp.pcap") + " --packet 11");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 3u + 13u + 5u + 10u);
  EXPECT_EQ(lines[0], "  RTP PACKET INFORMATION");
  const auto number = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("   Packet Number ");
  });
  ASSERT_NE(number, lines.end());
  EXPECT_TRUE(number->ends_with(" 11")) << *number;
}

TEST(ViewCommands, ShowRefusals) {
  const std::string capture = Data("captures/g711u-sip-udp.pcap");
  fennik::test::ExpectRefusals({{"show " + capture + " --packet 7", 1, "packet 7 is not an RTP packet"},
                                {"show " + capture + " --packet 0", 2},
                                {"show " + capture + " --packet x", 2},
                                {"show " + capture, 2}});
}

}  // namespace
