#include "capture/CRTP_Parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "base/DebugPrint.h"
#include "stream/CSupportCodec.h"
#include "stream/CodecType.h"

namespace fennik {
namespace {

void CopyName(RtpStreamEntry& s, const char* name) {
  std::snprintf(s.encodingName, sizeof s.encodingName, "%s", name ? name : "");
}

bool SameName(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

}  // namespace

CRTP_Parser::CRTP_Parser() = default;
CRTP_Parser::~CRTP_Parser() { Close(); }

OpenResult CRTP_Parser::Open(const std::string& fileName) {
  if (!OpenFile(fileName, kRead)) return OpenResult::kCantOpen;
  return DetectFormat();
}

OpenResult CRTP_Parser::OpenBytes(const uint8_t* data, size_t size) {
  if (!OpenMemory(data, size, "(memory)")) return OpenResult::kCantOpen;
  return DetectFormat();
}

OpenResult CRTP_Parser::DetectFormat() {
  // The first bytes only: a file read in place never needs the read window.
  uint8_t head[32];
  const uint32_t n = ReadAt(0, head, sizeof head);
  if (!DetectCaptureFormat(head, n, format_)) {
    CloseFile();
    return OpenResult::kNotSupported;
  }
  return OpenResult::kOk;
}

void CRTP_Parser::Close() {
  slots_.clear();  // stream objects before the tables they report to
  states_.clear();
  descriptor_.Clear();
  streams_.clear();
  statistics_.Clear();
  rtcp_.Clear();
  events_.Clear();
  streamIndex_.clear();
  std::fill(std::begin(tupleCache_), std::end(tupleCache_), CachedTuple{});
  packets_.Clear();
  Descriptions().Clear();
  CloseFile();
}

void CRTP_Parser::AddUserSdp(std::string_view text) {
  Descriptions().Parse(text);
  userSdp_ = true;
}

bool CRTP_Parser::OnWindow(uint64_t offset, uint64_t fileSize) {
  if (listener_) listener_->OnProgress(offset, fileSize);
  return !cancel_.load();
}

bool CRTP_Parser::Analyse(CAvEventListener* listener) {
  listener_ = listener;
  haveReference_ = false;
  statistics_.Clear();
  rtcp_.Clear();
  events_.Clear();
  CCaptureWalk walk(*this, format_);
  walk_ = walk.Run(*this);
  if (walk_.end == WalkEnd::kCancelled) return false;
  FinishPass();
  return true;
}

// Capture time: milliseconds since the capture's first packet record. Full timestamps are
// subtracted, so a capture that crosses midnight keeps counting; a record stamped before
// the first one counts as 0 rather than wrapping.
uint64_t CRTP_Parser::CaptureTimeMs(int64_t timestampUs) const {
  const int64_t ms = (timestampUs - referenceUs_) / 1000;
  return ms < 0 ? 0 : static_cast<uint64_t>(ms);
}

void CRTP_Parser::OnRecord(const CaptureRecord& record) {
  if (!haveReference_) {
    referenceUs_ = record.timestampUs;
    haveReference_ = true;
  }
  PacketRecord packet;
  uint32_t payloadOffset =
      Decode(record.data, record.length, record.frameOffset, packet, record.linkType);
  if (payloadOffset == 0 || payloadOffset >= record.length) {
    if (packet.rtcpOffset != 0) OnRtcpPacket(record, packet);
    return;
  }
  OnRtpPacket(record, packet, payloadOffset);
}

void CRTP_Parser::OnRtcpPacket(const CaptureRecord& record, const PacketRecord& packet) {
  // The datagram as its UDP length gives it; a record cut short fails the validation.
  const uint32_t captured = record.length - packet.rtcpOffset;
  const uint32_t datagram = packet.udpLength >= 8 ? packet.udpLength - 8u : 0;
  RtcpEntry header;
  header.packetNumber = record.packetNumber;
  header.captureUs = record.timestampUs;
  header.sourceAddress = packet.sourceAddress;
  header.destinationAddress = packet.destinationAddress;
  header.sourcePort = packet.sourcePort;
  header.destinationPort = packet.destinationPort;
  rtcp_.OnPacket(record.data + packet.rtcpOffset, std::min(captured, datagram), header);
}

void CRTP_Parser::OnEventCandidate(uint32_t index, const CaptureRecord& record, const PacketRecord& packet) {
  using EventMode = TelephoneEventTable::Mode;
  EventMode mode = events_.ModeOf(index, packet.payloadType);
  if (mode == EventMode::kUnknown) {
    const std::string name = LookupPayloadName(index, packet.payloadType);
    uint32_t clock = 8000;
    if (SameName(name, "telephone-event")) {
      const RtpStreamEntry& s = streams_[index];
      const MediaDescription* d = Descriptions().FindForStream(s.sourceAddress, s.destinationAddress,
                                                                s.sourcePort, s.destinationPort);
      const MediaFormat* f = d != nullptr ? d->FindFormat(packet.payloadType) : nullptr;
      if (f != nullptr && f->clockRate != 0) clock = f->clockRate;
      mode = EventMode::kSdp;
    } else {
      mode = name.empty() ? EventMode::kWatched : EventMode::kRejected;
    }
    events_.SetMode(index, packet.payloadType, mode, clock);
  }
  if (mode == EventMode::kRejected) return;
  const uint32_t end = std::min(packet.mediaOffset + packet.mediaLength, record.length);
  const uint32_t length = end > packet.mediaOffset ? end - packet.mediaOffset : 0;
  events_.OnPacket(index, packet.payloadType, packet.ssrc, packet.timestamp, record.packetNumber,
                   record.timestampUs, record.data + packet.mediaOffset, length);
}

void CRTP_Parser::OnRtpPacket(const CaptureRecord& record, const PacketRecord& packet,
                              uint32_t payloadOffset) {
  int found = FindOrAddStream(packet, record.packetNumber);
  if (found < 0) {
    ++refusedPackets_;
    return;
  }
  const uint32_t index = static_cast<uint32_t>(found);
  RtpStreamEntry& stream = streams_[index];
  StreamState& state = states_[index];
  // A call may open with comfort noise or a key press on the 4-tuple: the stream takes the
  // payload type of the first packet that carries media instead.
  if (packet.payloadType != stream.payloadType && !state.creationTried &&
      IsAuxiliaryPayloadType(index, stream.payloadType) &&
      !IsAuxiliaryPayloadType(index, packet.payloadType)) {
    stream.payloadType = packet.payloadType;
    stream.codecType = 0;
    state.assignedAtDescriptions = ~uint64_t{0};
  }
  if (stream.codecType == 0) AssignCodec(index);
  if (stream.codecType != 0 && !state.creationTried) CreateStreamObject(index);

  const bool first = record.packetNumber == stream.firstPacketNumber;
  const uint32_t captured = record.length - payloadOffset;
  const bool duplicate =
      IsDuplicate(state, packet, record.data + payloadOffset, std::min(packet.payloadLength, captured)) &&
      !first;
  RtpPacketEntry e{};
  e.streamIndex = static_cast<uint16_t>(index);
  e.marker = packet.marker != 0;
  e.sequenceNumber = packet.sequenceNumber;
  e.payloadOffset = static_cast<uint16_t>(std::min<uint32_t>(payloadOffset, 0xFFFF));
  e.payloadLength = static_cast<uint16_t>(std::min<uint32_t>(packet.payloadLength, 0xFFFF));
  e.packetNumber = record.packetNumber;
  e.captureTime = CaptureTimeMs(record.timestampUs);
  e.rtpTimestamp = packet.timestamp;
  e.frameIndex = kNoFrame;
  e.capturedPayload = static_cast<uint16_t>(std::min<uint32_t>(captured, 0xFFFF));
  e.linkCode = LinkTypeCode(record.linkType) & 0xF;
  e.payloadType = packet.payloadType & 0x7F;
  const bool media = packet.payloadType == stream.payloadType;
  if (!media) e.flags |= kPacketNotMedia;
  if (duplicate) {
    // A copy is not a sequence error and moves neither the jitter reference nor the
    // stream's last packet.
    RtpStreamEntry unchanged = stream;
    ApplyPacketTiming(unchanged, e, false);
    e.errorFlags = 0;
    e.flags |= kPacketDuplicate;
  } else {
    ApplyPacketTiming(stream, e, first);
  }

  if (state.bitrate) {
    e.bitRate = state.bitrate->Add(e.captureTime, packet.payloadLength, e.errorFlags != 0);
  }
  // The frame notification stores frame indices into entries already in the table, so
  // this packet's entry goes in before the stream object can cut a frame from it. Frames
  // are cut from earlier access units only, so the order changes nothing else.
  const bool listed = packets_.Add(record.fileOffset, e) != 0;
  // Only the codec's own payload type reaches the stream object, once per packet.
  if (media && !duplicate) {
    FeedStream(index, record, packet, listed ? packets_.GetCount() - 1 : CFrameTable::kNoRow);
  }

  // Call-quality statistics: one call per RTP packet of a stream.
  statistics_.OnRtpPacket(index, StatisticsPacket{record.timestampUs, packet.ssrc, packet.sequenceNumber,
                                                  packet.timestamp, packet.payloadType, packet.marker != 0,
                                                  packet.payloadLength, stream.clockRate,
                                                  media && stream.codecType != 0});
  // RFC 4733 events travel under a dynamic payload type.
  if (packet.payloadType >= 96) OnEventCandidate(index, record, packet);

  ++stream.packets;
  if (!media) ++stream.otherPayloadPackets;
  if (duplicate) {
    ++stream.duplicates;
    return;
  }
  stream.lastSequenceNumber = packet.sequenceNumber;
  stream.lastCaptureTime = e.captureTime;
  stream.lastRtpTimestamp = packet.timestamp;
  if (e.errorFlags != 0) {
    ++stream.sequenceErrors;
    if (listed && errors_ != nullptr) errors_->Record(record.fileOffset, record.packetNumber, index);
  }
}

bool CRTP_Parser::IsDuplicate(StreamState& state, const PacketRecord& packet,
                              const uint8_t* payload, uint32_t length) {
  const RecentPacket now{PayloadDigest(payload, length), packet.timestamp, packet.ssrc, length,
                         packet.sequenceNumber, packet.payloadType};
  const size_t held = std::min(state.recentCount, kRecentPackets);
  for (size_t i = 0; i < held; ++i) {
    const RecentPacket& r = state.recent[i];
    if (r.sequenceNumber == now.sequenceNumber && r.timestamp == now.timestamp &&
        r.ssrc == now.ssrc && r.payloadType == now.payloadType && r.length == now.length &&
        r.digest == now.digest) {
      return true;
    }
  }
  state.recent[state.recentCount++ % kRecentPackets] = now;
  return false;
}

std::string CRTP_Parser::LookupPayloadName(uint32_t index, uint32_t payloadType) const {
  bool listed = false;
  const StaticPayloadType& row = LookupStaticPayloadType(payloadType, listed);
  if (listed && row.name != nullptr) return row.name;
  const RtpStreamEntry& s = streams_[index];
  const MediaDescription* d = Descriptions().FindForStream(s.sourceAddress, s.destinationAddress,
                                                            s.sourcePort, s.destinationPort);
  if (d == nullptr) return {};
  for (uint32_t i = 0; i < d->formatCount && i < kMaxMediaFormats; ++i) {
    if (d->formats[i].payloadType == payloadType) return d->formats[i].encodingName;
  }
  return {};
}

bool CRTP_Parser::IsAuxiliaryPayloadType(uint32_t index, uint32_t payloadType) const {
  if (payloadType == 13 || payloadType == 19) return true;  // CN, and its old number
  const std::string name = LookupPayloadName(index, payloadType);
  return SameName(name, "CN") || SameName(name, "telephone-event") || SameName(name, "tone");
}

std::string CRTP_Parser::PayloadTypeName(const RtpPacketEntry& e) const {
  if (e.streamIndex >= streams_.size()) return {};
  const RtpStreamEntry& s = streams_[e.streamIndex];
  if (e.payloadType == s.payloadType) {
    return std::string(s.encodingName, strnlen(s.encodingName, sizeof s.encodingName));
  }
  std::string name = LookupPayloadName(e.streamIndex, e.payloadType);
  if (name.empty()) name = std::to_string(e.payloadType);
  return name;
}

int CRTP_Parser::FindOrAddStream(const PacketRecord& p, uint32_t packetNumber) {
  const TupleKey key{p.sourceAddress, p.destinationAddress, p.sourcePort, p.destinationPort};
  CachedTuple& cached = tupleCache_[(TupleHash()(key) * 0x9E3779B97F4A7C15ull) >> 56];
  // Index 0 in the cache means empty: stream indices are stored plus one.
  if (cached.index != 0 && cached.key == key) return static_cast<int>(cached.index - 1);
  auto it = streamIndex_.find(key);
  if (it != streamIndex_.end()) {
    cached = {key, it->second + 1};
    return static_cast<int>(it->second);
  }
  if (streams_.size() >= kMaxStreams) {
    if (refusedPackets_ == 0) {
      DebugPrint("[RTP] more than %u streams: packets of further streams are not listed\n",
                 kMaxStreams);
    }
    return -1;
  }
  RtpStreamEntry s;
  s.payloadType = p.payloadType;
  s.sourceAddress = p.sourceAddress;
  s.destinationAddress = p.destinationAddress;
  s.sourcePort = p.sourcePort;
  s.destinationPort = p.destinationPort;
  s.firstPacketNumber = packetNumber;
  const uint32_t index = static_cast<uint32_t>(streams_.size());
  streams_.push_back(s);
  states_.emplace_back();
  streamIndex_.emplace(key, index);
  return static_cast<int>(index);
}

// Codec from the static payload-type table, else from the newest session description that
// names one of the stream's addresses and ports. Runs again while the stream has no codec,
// but only when new descriptions have arrived since the last try. The stream's format keeps
// the fmtp parameters the description gives its payload type, for static payload types too.
void CRTP_Parser::AssignCodec(uint32_t index) {
  RtpStreamEntry& s = streams_[index];
  StreamState& state = states_[index];
  const uint64_t descriptions = Descriptions().Size();
  if (state.assignedAtDescriptions == descriptions) return;
  state.assignedAtDescriptions = descriptions;

  bool listed = false;
  const StaticPayloadType& row = LookupStaticPayloadType(s.payloadType, listed);
  s.mediaKind = row.kind;
  s.codecType = row.codecType;
  CopyName(s, row.name);
  s.clockRate = row.clockRate;
  s.channels = row.channels;
  s.bitsPerSample = row.bitsPerSample;
  s.codecParameter = row.codecParameter;
  MediaFormat& format = state.format;
  format = MediaFormat{};
  format.payloadType = s.payloadType;
  if (listed) state.missingSdp = false;

  const MediaDescription* d = Descriptions().FindForStream(s.sourceAddress, s.destinationAddress,
                                                            s.sourcePort, s.destinationPort);
  const MediaFormat* f = d != nullptr ? d->FindFormat(s.payloadType) : nullptr;
  if (listed) {
    // The static table decides the codec; the description adds its fmtp parameters only.
    if (f != nullptr) format.fmtp = f->fmtp, format.fmtpText = f->fmtpText;
  } else if (d != nullptr) {
    // A format named by an fmtp line alone carries no codec: the stream keeps the none row.
    if (f != nullptr && f->hasRtpmap) {
      s.codecType = f->codecType;
      CopyName(s, f->encodingName);
      s.mediaKind = f->kind;
      s.clockRate = f->clockRate;
      s.channels = f->channels;
      s.bitsPerSample = f->bitsPerSample;
      s.codecParameter = f->codecParameter;
    }
    if (f != nullptr) format.fmtp = f->fmtp, format.fmtpText = f->fmtpText;
    state.missingSdp = false;
  }
  format.codecType = s.codecType;
  std::memcpy(format.encodingName, s.encodingName,
              std::min(sizeof format.encodingName, sizeof s.encodingName));
  format.encodingName[sizeof format.encodingName - 1] = '\0';
  format.kind = s.mediaKind;
  format.clockRate = s.clockRate;
  format.channels = s.channels;
  format.bitsPerSample = s.bitsPerSample;
  format.codecParameter = s.codecParameter;
  format.hasRtpmap = !listed && f != nullptr && f->hasRtpmap;
}

void CRTP_Parser::CreateStreamObject(uint32_t index) {
  RtpStreamEntry& s = streams_[index];
  StreamState& state = states_[index];
  state.creationTried = true;
  const uint32_t streamId = index + 1;
  CodecSlot slot;
  slot.streamId = streamId;
  slot.codecType = static_cast<int32_t>(s.codecType);
  slot.stream = CSupportCodec::CreateParser(slot.codecType);
  DebugPrint("Create codec (id=0x%04X, codec_type=%d)\n", streamId, slot.codecType);
  if (!slot.stream) return;  // no stream class: no frames, no bit rate
  slot.stream->SetStreamId(streamId);
  slot.stream->SetMediaFormat(state.format);
  slot.stream->SetListener(this);
  slot.stream->Frames().SetPacketSource(this);
  slot.stream->SetAudioFormat(static_cast<int32_t>(s.clockRate),
                              static_cast<uint16_t>(s.bitsPerSample),
                              static_cast<uint16_t>(s.channels), 0,
                              static_cast<int32_t>(s.codecParameter));
  slot.stream->SetEndpoints(s.sourceAddress, s.destinationAddress, s.sourcePort,
                            s.destinationPort);
  slot.stream->SetRtpClockRate(s.clockRate);
  slot.loader = std::make_unique<CRTP_LoadStream>(
      *this, format_, walk_.linkTypes,
      CRTP_LoadStream::Endpoints{s.sourceAddress, s.destinationAddress, s.sourcePort,
                                 s.destinationPort, static_cast<int32_t>(s.payloadType)},
      slot.codecType == kCodecH264Rtp);
  slot.loader->SetPayloadHeaders(slot.stream.get());
  if (slot.codecType == kCodecH263 || slot.codecType == kCodecH263Variant7) {
    // H.263: the payload format follows the encoding name ("H263": RFC 2190; "H263-1998",
    // "H263-2000": RFC 4629); without one it is recognised at the first picture start.
    state.h263 = true;
    state.h263Payload = H263Depacketizer(H263PayloadFormatFromEncoding(s.encodingName));
    slot.loader->SetH263PayloadFormat(state.h263Payload.Format());
  }
  state.buffer = std::make_unique<CAnarizeBuffer>(streamId);
  state.bitrate = std::make_unique<BitrateWindow>();
  descriptor_.Add(state.buffer.get());
  s.streamObjectCreated = 1;
  s.codecSlot = static_cast<uint32_t>(slots_.size());
  slots_.push_back(std::move(slot));
}

// Hands the stream object whole access units: when the RTP timestamp changes, the bytes
// gathered so far (the previous access unit) are offered to Open while the object is not
// open, and then cut into frames by Parse; consumed bytes are then dropped from the buffer.
void CRTP_Parser::FeedStream(uint32_t index, const CaptureRecord& record, const PacketRecord& packet,
                             uint64_t row) {
  const RtpStreamEntry& s = streams_[index];
  StreamState& state = states_[index];
  if (!state.buffer || s.codecSlot >= slots_.size()) return;
  CodecSlot& slot = slots_[s.codecSlot];
  CAnarizeBuffer& buffer = *state.buffer;
  // Access units are told apart by the timestamps of the packets fed here, so packets of
  // other payload types in between (events share the audio's timestamps) change nothing.
  const bool firstFed = !state.fed;
  const bool newUnit = firstFed || packet.timestamp != state.lastFedTimestamp;
  state.fed = true;
  state.lastFedTimestamp = packet.timestamp;
  if (newUnit && buffer.Pending() > 0) {
    CAvStream& object = *slot.stream;
    OfferOpen(slot, buffer);
    buffer.Consume(object.Parse(slot.streamId, descriptor_));
    buffer.Compact();
  }
  // The codec gets the media without the header extension and the padding, and without a
  // payload format's own header (RFC 2250, RFC 3640; H.263's RFC 2190/4629 headers below).
  const uint32_t media = packet.mediaOffset;
  const uint32_t captured = media < record.length ? record.length - media : 0;
  uint32_t size = std::min(packet.mediaLength, captured);
  const uint32_t header = std::min(slot.stream->PayloadHeaderLength(record.data + media, size), size);
  const uint8_t* payload = record.data + media + header;
  size -= header;
  if (state.h263) {
    // The H.263 bits of the payload, without its payload header (RFC 2190, RFC 4629).
    if (state.h263Payload.Format() == H263PayloadFormat::kNone) {
      const H263PayloadFormat format = DetectH263PayloadFormat(payload, size);
      if (format != H263PayloadFormat::kNone) {
        state.h263Payload = H263Depacketizer(format);
        slot.loader->SetH263PayloadFormat(format);
      }
    }
    if (!firstFed && static_cast<uint16_t>(state.lastSequence + 1) != packet.sequenceNumber) state.h263Payload.Reset();
    state.lastSequence = packet.sequenceNumber;
    // A payload that starts inside the previous payload's last byte (SBIT) completes it.
    const bool partial = state.h263Payload.HasPartialByte() && buffer.Used() > 0;
    state.h263Bytes.clear();
    if (partial) state.h263Bytes.push_back(buffer.Data()[buffer.Used() - 1]);
    const long n = state.h263Payload.Append(payload, size, state.h263Bytes);
    size = n < 0 ? 0 : static_cast<uint32_t>(n);
    if (partial && n >= 0) buffer.SetLastByte(state.h263Bytes[0]);
    payload = state.h263Bytes.data() + (partial ? 1 : 0);
  }
  AnarizePacket entry{record.fileOffset, packet.timestamp, media + header, record.packetNumber,
                      size, newUnit ? 1u : 0u, row};
  entry.sequence = packet.sequenceNumber;
  if (!buffer.Append(payload, size, entry)) {
    ++droppedPayloads_;
  } else if (header > 0) {
    slot.stream->OnPayloadHeader(record.data + media, header, size, record.packetNumber);
  }
}

// While the stream object is not open, the bytes gathered so far are offered to its open.
void CRTP_Parser::OfferOpen(CodecSlot& slot, CAnarizeBuffer& buffer) {
  CAvStream& object = *slot.stream;
  if (object.IsOpen()) return;
  object.SetSource(slot.loader.get());
  int opened = slot.codecType == kCodecH264Rtp
                   ? object.OpenDescriptor(slot.streamId, descriptor_, slot.codecType)
                   : object.Open(buffer.Data() + buffer.Consumed(), buffer.Pending(), slot.codecType);
  if (!opened) object.SetSource(nullptr);
  slot.codecType = object.GetCodecType();
}

void CRTP_Parser::FinishPass() {
  std::vector<uint32_t> ssrcs(streams_.size());
  for (size_t i = 0; i < ssrcs.size(); ++i) ssrcs[i] = statistics_.Ssrc(static_cast<uint32_t>(i));
  rtcp_.MatchStreams(ssrcs);
  for (size_t i = 0; i < streams_.size(); ++i) {
    StreamState& state = states_[i];
    if (!state.buffer || state.buffer->Pending() == 0) continue;
    CodecSlot& slot = slots_[streams_[i].codecSlot];
    // An H.264 stream whose RTP timestamp never changed (a sender that stamps every
    // picture alike) has not been offered to the open yet.
    if (slot.codecType == kCodecH264Rtp) OfferOpen(slot, *state.buffer);
    state.buffer->Consume(slot.stream->Parse(slot.streamId, descriptor_));
  }
  for (CodecSlot& slot : slots_) {
    slot.loader->SetLinkTypes(walk_.linkTypes);
    slot.stream->ResetDecoder();
    slot.stream->AttachView(nullptr);
  }
  descriptor_.Clear();
  for (StreamState& state : states_) {
    state.buffer.reset();
    state.bitrate.reset();
  }
  if (!userSdp_ && listener_ != nullptr && !MissingSdp().empty()) listener_->OnSdpMissing(*this);
}

CAvStream* CRTP_Parser::StreamObject(uint32_t streamIndex) const {
  if (streamIndex >= streams_.size()) return nullptr;
  uint32_t slot = streams_[streamIndex].codecSlot;
  return slot < slots_.size() ? slots_[slot].stream.get() : nullptr;
}

std::vector<uint64_t> CRTP_Parser::StreamPacketIndices(uint32_t streamIndex) const {
  std::vector<uint64_t> rows;
  if (streamIndex < streams_.size()) rows.reserve(streams_[streamIndex].packets);
  for (uint64_t i = 0; i < packets_.GetCount(); ++i) {
    const RtpPacketEntry* e = packets_.GetEntry(i, nullptr);
    if (e->streamIndex == streamIndex) rows.push_back(i);
  }
  return rows;
}

std::vector<MissingSdpEntry> CRTP_Parser::MissingSdp() const {
  std::vector<MissingSdpEntry> list;
  for (size_t i = 0; i < streams_.size(); ++i) {
    if (!states_[i].missingSdp) continue;
    const RtpStreamEntry& s = streams_[i];
    list.push_back({s.sourceAddress, s.destinationAddress, s.sourcePort, s.destinationPort, 1});
  }
  return list;
}

bool CRTP_Parser::PacketFrame(uint64_t row, uint32_t frameNumber, uint64_t* address, FrameEntry* entry) const {
  uint64_t at = 0;
  const RtpPacketEntry* p = packets_.GetEntry(row, &at);
  if (p == nullptr) return false;
  FrameEntry e;
  e.timestamp = p->rtpTimestamp;
  e.size = std::min<uint32_t>(p->payloadLength, p->capturedPayload);
  e.packetNumber = p->packetNumber;
  e.frameNumber = frameNumber;
  e.streamId = p->streamIndex + 1u;
  e.frameOffset = p->payloadOffset;
  e.payloadOffset = p->payloadOffset;
  *address = at;
  *entry = e;
  return true;
}

// The row the stream's buffer recorded, else a search: a frame begins in a packet of the
// stream object's current access unit, near the table's end.
void CRTP_Parser::OnFrameAdded(uint32_t frameIndex, uint32_t streamId, uint64_t, uint32_t,
                               uint32_t packetNumber, uint64_t row) {
  const RtpPacketEntry* known = packets_.GetEntry(row, nullptr);
  if ((known == nullptr || known->packetNumber != packetNumber) && !FindPacketRow(packets_, packetNumber, row)) {
    return;
  }
  RtpPacketEntry* e = packets_.GetMutableEntry(row);
  if (e->streamIndex + 1u == streamId) e->frameIndex = frameIndex;
}

}  // namespace fennik
