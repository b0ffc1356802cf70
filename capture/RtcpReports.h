// RTCP (RFC 3550 6, RFC 3611) found during the analysis pass: compound packets validated as
// RFC 3550 A.2 does, each packet of a valid compound one row of the RTCP table (sender and
// receiver reports with their report blocks, SDES chunks with their CNAME, BYE, APP, and
// extended reports with the VoIP metrics block decoded). Report blocks get the round-trip
// time from LSR/DLSR when the sender report they refer to was seen in the capture, and the
// RTP stream of their source SSRC once the pass is over. Plain structs, for the CLI and
// the desktop dialog alike.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

namespace fennik {

enum RtcpPacketType : uint8_t {
  kRtcpSr = 200,
  kRtcpRr = 201,
  kRtcpSdes = 202,
  kRtcpBye = 203,
  kRtcpApp = 204,
  kRtcpRtpfb = 205,  // RFC 4585 feedback: listed, not decoded
  kRtcpPsfb = 206,
  kRtcpXr = 207,
};

// The text name of an RTCP packet type ("SR", "RR", ...; "PT 210" for others).
std::string RtcpTypeName(uint8_t packetType);
// The name of an RFC 3611 report block type ("VoIP Metrics", ...; "BT 42" for others).
std::string XrBlockTypeName(uint8_t blockType);

// One reception report block (RFC 3550 6.4.1).
struct RtcpReportBlock {
  uint32_t sourceSsrc = 0;
  uint8_t fractionLost = 0;        // in 1/256
  int32_t cumulativeLost = 0;      // 24-bit signed
  uint32_t extendedHighestSequence = 0;
  uint32_t jitter = 0;             // in timestamp units
  uint32_t lsr = 0;                // middle 32 bits of the last SR's NTP time, 0: none
  uint32_t dlsr = 0;               // in 1/65536 s
  bool haveRoundTrip = false;      // the SR named by LSR was seen earlier in the capture
  double roundTripMs = 0;          // arrival of this report - arrival of that SR - DLSR
  int32_t streamIndex = -1;        // RTP stream whose SSRC is sourceSsrc (-1: none)
};

// RFC 3611 4.7 VoIP metrics block (block type 7), fields as sent.
struct RtcpVoipMetrics {
  uint32_t sourceSsrc = 0;
  uint8_t lossRate = 0, discardRate = 0;          // in 1/256
  uint8_t burstDensity = 0, gapDensity = 0;       // in 1/256
  uint16_t burstDuration = 0, gapDuration = 0;    // ms
  uint16_t roundTripDelay = 0, endSystemDelay = 0;  // ms
  int8_t signalLevel = 0, noiseLevel = 0;         // dBm0, 127: unavailable
  uint8_t rerl = 0, gmin = 0;
  uint8_t rFactor = 0, extRFactor = 0;            // 127: unavailable
  uint8_t mosLq = 0, mosCq = 0;                   // MOS x 10, 127: unavailable
  uint8_t rxConfig = 0;
  uint16_t jbNominal = 0, jbMaximum = 0, jbAbsMax = 0;  // ms
  int32_t streamIndex = -1;
};

struct RtcpSdesChunk {
  uint32_t ssrc = 0;
  std::string cname;  // the CNAME item (empty when the chunk has none)
};

// The fixed fields of one RTCP packet of a valid compound packet.
struct RtcpPacketInfo {
  uint32_t packetNumber = 0;       // the capture record (1-based)
  uint32_t compound = 0;           // packets of one compound share this number
  int64_t captureUs = 0;           // capture time, microseconds since the Unix epoch
  uint32_t sourceAddress = 0, destinationAddress = 0;  // as PacketRecord holds them
  uint16_t sourcePort = 0, destinationPort = 0;
  uint8_t packetType = 0;
  uint8_t count = 0;               // RC, SC or the APP / feedback subtype
  uint16_t length = 0;             // octets of this packet, header included
  uint32_t ssrc = 0;               // sender SSRC (SR, RR, XR, APP, feedback); first chunk/source otherwise
  int32_t streamIndex = -1;        // RTP stream sent by `ssrc` (-1: none)
  // SR sender info.
  uint64_t ntpTimestamp = 0;
  uint32_t rtpTimestamp = 0;
  uint32_t senderPackets = 0, senderOctets = 0;
};

// One RTCP packet of a valid compound packet with its lists.
struct RtcpEntry : RtcpPacketInfo {
  std::vector<RtcpReportBlock> reports;   // SR, RR
  std::vector<RtcpSdesChunk> chunks;      // SDES
  std::vector<uint32_t> sources;          // BYE
  std::string text;                       // BYE reason, APP name
  std::vector<uint8_t> xrBlockTypes;      // XR: every block's type, in order
  std::vector<RtcpVoipMetrics> voipMetrics;  // XR block type 7
};

// Parses one UDP payload as an RTCP compound packet. Returns false (and leaves `out`
// unchanged) when it is not valid RTCP after RFC 3550 A.2: the first packet an SR or RR
// without padding, every packet version 2, only the last one padded, and the packets'
// lengths adding up to the datagram exactly.
bool ParseRtcpCompound(const uint8_t* data, uint32_t length, const RtcpEntry& header,
                       std::vector<RtcpEntry>& out);

// The RTCP table of a capture.
class RtcpTable {
 public:
  void Clear();
  // The analysis pass's hook for a UDP payload whose second octet is an RTCP packet type:
  // `header` carries the record's number, time and addresses. Invalid compounds are counted.
  void OnPacket(const uint8_t* data, uint32_t length, const RtcpEntry& header);
  // After the pass: links SSRCs to RTP streams (`ssrcOfStream[i]` the SSRC of stream i).
  void MatchStreams(const std::vector<uint32_t>& ssrcOfStream);

  size_t Size() const { return rows_.size(); }
  // The packet of row `i` with its lists, and every row: built from the packed table.
  RtcpEntry Entry(size_t i) const;
  std::vector<RtcpEntry> Entries() const;
  uint32_t Compounds() const { return compounds_; }
  uint32_t Invalid() const { return invalid_; }

 private:
  // A row holds the fixed fields and where its items start in the lists below; they end
  // where the next row's start. Long captures carry thousands of reports, mostly without
  // any list, so a row stays near a quarter of an RtcpEntry and nothing is allocated per row.
  struct Row {
    RtcpPacketInfo info;
    uint32_t reports, chunks, sources, text, xrBlockTypes, voipMetrics;
  };
  void Store(const RtcpEntry& e);

  // The two lists that grow with every report grow in fixed chunks, without doubling.
  std::deque<Row> rows_;
  std::deque<RtcpReportBlock> reports_;
  std::vector<RtcpSdesChunk> chunks_;
  std::vector<uint32_t> sources_;
  std::string text_;
  std::vector<uint8_t> xrBlockTypes_;
  std::vector<RtcpVoipMetrics> voipMetrics_;
  std::vector<RtcpEntry> parsed_;  // the compound packet being added
  uint32_t compounds_ = 0;
  uint32_t invalid_ = 0;
  // Capture time of each SR seen, by (sender SSRC, middle 32 bits of its NTP time).
  std::unordered_map<uint64_t, int64_t> senderReports_;
};

}  // namespace fennik
