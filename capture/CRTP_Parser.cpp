#include "capture/CRTP_Parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/DebugPrint.h"
#include "stream/CSupportCodec.h"

namespace fennik {
namespace {

constexpr int32_t kCodecH264Rtp = 11;

void CopyName(RtpStreamEntry& s, const char* name) {
  std::snprintf(s.encodingName, sizeof s.encodingName, "%s", name ? name : "");
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
  uint32_t n = ReadWindow(0);
  if (!DetectCaptureFormat(Window().Data(), n, format_)) {
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
  streamIndex_.clear();
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
  CCaptureWalk walk(*this, format_);
  walk_ = walk.Run(*this);
  if (walk_.end == WalkEnd::kCancelled) return false;
  FinishPass();
  return true;
}

// Capture time: milliseconds since the capture's first packet record. Full timestamps are
// subtracted, so a capture that crosses midnight keeps counting; a record stamped before
// the first one counts as 0 rather than wrapping.
uint32_t CRTP_Parser::CaptureTimeMs(int64_t timestampUs) const {
  int64_t ms = (timestampUs - referenceUs_) / 1000;
  if (ms < 0) return 0;
  if (ms > 0xFFFFFFFFll) return 0xFFFFFFFF;
  return static_cast<uint32_t>(ms);
}

void CRTP_Parser::OnRecord(const CaptureRecord& record) {
  if (!haveReference_) {
    referenceUs_ = record.timestampUs;
    haveReference_ = true;
  }
  PacketRecord packet;
  uint32_t payloadOffset =
      Decode(record.data, record.length, record.frameOffset, packet, record.linkType);
  if (payloadOffset == 0 || payloadOffset >= record.length) return;
  OnRtpPacket(record, packet, payloadOffset);
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
  if (stream.codecType == 0) AssignCodec(index);
  if (stream.codecType != 0 && !states_[index].creationTried) CreateStreamObject(index);

  RtpPacketEntry e{};
  e.streamIndex = static_cast<uint16_t>(index);
  e.marker = packet.marker;
  e.sequenceNumber = packet.sequenceNumber;
  e.recordLength = static_cast<uint16_t>(std::min<uint32_t>(record.length, 0xFFFF));
  e.payloadOffset = static_cast<uint16_t>(std::min<uint32_t>(payloadOffset, 0xFFFF));
  e.payloadLength = static_cast<uint16_t>(std::min<uint32_t>(packet.payloadLength, 0xFFFF));
  e.packetNumber = record.packetNumber;
  e.captureTime = CaptureTimeMs(record.timestampUs);
  e.rtpTimestamp = packet.timestamp;
  e.frameIndex = kNoFrame;
  e.capturedPayload = record.length - payloadOffset;
  e.linkType = static_cast<uint16_t>(record.linkType);
  const bool first = record.packetNumber == stream.firstPacketNumber;
  ApplyPacketTiming(stream, e, first);

  StreamState& state = states_[index];
  if (state.bitrate) {
    e.bitRate = state.bitrate->Add(e.captureTime, packet.payloadLength, e.errorFlags != 0);
  }
  // The frame notification stores frame indices into entries already in the table, so
  // this packet's entry goes in before the stream object can cut a frame from it. Frames
  // are cut from earlier access units only, so the order changes nothing else.
  const bool listed = packets_.Add(record.fileOffset, e) != 0;
  FeedStream(index, record, packet, payloadOffset, listed ? packets_.GetCount() - 1 : CFrameTable::kNoRow);

  stream.lastSequenceNumber = packet.sequenceNumber;
  stream.lastCaptureTime = e.captureTime;
  stream.lastRtpTimestamp = packet.timestamp;
  ++stream.packets;
  if (e.errorFlags != 0) {
    ++stream.sequenceErrors;
    if (listed && errors_ != nullptr) errors_->Record(record.fileOffset, record.packetNumber, index);
  }
}

int CRTP_Parser::FindOrAddStream(const PacketRecord& p, uint32_t packetNumber) {
  TupleKey key{p.sourceAddress, p.destinationAddress, p.sourcePort, p.destinationPort};
  auto it = streamIndex_.find(key);
  if (it != streamIndex_.end()) return static_cast<int>(it->second);
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
// but only when new descriptions have arrived since the last try.
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
  if (listed) {
    state.missingSdp = false;
    return;
  }
  const MediaDescription* d = Descriptions().FindForStream(s.sourceAddress, s.destinationAddress,
                                                            s.sourcePort, s.destinationPort);
  if (d == nullptr) return;
  for (uint32_t i = 0; i < d->formatCount && i < kMaxMediaFormats; ++i) {
    const MediaFormat& f = d->formats[i];
    if (f.payloadType != s.payloadType) continue;
    s.codecType = f.codecType;
    CopyName(s, f.encodingName);
    s.mediaKind = f.kind;
    s.clockRate = f.clockRate;
    s.channels = f.channels;
    s.bitsPerSample = f.bitsPerSample;
    s.codecParameter = f.codecParameter;
  }
  state.missingSdp = false;
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
  slot.stream->SetListener(this);
  slot.stream->Frames().SetPacketSource(this);
  slot.stream->SetAudioFormat(static_cast<int32_t>(s.clockRate),
                              static_cast<uint16_t>(s.bitsPerSample),
                              static_cast<uint16_t>(s.channels), 0,
                              static_cast<int32_t>(s.codecParameter));
  slot.stream->SetEndpoints(s.sourceAddress, s.destinationAddress, s.sourcePort,
                            s.destinationPort);
  slot.loader = std::make_unique<CRTP_LoadStream>(
      *this, format_, walk_.linkTypes,
      CRTP_LoadStream::Endpoints{s.sourceAddress, s.destinationAddress, s.sourcePort,
                                 s.destinationPort},
      slot.codecType == kCodecH264Rtp);
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
                             uint32_t payloadOffset, uint64_t row) {
  const RtpStreamEntry& s = streams_[index];
  StreamState& state = states_[index];
  if (!state.buffer || s.codecSlot >= slots_.size()) return;
  CodecSlot& slot = slots_[s.codecSlot];
  CAnarizeBuffer& buffer = *state.buffer;
  const bool first = record.packetNumber == s.firstPacketNumber;
  const bool newUnit = first || packet.timestamp != s.lastRtpTimestamp;
  if (newUnit && buffer.Pending() > 0) {
    CAvStream& object = *slot.stream;
    if (!object.IsOpen()) {
      object.SetSource(slot.loader.get());
      int opened = slot.codecType == kCodecH264Rtp
                       ? object.OpenDescriptor(slot.streamId, descriptor_, slot.codecType)
                       : object.Open(buffer.Data() + buffer.Consumed(), buffer.Pending(),
                                     slot.codecType);
      if (!opened) object.SetSource(nullptr);
      slot.codecType = object.GetCodecType();
    }
    buffer.Consume(object.Parse(slot.streamId, descriptor_));
    buffer.Compact();
  }
  const uint32_t captured = record.length - payloadOffset;
  const uint32_t size = std::min(packet.payloadLength, captured);
  AnarizePacket entry{record.fileOffset, packet.timestamp, payloadOffset, record.packetNumber,
                      size, newUnit ? 1u : 0u, row};
  if (!buffer.Append(record.data + payloadOffset, size, entry)) ++droppedPayloads_;
}

void CRTP_Parser::FinishPass() {
  for (size_t i = 0; i < streams_.size(); ++i) {
    StreamState& state = states_[i];
    if (!state.buffer || state.buffer->Pending() == 0) continue;
    CodecSlot& slot = slots_[streams_[i].codecSlot];
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

// Stream objects report frames in packet order, so the search resumes where it ended.
void CRTP_Parser::OnFrameAdded(uint32_t frameIndex, uint32_t streamId, uint64_t, uint32_t,
                               uint32_t packetNumber) {
  const uint64_t count = packets_.GetCount();
  if (frameSearchPosition_ >= count) frameSearchPosition_ = 0;
  const RtpPacketEntry* at = packets_.GetEntry(frameSearchPosition_, nullptr);
  if (at != nullptr && packetNumber < at->packetNumber) frameSearchPosition_ = 0;
  for (uint64_t i = frameSearchPosition_; i < count; ++i) {
    RtpPacketEntry* e = packets_.GetMutableEntry(i);
    if (e->packetNumber == packetNumber && e->streamIndex + 1u == streamId) {
      e->frameIndex = frameIndex;
      frameSearchPosition_ = i;
      return;
    }
    if (e->packetNumber > packetNumber) break;
  }
}

}  // namespace fennik
