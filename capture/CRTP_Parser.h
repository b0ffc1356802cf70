// The capture container: opens a classic pcap or pcapng capture, runs the analysis pass
// that builds the packet table and the stream table, feeds each stream's payload to its
// stream object, and answers the lists' and the CSV report's questions.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/CAvFile.h"
#include "capture/CRTP_LoadPacket.h"
#include "capture/CRTP_LoadStream.h"
#include "capture/H263RtpPayload.h"
#include "capture/CaptureWalk.h"
#include "capture/ErrorList.h"
#include "capture/RtpTables.h"
#include "capture/RtcpReports.h"
#include "capture/RtpTiming.h"
#include "capture/StreamStatistics.h"
#include "capture/TelephoneEvents.h"
#include "stream/CAvStream.h"

namespace fennik {

class CRTP_Parser;

// The worker's side of the analysis pass.
class CAvEventListener {
 public:
  virtual ~CAvEventListener() = default;
  virtual void OnProgress(uint64_t offset, uint64_t fileSize) { (void)offset, (void)fileSize; }
  virtual void OnSdpMissing(CRTP_Parser& container) { (void)container; }
};

struct CodecSlot {
  uint32_t streamId = 0;
  int32_t codecType = 0;  // replaced by the type the stream object reports
  std::unique_ptr<CRTP_LoadStream> loader;
  std::unique_ptr<CAvStream> stream;  // declared last: destroyed before its loader
};

// One stream address tuple still waiting for codec information.
struct MissingSdpEntry {
  uint32_t sourceAddress;
  uint32_t destinationAddress;
  uint16_t sourcePort;
  uint16_t destinationPort;
  uint32_t missing;  // 1 until codec information is found
};

enum class OpenResult { kOk, kCantOpen, kNotSupported };

class CRTP_Parser : public CAvFile, public CRTP_LoadPacket, public CCodecEventListener,
                    public CPacketFrameSource, private CCaptureSink {
 public:
  // Stream ids go up to 65535 (a 16-bit index in the packet entry); packets of further
  // streams are refused and counted.
  static constexpr uint32_t kMaxStreams = 65535;

  CRTP_Parser();
  ~CRTP_Parser() override;

  OpenResult Open(const std::string& fileName);
  // Opens a capture held in memory (kept alive by the caller until Close).
  OpenResult OpenBytes(const uint8_t* data, size_t size);
  void Close();
  const CaptureFormatInfo& Format() const { return format_; }

  // Parses SDP text chosen by the user into the description list before the pass, and
  // marks the capture so that missing SDP is not asked about again.
  void AddUserSdp(std::string_view text);
  bool SdpSuppliedByUser() const { return userSdp_; }

  // Where the pass records packets with errors (none recorded without a sink).
  void SetErrorSink(CErrorSink* errors) { errors_ = errors; }
  // Runs the analysis pass; false when it was cancelled.
  bool Analyse(CAvEventListener* listener);
  void Cancel() { cancel_ = true; }
  const WalkResult& Walk() const { return walk_; }

  // Tables, valid after the pass.
  const CPacketTable& Packets() const { return packets_; }
  // Capture time of the file's first record (microseconds since the Unix epoch): the
  // packet table's times count from it.
  int64_t ReferenceUs() const { return referenceUs_; }
  const std::vector<RtpStreamEntry>& Streams() const { return streams_; }
  const std::vector<CodecSlot>& CodecSlots() const { return slots_; }
  CAvStream* StreamObject(uint32_t streamIndex) const;
  // Packet-table indices of one stream's packets, in file order.
  std::vector<uint64_t> StreamPacketIndices(uint32_t streamIndex) const;
  // The address tuples still without codec information after the pass.
  std::vector<MissingSdpEntry> MissingSdp() const;
  // The encoding name of a listed packet's own payload type: its stream's name for the
  // stream's payload type, else the static table's or the stream's session description's
  // name (e.g. "telephone-event", "CN"), else the number.
  std::string PayloadTypeName(const RtpPacketEntry& entry) const;
  uint32_t RefusedStreamPackets() const { return refusedPackets_; }
  uint32_t DroppedPayloads() const { return droppedPayloads_; }
  // Call-quality figures of every stream, indexed like Streams(); valid after the pass.
  const StreamStatisticsTable& Statistics() const { return statistics_; }
  // Depth of the simulated fixed jitter buffer for the next pass (milliseconds; 0: none).
  void SetJitterBufferMs(double ms) { statistics_.SetJitterBufferMs(ms); }
  // RTCP reports (report blocks matched to the streams) and RFC 4733 telephone events,
  // valid after the pass.
  const RtcpTable& Rtcp() const { return rtcp_; }
  const TelephoneEventTable& TelephoneEvents() const { return events_; }

  // CPacketFrameSource: the frame that is a listed packet's whole payload, as the stream
  // objects' generic parse makes it.
  bool PacketFrame(uint64_t row, uint32_t frameNumber, uint64_t* address, FrameEntry* entry) const override;

  // CCodecEventListener: stores the frame index in the packet entry where the frame begins.
  void OnFrameAdded(uint32_t frameIndex, uint32_t streamId, uint64_t address, uint32_t size,
                    uint32_t packetNumber, uint64_t row) override;

 private:
  struct TupleKey {
    uint32_t src, dst;
    uint16_t sport, dport;
    bool operator==(const TupleKey&) const = default;
  };
  struct TupleHash {
    size_t operator()(const TupleKey& k) const {
      uint64_t a = (uint64_t{k.src} << 32) | k.dst;
      uint64_t b = (uint64_t{k.sport} << 16) | k.dport;
      return std::hash<uint64_t>()(a * 0x9E3779B97F4A7C15ull ^ b);
    }
  };
  // The last packets of a stream, to recognise exact duplicates (mirror ports copy every
  // packet; the copy may arrive a few packets late).
  struct RecentPacket {
    uint64_t digest;
    uint32_t timestamp, ssrc, length;
    uint16_t sequenceNumber;
    uint8_t payloadType;
  };
  static constexpr size_t kRecentPackets = 16;
  struct StreamState {
    std::unique_ptr<CAnarizeBuffer> buffer;
    std::unique_ptr<BitrateWindow> bitrate;
    bool creationTried = false;
    uint64_t assignedAtDescriptions = ~uint64_t{0};  // description count at last assignment
    bool missingSdp = true;
    // H.263 streams (codec types 6 and 7): the payload format and the header removal
    // (RFC 2190 / RFC 4629) applied before the payloads reach the analysis buffer.
    bool h263 = false;
    H263Depacketizer h263Payload;
    std::vector<uint8_t> h263Bytes;
    uint16_t lastSequence = 0;
    MediaFormat format;  // handed to the stream object when it is created
    bool fed = false;             // a packet has gone to the stream object's buffer
    uint32_t lastFedTimestamp = 0;
    RecentPacket recent[kRecentPackets] = {};
    size_t recentCount = 0;       // packets entered into `recent` (a ring)
  };

  OpenResult DetectFormat();
  void OnRecord(const CaptureRecord& record) override;
  bool OnWindow(uint64_t offset, uint64_t fileSize) override;

  void OnRtpPacket(const CaptureRecord& record, const PacketRecord& packet, uint32_t payloadOffset);
  void OnRtcpPacket(const CaptureRecord& record, const PacketRecord& packet);
  // Hands a packet of a dynamic payload type to the telephone-event table, deciding on
  // the first packet of each payload type whether it is one (description) or may be one.
  void OnEventCandidate(uint32_t index, const CaptureRecord& record, const PacketRecord& packet);
  // True when the packet equals one of the stream's recent packets in sequence number,
  // timestamp, SSRC, payload type and payload bytes; otherwise it is remembered.
  bool IsDuplicate(StreamState& state, const PacketRecord& packet, const uint8_t* payload,
                   uint32_t length);
  // A payload type that never carries the stream's media: comfort noise (RFC 3389) and
  // telephone events or tones (RFC 4733), by the static table or the session description.
  bool IsAuxiliaryPayloadType(uint32_t index, uint32_t payloadType) const;
  // The encoding name the static table or the stream's session description gives a payload
  // type ("" when neither does).
  std::string LookupPayloadName(uint32_t index, uint32_t payloadType) const;
  int FindOrAddStream(const PacketRecord& packet, uint32_t packetNumber);
  void AssignCodec(uint32_t index);
  void CreateStreamObject(uint32_t index);
  // `row`: the packet's row in the packet table (CFrameTable::kNoRow when it was not listed).
  void OfferOpen(CodecSlot& slot, CAnarizeBuffer& buffer);
  void FeedStream(uint32_t index, const CaptureRecord& record, const PacketRecord& packet,
                  uint64_t row);
  void FinishPass();
  uint64_t CaptureTimeMs(int64_t timestampUs) const;

  CaptureFormatInfo format_;
  std::atomic<bool> cancel_{false};
  bool userSdp_ = false;
  CAvEventListener* listener_ = nullptr;
  CErrorSink* errors_ = nullptr;
  WalkResult walk_;

  CPacketTable packets_;
  std::vector<RtpStreamEntry> streams_;
  std::vector<StreamState> states_;
  std::vector<CodecSlot> slots_;
  std::unordered_map<TupleKey, uint32_t, TupleHash> streamIndex_;
  // The streams of recent packets by their address tuple, in front of the map (its lookup
  // divides by a prime, and every RTP packet asks): direct-mapped by the tuple's hash.
  struct CachedTuple {
    TupleKey key;
    uint32_t index;
  };
  static constexpr size_t kTupleCache = 256;  // indexed by the top 8 bits of a product
  CachedTuple tupleCache_[kTupleCache] = {};
  CPayloadDescriptor descriptor_;
  StreamStatisticsTable statistics_;
  RtcpTable rtcp_;
  TelephoneEventTable events_;

  bool haveReference_ = false;
  int64_t referenceUs_ = 0;
  uint32_t refusedPackets_ = 0;
  uint32_t droppedPayloads_ = 0;
};

}  // namespace fennik
