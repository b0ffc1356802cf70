// RTCP reports and RFC 4733 telephone events from captures of real RTP stacks
// (tests/data/quality/, scripts/make-quality-captures) against tshark's fields of the same
// packets (CAPTURE.rtcp.tsv, CAPTURE.rtpevent.tsv), and RFC 3550 A.2 validation on a real
// compound packet bent out of shape.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/RtcpReports.h"
#include "capture/TelephoneEvents.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

const std::string kQuality = std::string(FENNIK_TEST_DATA) + "/quality/";

// A tshark -T fields -E header=y file: one map from field name to text per row.
std::vector<std::map<std::string, std::string>> ReadFields(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells;
    std::stringstream split(line);
    for (std::string cell; std::getline(split, cell, '\t');) cells.push_back(cell);
    if (names.empty()) {
      names = cells;
      continue;
    }
    std::map<std::string, std::string>& row = rows.emplace_back();
    for (size_t i = 0; i < names.size(); ++i) row[names[i]] = i < cells.size() ? cells[i] : "";
  }
  return rows;
}

// The n-th value of a comma-aggregated field as a number (decimal, or hex with 0x).
double Value(const std::string& list, size_t n = 0) {
  std::stringstream split(list);
  std::string cell;
  for (size_t i = 0; i <= n; ++i) {
    if (!std::getline(split, cell, ',')) return NAN;
  }
  return static_cast<double>(std::stoll(cell, nullptr, 0));
}

std::unique_ptr<CRTP_Parser> Analysed(const std::string& path) {
  auto c = std::make_unique<CRTP_Parser>();
  EXPECT_EQ(c->Open(path), OpenResult::kOk);
  c->Analyse(nullptr);
  return c;
}

TEST(Rtcp, ReportsEqualTshark) {
  const auto c = Analysed(kQuality + "rtcp-ffmpeg-pcmu.pcap");
  const auto rows = ReadFields(kQuality + "rtcp-ffmpeg-pcmu.pcap.rtcp.tsv");
  ASSERT_EQ(rows.size(), c->Rtcp().Compounds());
  ASSERT_EQ(c->Streams().size(), 1u);  // the RTP list: the u-law stream only
  EXPECT_EQ(c->Streams()[0].packets + rows.size(), c->Walk().packets);
  int reports = 0, roundTrips = 0, voip = 0;
  const std::vector<RtcpEntry> entries = c->Rtcp().Entries();
  for (const auto& row : rows) {
    SCOPED_TRACE("frame " + row.at("frame.number"));
    std::vector<const RtcpEntry*> packets;
    for (const RtcpEntry& e : entries) {
      if (e.packetNumber == std::stoul(row.at("frame.number"))) packets.push_back(&e);
    }
    std::string types;
    for (const RtcpEntry* e : packets) types += (types.empty() ? "" : ",") + std::to_string(e->packetType);
    ASSERT_EQ(types, row.at("rtcp.pt"));
    const RtcpEntry& first = *packets[0];
    EXPECT_EQ(first.ssrc, Value(row.at("rtcp.senderssrc")));
    EXPECT_EQ(first.streamIndex, first.packetType == kRtcpSr ? 0 : -1);
    EXPECT_EQ(packets[1]->chunks.at(0).cname, row.at("rtcp.sdes.text"));
    // Our value against tshark's field (its n-th comma-joined value).
    using Check = std::tuple<double, std::string, size_t>;
    auto compare = [&](std::initializer_list<Check> checks) {
      for (const auto& [ours, field, n] : checks) EXPECT_EQ(ours, Value(row.at(field), n)) << field;
    };
    if (first.packetType == kRtcpSr) {
      compare({{first.ntpTimestamp >> 32, "rtcp.timestamp.ntp.msw", 0},
               {first.ntpTimestamp & 0xFFFFFFFFu, "rtcp.timestamp.ntp.lsw", 0},
               {first.rtpTimestamp, "rtcp.timestamp.rtp", 0}, {first.senderPackets, "rtcp.sender.packetcount", 0},
               {first.senderOctets, "rtcp.sender.octetcount", 0}});
      continue;
    }
    ASSERT_EQ(first.reports.size(), 1u);
    const RtcpReportBlock& r = first.reports[0];
    EXPECT_EQ(r.sourceSsrc, Value(row.at("rtcp.ssrc.identifier")));
    EXPECT_EQ(r.streamIndex, 0);
    compare({{r.fractionLost, "rtcp.ssrc.fraction", 0}, {r.cumulativeLost, "rtcp.ssrc.cum_nr", 0},
             {r.extendedHighestSequence, "rtcp.ssrc.high_seq", 0}, {r.jitter, "rtcp.ssrc.jitter", 0},
             {r.lsr, "rtcp.ssrc.lsr", 0}, {r.dlsr, "rtcp.ssrc.dlsr", 0}});
    ++reports;
    // tshark prints whole milliseconds of the same difference (arrival of the report minus
    // arrival of the SR minus DLSR).
    EXPECT_EQ(r.haveRoundTrip, !row.at("rtcp.roundtrip-delay").empty());
    if (r.haveRoundTrip) {
      EXPECT_NEAR(r.roundTripMs, Value(row.at("rtcp.roundtrip-delay")), 1.0);
      ++roundTrips;
    }
    if (packets.size() < 3 || packets[2]->packetType != kRtcpXr) continue;
    const RtcpEntry& xr = *packets[2];
    std::string blocks;
    for (uint8_t t : xr.xrBlockTypes) blocks += (blocks.empty() ? "" : ",") + std::to_string(t);
    EXPECT_EQ(blocks, row.at("rtcp.xr.bt"));
    ASSERT_EQ(xr.voipMetrics.size(), 1u);
    const RtcpVoipMetrics& m = xr.voipMetrics[0];
    EXPECT_EQ(m.streamIndex, 0);
    const std::string v = "rtcp.xr.voipmetrics.";
    compare({{m.lossRate, "rtcp.ssrc.fraction", 1}, {m.discardRate, "rtcp.ssrc.discarded", 0},
             {m.burstDensity, (v + "burstdensity"), 0}, {m.gapDensity, (v + "gapdensity"), 0},
             {m.burstDuration, (v + "burstduration"), 0}, {m.gapDuration, (v + "gapduration"), 0},
             {m.endSystemDelay, (v + "esdelay"), 0}, {m.signalLevel, (v + "signallevel"), 0},
             {m.noiseLevel, (v + "noiselevel"), 0}, {m.gmin, (v + "gmin"), 0},
             {m.rFactor, (v + "rfactor"), 0}, {m.jbNominal, (v + "jbnominal"), 0},
             {m.jbMaximum, (v + "jbmax"), 0}, {m.jbAbsMax, (v + "jbabsmax"), 0}});
    ++voip;
  }
  EXPECT_GE(reports, 10);
  EXPECT_GE(roundTrips, 10);
  EXPECT_GE(voip, 9);
  EXPECT_EQ(c->Rtcp().Invalid(), 0u);
}

// RFC 3550 A.2 on the receiver's RR + SDES + XR compound (fuzz seed rr-sdes-xr: a 2-byte
// length, then the datagram as captured).
TEST(Rtcp, ValidationAfterRfc3550A2) {
  const std::vector<uint8_t> seed = test::ReadFileBytes(std::string(FENNIK_TEST_DATA) + "/../../fuzz/seeds/rtcp/rr-sdes-xr");
  ASSERT_GT(seed.size(), 40u);
  const std::vector<uint8_t> good(seed.begin() + 2, seed.end());
  const uint32_t rr = 4u * (good[3] + 1u);  // the RR's size: the SDES starts there
  auto parse = [](std::vector<uint8_t> bytes) {
    std::vector<RtcpEntry> out;
    const bool ok = ParseRtcpCompound(bytes.data(), static_cast<uint32_t>(bytes.size()), RtcpEntry{}, out);
    EXPECT_EQ(ok, !out.empty());
    return out.size();
  };
  EXPECT_EQ(parse(good), 3u);
  auto bent = [&](auto change) {
    std::vector<uint8_t> b = good;
    change(b);
    return parse(b);
  };
  EXPECT_EQ(bent([](auto& b) { b[0] |= 0x20; }), 0u);                // padding on the first packet
  EXPECT_EQ(bent([](auto& b) { b[1] = kRtcpSdes; }), 0u);            // first packet not SR/RR
  EXPECT_EQ(bent([&](auto& b) { b[rr] = 0x41; }), 0u);               // version 1 inside
  EXPECT_EQ(bent([&](auto& b) { b[rr + 3] += 1; }), 0u);             // lengths overrun the datagram
  EXPECT_EQ(bent([](auto& b) { b.resize(b.size() - 4); }), 0u);      // cut short
  EXPECT_EQ(bent([](auto& b) { b.insert(b.end(), 4, 0); }), 0u);     // octets after the last packet
  EXPECT_EQ(bent([&](auto& b) { b[rr] |= 0x20; }), 0u);              // padding before the last packet
  // Padding on the last packet: its length and the count in the final octet agree.
  EXPECT_EQ(bent([](auto& b) {
              size_t last = 0;
              for (size_t at = 0; at < b.size(); at += 4u * ((b[at + 2] << 8 | b[at + 3]) + 1u)) last = at;
              b[last] |= 0x20;
              b[last + 3] += 1;
              b.insert(b.end(), {0, 0, 0, 4});
            }),
            3u);
}

TEST(TelephoneEvents, DigitsEqualTshark) {
  // The SIPp call describes PT 101 as telephone-event; the other capture carries PT 101 key
  // presses that no description names (tshark told with -o rtpevent.event_payload_type_value).
  for (const std::string& name : {std::string(kQuality) + "dtmf-sipp.pcap",
                                 std::string(FENNIK_TEST_DATA) + "/captures/call-events-cn-dup-ext.pcap"}) {
    SCOPED_TRACE(name);
    const std::string base = name.substr(name.rfind('/') + 1);
    const auto rows = ReadFields(kQuality + base + ".rtpevent.tsv");
    ASSERT_FALSE(rows.empty());
    // One event per timestamp, in order of the first packet: first packet, timestamp, code,
    // longest duration, last volume, end seen, packets, end packets.
    std::vector<std::array<uint32_t, 8>> expected, got;
    for (const auto& row : rows) {
      const auto ts = static_cast<uint32_t>(Value(row.at("rtp.timestamp")));
      if (expected.empty() || expected.back()[1] != ts) {
        expected.push_back({static_cast<uint32_t>(Value(row.at("frame.number"))), ts,
                            static_cast<uint32_t>(Value(row.at("rtpevent.event_id"))), 0, 0, 0, 0, 0});
      }
      auto& e = expected.back();
      const uint32_t end = row.at("rtpevent.end_of_event") == "1";
      e[3] = std::max(e[3], static_cast<uint32_t>(Value(row.at("rtpevent.duration"))));
      e[4] = static_cast<uint32_t>(Value(row.at("rtpevent.volume")));
      e[5] |= end, e[6] += 1, e[7] += end;
    }
    const auto c = Analysed(name);
    for (const TelephoneEvent& e : c->TelephoneEvents().Events()) {
      got.push_back({e.firstPacketNumber, e.rtpTimestamp, e.event, e.duration, e.volume, e.end, e.packets, e.endPackets});
      EXPECT_EQ(e.fromSdp, base == "dtmf-sipp.pcap");
      EXPECT_DOUBLE_EQ(e.DurationMs(), e.duration / 8.0);
    }
    EXPECT_EQ(got, expected);
  }
}

TEST(TelephoneEvents, WatchedPayloadTypeRuledOutByItsPackets) {
  // Without a description, a payload type is dropped at its first packet that breaks the
  // format, with what it had gathered.
  using Mode = TelephoneEventTable::Mode;
  const uint8_t digit[] = {5, 10, 0, 160};
  const uint8_t shorter[] = {5, 10, 0, 80};
  const uint8_t end[] = {5, 0x80 | 10, 1, 64};
  const uint8_t notEnded[] = {5, 10, 1, 64};
  const uint8_t highCode[] = {40, 10, 0, 0};
  const uint8_t reserved[] = {5, 0x40, 0, 0};
  const uint8_t eight[] = {5, 10, 0, 160, 5, 10, 0, 160};
  struct Case { const uint8_t* second; uint32_t length; size_t events; } cases[] = {
      {end, 4, 1}, {shorter, 4, 0}, {highCode, 4, 0}, {reserved, 4, 0}, {eight, 8, 0}};
  for (const Case& k : cases) {
    TelephoneEventTable t;
    t.SetMode(0, 101, Mode::kWatched, 0);
    t.OnPacket(0, 101, 1, 800, 1, 0, digit, 4);
    t.OnPacket(0, 101, 1, 800, 2, 20000, k.second, k.length);
    EXPECT_EQ(t.Events().size(), k.events);
    EXPECT_EQ(t.ModeOf(0, 101), k.events ? Mode::kWatched : Mode::kRejected);
  }
  // After the end packet only copies of it; described payload types keep what comes.
  for (Mode mode : {Mode::kWatched, Mode::kSdp}) {
    TelephoneEventTable t;
    t.SetMode(0, 101, mode, 16000);
    t.OnPacket(0, 101, 1, 800, 1, 0, end, 4);
    t.OnPacket(0, 101, 1, 800, 2, 0, notEnded, 4);
    ASSERT_EQ(t.Events().size(), mode == Mode::kSdp ? 1u : 0u);
    if (mode == Mode::kSdp) {
      EXPECT_DOUBLE_EQ(t.Events()[0].DurationMs(), 320 / 16.0);
    }
  }
  EXPECT_EQ(TelephoneEventTable().ModeOf(0, 8), Mode::kRejected);  // static types never
}

}  // namespace
}  // namespace fennik
