#include "capture/RtcpReports.h"

#include <unordered_map>

#include "base/ByteOrder.h"

namespace fennik {
namespace {

constexpr uint32_t kHeader = 4;        // V/P/count(1) PT(1) length in words - 1 (2)
constexpr uint32_t kReportBlock = 24;
constexpr uint32_t kSenderInfo = 20;   // NTP(8) RTP timestamp(4) packets(4) octets(4)
constexpr uint8_t kSdesCname = 1;
constexpr uint8_t kXrVoipMetrics = 7;
constexpr uint32_t kVoipMetricsBlock = 36;  // header(4) + 8 words

RtcpReportBlock ReadReportBlock(const uint8_t* b) {
  RtcpReportBlock r;
  r.sourceSsrc = ReadBE32(b);
  r.fractionLost = b[4];
  // 24-bit two's complement (RFC 3550 6.4.1: may go negative with duplicates).
  const uint32_t cumulative = (uint32_t{b[5]} << 16) | (uint32_t{b[6]} << 8) | b[7];
  r.cumulativeLost = static_cast<int32_t>(cumulative << 8) >> 8;
  r.extendedHighestSequence = ReadBE32(b + 8);
  r.jitter = ReadBE32(b + 12);
  r.lsr = ReadBE32(b + 16);
  r.dlsr = ReadBE32(b + 20);
  return r;
}

// Report blocks after `at`; false when they do not fit the packet.
bool ReadReports(const uint8_t* p, uint32_t at, uint32_t end, uint32_t count, RtcpEntry& e) {
  if (at + count * kReportBlock > end) return false;
  for (uint32_t k = 0; k < count; ++k) e.reports.push_back(ReadReportBlock(p + at + k * kReportBlock));
  return true;
}

// SDES chunks (RFC 3550 6.5): SSRC, items (type, length, text) up to a null item, then
// padding to the next word. A malformed chunk list keeps the chunks read so far.
void ReadSdes(const uint8_t* p, uint32_t end, uint32_t count, RtcpEntry& e) {
  uint32_t at = kHeader;
  for (uint32_t c = 0; c < count && at + 4 <= end; ++c) {
    RtcpSdesChunk chunk;
    chunk.ssrc = ReadBE32(p + at);
    at += 4;
    bool closed = false;
    while (at < end) {
      const uint8_t type = p[at];
      if (type == 0) {
        at = (at + 4) & ~3u;  // the null item and the padding up to the next word
        closed = true;
        break;
      }
      if (at + 2 > end || at + 2u + p[at + 1] > end) break;
      if (type == kSdesCname && chunk.cname.empty()) {
        chunk.cname.assign(reinterpret_cast<const char*>(p + at + 2), p[at + 1]);
      }
      at += 2u + p[at + 1];
    }
    e.chunks.push_back(std::move(chunk));
    if (!closed) break;
  }
  if (!e.chunks.empty()) e.ssrc = e.chunks.front().ssrc;
}

void ReadBye(const uint8_t* p, uint32_t end, uint32_t count, RtcpEntry& e) {
  uint32_t at = kHeader;
  for (uint32_t k = 0; k < count && at + 4 <= end; ++k, at += 4) e.sources.push_back(ReadBE32(p + at));
  if (!e.sources.empty()) e.ssrc = e.sources.front();
  if (at < end && at + 1u + p[at] <= end) e.text.assign(reinterpret_cast<const char*>(p + at + 1), p[at]);
}

RtcpVoipMetrics ReadVoipMetrics(const uint8_t* b) {
  RtcpVoipMetrics m;
  m.sourceSsrc = ReadBE32(b);
  m.lossRate = b[4];
  m.discardRate = b[5];
  m.burstDensity = b[6];
  m.gapDensity = b[7];
  m.burstDuration = ReadBE16(b + 8);
  m.gapDuration = ReadBE16(b + 10);
  m.roundTripDelay = ReadBE16(b + 12);
  m.endSystemDelay = ReadBE16(b + 14);
  m.signalLevel = static_cast<int8_t>(b[16]);
  m.noiseLevel = static_cast<int8_t>(b[17]);
  m.rerl = b[18];
  m.gmin = b[19];
  m.rFactor = b[20];
  m.extRFactor = b[21];
  m.mosLq = b[22];
  m.mosCq = b[23];
  m.rxConfig = b[24];
  m.jbNominal = ReadBE16(b + 26);
  m.jbMaximum = ReadBE16(b + 28);
  m.jbAbsMax = ReadBE16(b + 30);
  return m;
}

// RFC 3611 3: SSRC of the reporter, then blocks of type(1) type-specific(1) length(2, in
// words after the block header). A block running past the packet ends the list.
void ReadXr(const uint8_t* p, uint32_t end, RtcpEntry& e) {
  uint32_t at = kHeader + 4;
  while (at + 4 <= end) {
    const uint8_t type = p[at];
    const uint32_t size = 4u + 4u * ReadBE16(p + at + 2);
    if (at + size > end) break;
    e.xrBlockTypes.push_back(type);
    if (type == kXrVoipMetrics && size == kVoipMetricsBlock) e.voipMetrics.push_back(ReadVoipMetrics(p + at + 4));
    at += size;
  }
}

// One packet of a compound, `p` at its header and `size` octets long (padding included;
// `padded` when its P bit is set). False when its fixed part does not fit.
bool ReadPacket(const uint8_t* p, uint32_t size, bool padded, RtcpEntry& e) {
  uint32_t end = size;
  if (padded) {
    const uint8_t pad = p[size - 1];
    if (pad == 0 || pad > size - kHeader) return false;
    end = size - pad;
  }
  e.count = p[0] & 0x1F;
  e.packetType = p[1];
  e.length = static_cast<uint16_t>(size);
  switch (e.packetType) {
    case kRtcpSr:
      if (kHeader + 4 + kSenderInfo > end) return false;
      e.ssrc = ReadBE32(p + 4);
      e.ntpTimestamp = (uint64_t{ReadBE32(p + 8)} << 32) | ReadBE32(p + 12);
      e.rtpTimestamp = ReadBE32(p + 16);
      e.senderPackets = ReadBE32(p + 20);
      e.senderOctets = ReadBE32(p + 24);
      return ReadReports(p, kHeader + 4 + kSenderInfo, end, e.count, e);
    case kRtcpRr:
      if (kHeader + 4 > end) return false;
      e.ssrc = ReadBE32(p + 4);
      return ReadReports(p, kHeader + 4, end, e.count, e);
    case kRtcpSdes:
      ReadSdes(p, end, e.count, e);
      return true;
    case kRtcpBye:
      ReadBye(p, end, e.count, e);
      return true;
    case kRtcpApp:
      if (kHeader + 8 > end) return false;
      e.ssrc = ReadBE32(p + 4);
      e.text.assign(reinterpret_cast<const char*>(p + 8), 4);
      return true;
    case kRtcpXr:
      if (kHeader + 4 > end) return false;
      e.ssrc = ReadBE32(p + 4);
      ReadXr(p, end, e);
      return true;
    default:  // feedback and others: the sender SSRC when there is one
      if (kHeader + 4 <= end) e.ssrc = ReadBE32(p + 4);
      return true;
  }
}

}  // namespace

std::string RtcpTypeName(uint8_t type) {
  switch (type) {
    case kRtcpSr: return "SR";
    case kRtcpRr: return "RR";
    case kRtcpSdes: return "SDES";
    case kRtcpBye: return "BYE";
    case kRtcpApp: return "APP";
    case kRtcpRtpfb: return "RTPFB";
    case kRtcpPsfb: return "PSFB";
    case kRtcpXr: return "XR";
    default: return "PT " + std::to_string(type);
  }
}

std::string XrBlockTypeName(uint8_t type) {
  static const char* const kNames[] = {nullptr, "Loss RLE", "Duplicate RLE", "Packet Receipt Times",
                                       "Receiver Reference Time", "DLRR", "Statistics Summary",
                                       "VoIP Metrics"};
  if (type >= 1 && type <= 7) return kNames[type];
  return "BT " + std::to_string(type);
}

bool ParseRtcpCompound(const uint8_t* data, uint32_t length, const RtcpEntry& header,
                       std::vector<RtcpEntry>& out) {
  // RFC 3550 A.2: the first packet is an SR or RR, version 2, without padding.
  if (length < 8 || (data[0] & 0xE0) != 0x80 || (data[1] & 0xFE) != kRtcpSr) return false;
  const size_t first = out.size();
  uint32_t at = 0;
  while (at < length) {
    if (length - at < kHeader || (data[at] >> 6) != 2) break;
    const uint32_t size = 4u * (ReadBE16(data + at + 2) + 1u);
    if (size > length - at) break;
    const bool padded = (data[at] & 0x20) != 0;
    if (padded && at + size != length) break;  // only the last packet may be padded
    RtcpEntry e = header;
    if (!ReadPacket(data + at, size, padded, e)) break;
    out.push_back(std::move(e));
    at += size;
  }
  if (at != length) {
    out.resize(first);
    return false;
  }
  return true;
}

void RtcpTable::Clear() {
  *this = RtcpTable();
}

void RtcpTable::Store(const RtcpEntry& e) {
  // The list offsets are 32-bit: a text that would overflow them is left out (it would
  // take gigabytes of BYE reasons).
  const bool keepText = text_.size() + e.text.size() <= UINT32_MAX;
  rows_.push_back(Row{e, static_cast<uint32_t>(reports_.size()), static_cast<uint32_t>(chunks_.size()),
                      static_cast<uint32_t>(sources_.size()), static_cast<uint32_t>(text_.size()),
                      static_cast<uint32_t>(xrBlockTypes_.size()), static_cast<uint32_t>(voipMetrics_.size())});
  reports_.insert(reports_.end(), e.reports.begin(), e.reports.end());
  chunks_.insert(chunks_.end(), e.chunks.begin(), e.chunks.end());
  sources_.insert(sources_.end(), e.sources.begin(), e.sources.end());
  if (keepText) text_ += e.text;
  xrBlockTypes_.insert(xrBlockTypes_.end(), e.xrBlockTypes.begin(), e.xrBlockTypes.end());
  voipMetrics_.insert(voipMetrics_.end(), e.voipMetrics.begin(), e.voipMetrics.end());
}

RtcpEntry RtcpTable::Entry(size_t i) const {
  RtcpEntry e;
  if (i >= rows_.size()) return e;
  static_cast<RtcpPacketInfo&>(e) = rows_[i].info;
  const Row* next = i + 1 < rows_.size() ? &rows_[i + 1] : nullptr;
  // The items of row i in `list`, whose start offsets the rows keep in `start`.
  auto items = [&](const auto& list, uint32_t Row::*start, auto& out) {
    const size_t end = next != nullptr ? next->*start : list.size();
    out.assign(list.begin() + rows_[i].*start, list.begin() + static_cast<std::ptrdiff_t>(end));
  };
  items(reports_, &Row::reports, e.reports);
  items(chunks_, &Row::chunks, e.chunks);
  items(sources_, &Row::sources, e.sources);
  items(text_, &Row::text, e.text);
  items(xrBlockTypes_, &Row::xrBlockTypes, e.xrBlockTypes);
  items(voipMetrics_, &Row::voipMetrics, e.voipMetrics);
  return e;
}

std::vector<RtcpEntry> RtcpTable::Entries() const {
  std::vector<RtcpEntry> entries;
  entries.reserve(rows_.size());
  for (size_t i = 0; i < rows_.size(); ++i) entries.push_back(Entry(i));
  return entries;
}

void RtcpTable::OnPacket(const uint8_t* data, uint32_t length, const RtcpEntry& header) {
  RtcpEntry h = header;
  h.compound = compounds_;
  parsed_.clear();
  if (!ParseRtcpCompound(data, length, h, parsed_)) {
    ++invalid_;
    return;
  }
  ++compounds_;
  for (RtcpEntry& e : parsed_) {
    for (RtcpReportBlock& r : e.reports) {
      if (r.lsr == 0) continue;
      // The round trip as the SR's sender would compute it (RFC 3550 6.4.1), with both
      // arrival times taken from the capture instead of the sender's clock.
      const auto sr = senderReports_.find((uint64_t{r.sourceSsrc} << 32) | r.lsr);
      if (sr == senderReports_.end() || sr->second > e.captureUs) continue;
      r.haveRoundTrip = true;
      r.roundTripMs = static_cast<double>(e.captureUs - sr->second) / 1000.0 -
                      static_cast<double>(r.dlsr) * 1000.0 / 65536.0;
    }
    if (e.packetType == kRtcpSr) {
      const uint32_t middle = static_cast<uint32_t>(e.ntpTimestamp >> 16);
      senderReports_.emplace((uint64_t{e.ssrc} << 32) | middle, e.captureUs);
    }
    Store(e);
  }
}

void RtcpTable::MatchStreams(const std::vector<uint32_t>& ssrcOfStream) {
  std::unordered_map<uint32_t, int32_t> bySsrc;
  for (size_t i = 0; i < ssrcOfStream.size(); ++i) bySsrc.emplace(ssrcOfStream[i], static_cast<int32_t>(i));
  auto find = [&](uint32_t ssrc) {
    const auto it = bySsrc.find(ssrc);
    return it == bySsrc.end() ? -1 : it->second;
  };
  for (Row& row : rows_) row.info.streamIndex = find(row.info.ssrc);
  for (RtcpReportBlock& r : reports_) r.streamIndex = find(r.sourceSsrc);
  for (RtcpVoipMetrics& m : voipMetrics_) m.streamIndex = find(m.sourceSsrc);
}

}  // namespace fennik
