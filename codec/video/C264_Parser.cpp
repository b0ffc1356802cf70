#include "codec/video/C264_Parser.h"

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"
#include "base/DebugPrint.h"
#include "codec/video/C263_Parser.h"
#include "codec/video/CM4V_Parser.h"
#include "codec/video/VideoCodecs.h"
#include "h264/H264Nal.h"
#include "stream/CSupportCodec.h"

namespace fennik {
namespace {

constexpr size_t kRbspBufferSize = 0x400000;
constexpr size_t kMaxPayload = 0x3FFFFF;
// Bytes of a slice's RBSP kept for its syntax view (the header lies well within).
constexpr size_t kSliceRbspKept = 4096;
constexpr size_t kSliceHeaderFirstBytes = 128;

// Flag bits 0-2 from slice_type: slice_type modulo 5 gives P, B, I, SP, SI.
uint16_t PictureTypeFlag(uint32_t slice_type) {
  static const uint16_t kByKind[5] = {2, 3, 1, 5, 4};
  return slice_type < 10 ? kByKind[slice_type % 5] : 0;
}

// A slice whose parameter sets are missing is read against zeroed ones.
const H264Sps& ZeroSps() {
  static const H264Sps sps = [] {
    H264Sps s;
    s.valid = true;
    return s;
  }();
  return sps;
}
const H264Pps& ZeroPps() {
  static const H264Pps pps = [] {
    H264Pps p;
    p.valid = true;
    return p;
  }();
  return pps;
}

struct ParseStores {
  const H264Sps* sps;
  const std::map<uint32_t, H264Pps>* pps;
};
const H264Sps* LookupSps(const void* ctx, uint32_t) {
  const H264Sps* sps = static_cast<const ParseStores*>(ctx)->sps;
  return sps->valid ? sps : &ZeroSps();
}
const H264Pps* LookupPps(const void* ctx, uint32_t id) {
  const auto& table = *static_cast<const ParseStores*>(ctx)->pps;
  auto it = table.find(id);
  return it != table.end() && it->second.valid ? &it->second : &ZeroPps();
}

}  // namespace

H264FrameFields H264Fields(const FrameEntry& entry) { return GetCodecFields<H264FrameFields>(entry); }

// The RBSP buffer grows to the largest unit met, up to 4 MiB; bytes beyond are not copied.
size_t C264_Parser::Unescape(const uint8_t* nal, size_t size) {
  const size_t need = std::min(size, kRbspBufferSize);
  if (rbsp_.size() < need) rbsp_.resize(need);
  return UnescapeRbsp(nal, size, rbsp_.data(), need);
}

C264_Parser::C264_Parser() : decoder_(std::make_unique<C264_Decode>()) {}
C264_Parser::~C264_Parser() = default;

void C264_Parser::ResetDecoder() {
  decoder_->ResetDecoder();
  currentFrame_ = kNone;
}

int C264_Parser::Open(const uint8_t* data, size_t length, int32_t codecType) {
  DebugPrint("[H.264] open1 : size = %d, type = %d\n", static_cast<int>(length), static_cast<int>(codecType));
  if (GetCodecType() == kCodecH264 && data != nullptr) {
    for (const NalSpan& u : SplitAnnexB(data, length)) {
      if (u.size == 0) continue;
      const int type = NalTypeOf(data[u.offset]);
      if (type == kNalSps || type == kNalPps) decoder_->DecodeNalUnit(data + u.offset, u.size);
    }
  }
  const H264Sps* sps = decoder_->CurrentSps();
  DebugPrint("[H.264] open1 : m_Width = %d, m_Height = %d\n", sps ? static_cast<int>(sps->VisibleWidth()) : 0,
             sps ? static_cast<int>(sps->VisibleHeight()) : 0);
  return 1;
}

void C264_Parser::AddParameterSet(const uint8_t* nal, size_t size) {
  if (size < 2) return;
  const int type = NalTypeOf(nal[0]);
  if (type != kNalSps && type != kNalPps) return;
  decoder_->DecodeNalUnit(nal, size);
  const size_t n = Unescape(nal + 1, size - 1);
  if (type == kNalSps) {
    H264Sps sps;
    if (ParseSps(rbsp_.data(), n, sps)) sps_ = outOfBandSps_ = sps;
  } else {
    H264Pps pps;
    if (ParsePps(rbsp_.data(), n, sps_.valid ? &sps_ : nullptr, pps)) {
      outOfBandPps_[pps.pic_parameter_set_id] = pps;
      ppsTable_[pps.pic_parameter_set_id] = std::move(pps);
    }
  }
}

void C264_Parser::OnMediaFormat() {
  const auto sprop = Fmtp("sprop-parameter-sets");
  if (!sprop) return;
  for (const std::vector<uint8_t>& unit : DecodeSpropParameterSets(*sprop)) AddParameterSet(unit.data(), unit.size());
}

int C264_Parser::GetVideoFormat(VideoFormat& format) {
  const H264Sps* sps = decoder_->CurrentSps();
  format = VideoFormat();
  format.formatCode = 0;
  if (sps != nullptr) {
    format.width = sps->VisibleWidth();
    format.height = sps->VisibleHeight();
    format.pictureFormat = sps->chroma_format_idc == 2 ? kPictureYuv422
                           : sps->chroma_format_idc == 3 ? kPictureYuv444 : kPictureYuv420;
  }
  uint64_t address;
  FrameEntry e;
  if (currentFrame_ != kNone && frames_.Get(currentFrame_, &address, &e)) {
    format.fieldFlag = ((H264Fields(e).flags >> kH264StructureShift) & 3) != 3 ? 1 : 0;
  }
  format.frameDuration = 33333;
  return 1;
}

uint32_t C264_Parser::DecodePicture(const uint8_t* data, uint32_t length, uint32_t frameNumber) {
  return decoder_->Decode(data, length, frameNumber);
}

// VUI timing gives time_scale / (2 * num_units_in_tick) frames per second.
void C264_Parser::SetFrameRateFromSps() {
  if (!takesFrameRate_ || !sps_.valid || !sps_.vui.timing_info_present_flag) return;
  const uint32_t units = sps_.vui.num_units_in_tick, scale = sps_.vui.time_scale;
  if (units == 0 || scale == 0) return;
  const uint64_t rate = uint64_t{scale} * 50 / units * 10;
  if (rate == 0 || rate > 0xFFFFFFFFu) return;
  SetFrameRate(static_cast<uint32_t>(rate), 1000, 0);
}

// Frame-list building for one NAL unit (H.264 7.4.1.2.3: a slice with first_mb_in_slice 0
// begins a new coded picture).
void C264_Parser::HandleNal(const uint8_t* nal, size_t size, size_t position, Pending& p,
                            CPayloadDescriptor& descriptor) {
  if (size == 0) return;
  const uint8_t header = nal[0];
  const int type = NalTypeOf(header);
  auto setStart = [&] {
    if (p.frameStart == kNoStart) p.frameStart = position;
  };
  switch (type) {
    case kNalSps: {
      const size_t n = Unescape(nal + 1, size - 1);
      H264Sps sps;
      if (ParseSps(rbsp_.data(), n, sps)) sps_ = sps;
      if (GetCodecType() != kCodecH264Mp4) decoder_->StoreSps(rbsp_.data(), n);
      randomAccessIndex_ = static_cast<uint32_t>(frames_.GetCount());
      p.spsSeen = true;
      setStart();
      return;
    }
    case kNalPps: {
      const size_t n = Unescape(nal + 1, size - 1);
      H264Pps pps;
      if (ParsePps(rbsp_.data(), n, sps_.valid ? &sps_ : nullptr, pps)) ppsTable_[pps.pic_parameter_set_id] = std::move(pps);
      if (GetCodecType() != kCodecH264Mp4) decoder_->StorePps(rbsp_.data(), n);
      p.ppsSeen = true;
      setStart();
      return;
    }
    case kNalAud:
      p.frameStart = position;
      return;
    case kNalSlice:
    case kNalIdrSlice:
      break;
    default:
      return;
  }
  setStart();
  // Only the slice header is needed: it nearly always lies in the first bytes, and only a
  // header that runs past them (long weight tables) is read again from more.
  ParseStores stores{&sps_, &ppsTable_};
  H264SliceHeader sh;
  for (size_t window : {kSliceHeaderFirstBytes, kSliceRbspKept}) {
    const size_t n = Unescape(nal + 1, std::min<size_t>(size - 1, window));
    if (ParseSliceHeader(rbsp_.data(), n, header, H264ParamLookup{&LookupSps, &LookupPps, &stores}, sh) ||
        size - 1 <= window)
      break;
  }
  if (sh.first_mb_in_slice != 0) {
    // A further slice of the picture.
    const uint64_t count = frames_.GetCount();
    if (count > 0) frames_.AddToSize(count - 1, static_cast<uint32_t>(p.accumulated));
    p.consumed += p.accumulated;
    p.accumulated = 0;
    p.frameStart = kNoStart;
    return;
  }
  const H264Sps& sps = sps_.valid ? sps_ : ZeroSps();
  H264PocState::Result poc;
  if (sh.IsIdr()) pocState_.Reset();
  pocState_.Compute(sps, sh, poc);
  for (int i = 0; i < sh.mmco_count; ++i)
    if (sh.mmco[i].memory_management_control_operation == 5) sh.has_mmco5 = true;
  pocState_.Commit(sps, sh, poc);
  const bool bottom = sh.field_pic_flag && sh.bottom_field_flag;
  const int64_t maxLsb = sps.MaxPicOrderCntLsb();
  int64_t value = bottom ? poc.bottom : poc.top;
  value = ((value % maxLsb) + maxLsb) % maxLsb;

  const uint32_t index = static_cast<uint32_t>(frames_.GetCount());
  // With parameter sets given out of band (sprop-parameter-sets) a stream may never repeat
  // them in band: its IDR pictures are where decoding can start.
  if (sh.IsIdr() && outOfBandSps_.valid) randomAccessIndex_ = index;
  H264FrameFields fields{};
  fields.randomAccessIndex = randomAccessIndex_;
  fields.poc = static_cast<int16_t>(value);
  fields.frameNum = static_cast<uint16_t>(sh.frame_num);
  uint16_t flags = PictureTypeFlag(sh.slice_type);
  if (sh.nal_unit_type == kNalIdrSlice) flags |= kH264Idr;
  if (sh.nal_ref_idc != 0) flags |= kH264Reference;
  if (index == randomAccessIndex_) flags |= kH264RandomAccess;
  if (p.spsSeen) flags |= kH264SpsBefore;
  if (p.ppsSeen) flags |= kH264PpsBefore;
  const uint16_t structure = sps.frame_mbs_only_flag || !sh.field_pic_flag ? 3 : (sh.bottom_field_flag ? 2 : 1);
  flags = static_cast<uint16_t>(flags | (structure << kH264StructureShift));
  fields.flags = flags;
  FrameEntry entry;
  entry.size = static_cast<uint32_t>(p.accumulated);
  entry.frameNumber = index;
  entry.streamId = streamId_;
  SetCodecFields(entry, fields);
  AddFrame(streamId_, p.frameStart, entry, descriptor);
  p.spsSeen = p.ppsSeen = false;
  p.consumed += p.accumulated;
  p.accumulated = 0;
  p.frameStart = kNoStart;
}

// Annex B byte stream: NAL units between start codes. The data handed over is whole access
// units (the analysis calls Parse when the RTP timestamp changes), so the last unit is
// taken too.
size_t C264_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  streamId_ = streamId;
  KeepFullEntries();
  const uint8_t* data = buffer->Data() + buffer->Consumed();
  Pending p;
  p.frameStart = kNoStart;
  for (const NalSpan& u : SplitAnnexB(data, buffer->Pending())) {
    p.accumulated += u.prefix + u.size;
    HandleNal(data + u.offset, u.size, u.offset - u.prefix, p, descriptor);
  }
  SetFrameRateFromSps();
  return p.consumed;
}

size_t C264_Mp4Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  streamId_ = streamId;
  KeepFullEntries();
  const uint8_t* data = buffer->Data() + buffer->Consumed();
  const size_t pending = buffer->Pending();
  Pending p;
  p.frameStart = 0;
  size_t pos = 0;
  while (pending - pos >= 4) {
    const uint32_t length = ReadBE32(data + pos);
    if (uint64_t{length} + 4 > kMaxNalLengthField || length > pending - pos - 4) break;
    p.accumulated += 4 + length;
    HandleNal(data + pos + 4, length, pos, p, descriptor);
    pos += 4 + length;
  }
  return p.consumed;
}

C264_RtpParser::C264_RtpParser() {
  decoder_->SetLengthPrefixed(true);
  takesFrameRate_ = false;
  // Frame-list building reads slice headers and parameter sets: the first bytes of a
  // fragmented unit are enough.
  depacketizer_.SetUnitLimit(2 * kSliceRbspKept);
}

// Parameter-set discovery: the SPS and PPS of the unread payloads (single NAL unit packets
// and STAP-A units) go to the decoder's stores; the open succeeds once an SPS gives a picture
// size.
int C264_RtpParser::OpenDescriptor(uint32_t streamId, CPayloadDescriptor& descriptor, int32_t codecType) {
  DebugPrint("[H.264] open2 : type = %d\n", static_cast<int>(codecType));
  const CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0 || buffer->Packets().empty()) return 0;
  size_t before = 0;
  const size_t consumed = buffer->Consumed();
  for (const AnarizePacket& packet : buffer->Packets()) {
    const size_t start = before;
    before += packet.payloadSize;
    if (before <= consumed || packet.payloadSize == 0) continue;
    const uint8_t* payload = buffer->Data() + start;
    auto take = [&](const uint8_t* nal, size_t n) {
      const int type = NalTypeOf(nal[0]);
      if (n >= 2 && (type == kNalSps || type == kNalPps)) {
        const size_t len = Unescape(nal + 1, n - 1);
        if (type == kNalSps) decoder_->StoreSps(rbsp_.data(), len);
        else decoder_->StorePps(rbsp_.data(), len);
      }
    };
    if (NalTypeOf(payload[0]) == kNalStapA) ForEachStapAUnit(payload, packet.payloadSize, take);
    else take(payload, packet.payloadSize);
  }
  const H264Sps* sps = decoder_->CurrentSps();
  return sps != nullptr && sps->VisibleWidth() != 0 && sps->VisibleHeight() != 0 ? 1 : 0;
}

// RTP payloads one by one (lengths from the packet list). Frames begin and end on payload
// boundaries: a reassembled FU-A unit sits at its start fragment's payload, the units of a
// STAP-A at the aggregation packet's.
size_t C264_RtpParser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0 || buffer->Packets().empty()) return 0;
  streamId_ = streamId;
  KeepFullEntries();
  const uint8_t* data = buffer->Data() + buffer->Consumed();
  const size_t pending = buffer->Pending();
  Pending p;
  p.frameStart = 0;
  size_t fragmentStart = 0;
  size_t before = 0;
  const size_t consumedBefore = buffer->Consumed();
  // Fragments of a unit that straddles two calls are walked again from its first payload.
  depacketizer_.Reset();
  uint32_t previous = 0xFFFFFFFF;
  for (const AnarizePacket& packet : buffer->Packets()) {
    const size_t start = before;
    before += packet.payloadSize;
    if (before <= consumedBefore) {
      previous = packet.sequence;
      continue;
    }
    if (start < consumedBefore) continue;  // a packet consumed only in part: not ours
    const size_t offset = start - consumedBefore;
    const size_t length = packet.payloadSize;
    if (length == 0 || length > kMaxPayload || offset + length > pending) break;
    p.accumulated += length;
    const uint8_t* payload = data + offset;
    const bool continuous = previous == 0xFFFFFFFF || packet.sequence == 0xFFFFFFFF ||
                            packet.sequence == ((previous + 1) & 0xFFFF);
    previous = packet.sequence;
    if (IsFuAStart(payload, length)) fragmentStart = offset;
    const bool fragment = NalTypeOf(payload[0]) == kNalFuA;
    depacketizer_.Feed(payload, length, continuous, [&](const uint8_t* nal, size_t n) {
      HandleNal(nal, n, fragment ? fragmentStart : offset, p, descriptor);
    });
  }
  return p.consumed;
}

int C264_Parser::GetFrameHeader(uint32_t index, H264FrameDetails& details) {
  details = H264FrameDetails();
  details.frameIndex = index;
  details.sps = outOfBandSps_;
  details.pps = outOfBandPps_;
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(index, &address, &e)) return 0;
  const H264FrameFields f = H264Fields(e);
  if (!(f.flags & kH264RandomAccess) && f.randomAccessIndex < index) {
    uint32_t size = 0;
    const uint8_t* data = GetFrameData(f.randomAccessIndex, &size, nullptr);
    if (data != nullptr) ParseNalUnits(data, size, details);
  }
  uint32_t size = 0;
  const uint8_t* data = GetFrameData(index, &size, nullptr);
  if (data == nullptr) return 0;
  ParseNalUnits(data, size, details);
  details_ = details;
  return 1;
}

void C264_Parser::ParseNalUnits(const uint8_t* data, size_t length, H264FrameDetails& details) {
  details.ClearUnits();
  for (const NalSpan& u : SplitAnnexB(data, length)) EnterNal(data + u.offset, u.size, details);
}

void C264_Mp4Parser::ParseNalUnits(const uint8_t* data, size_t length, H264FrameDetails& details) {
  details.ClearUnits();
  for (const NalSpan& u : SplitLengthPrefixed(data, length)) EnterNal(data + u.offset, u.size, details);
}

void C264_RtpParser::ParseNalUnits(const uint8_t* data, size_t length, H264FrameDetails& details) {
  details.ClearUnits();
  CH264Depacketizer depacketizer;
  bool continuous = true;
  for (const NalSpan& u : SplitLengthPrefixed(data, length)) {
    if (u.size == 0) {
      continuous = false;
      continue;
    }
    depacketizer.Feed(data + u.offset, u.size, continuous,
                      [&](const uint8_t* nal, size_t n) { EnterNal(nal, n, details); });
    continuous = true;
  }
}

void C264_Parser::EnterNal(const uint8_t* nal, size_t size, H264FrameDetails& d) {
  if (size == 0 || d.nals.size() >= H264FrameDetails::kMaxNals) return;
  H264NalEntry entry;
  entry.header = nal[0];
  entry.type = static_cast<uint8_t>(NalTypeOf(nal[0]));
  const size_t kept = entry.type == kNalSlice || entry.type == kNalIdrSlice ? kSliceRbspKept : kRbspBufferSize;
  const size_t n = Unescape(nal + 1, std::min(size - 1, kept));
  const uint8_t* rbsp = rbsp_.data();
  switch (entry.type) {
    case kNalSlice:
    case kNalSliceDpa:
    case kNalSliceDpb:
    case kNalSliceDpc:
    case kNalIdrSlice:
      if (d.slices.size() < H264FrameDetails::kMaxSlices && (entry.type == kNalSlice || entry.type == kNalIdrSlice)) {
        ParseStores stores{&d.sps, &d.pps};
        H264SliceHeader sh;
        ParseSliceHeader(rbsp, n, nal[0], H264ParamLookup{&LookupSps, &LookupPps, &stores}, sh);
        entry.ref = static_cast<int32_t>(d.slices.size());
        entry.parsed = true;
        d.slices.push_back(std::move(sh));
      }
      break;
    case kNalSei: {
      const size_t before = d.sei.size();
      entry.ref = static_cast<int32_t>(before);
      ParseSei(nal[0], rbsp, n, d.sei);
      entry.count = static_cast<int32_t>(d.sei.size() - before);
      entry.parsed = true;
      break;
    }
    case kNalSps: {
      H264Sps sps;
      if (ParseSps(rbsp, n, sps)) d.sps = sps;
      entry.parsed = true;
      break;
    }
    case kNalPps: {
      H264Pps pps;
      if (ParsePps(rbsp, n, d.sps.valid ? &d.sps : nullptr, pps)) {
        entry.ref = static_cast<int32_t>(pps.pic_parameter_set_id);
        d.pps[pps.pic_parameter_set_id] = std::move(pps);
      }
      entry.parsed = true;
      break;
    }
    case kNalAud:
      entry.parsed = ParseAud(rbsp, n, d.aud);
      break;
    default:
      break;
  }
  if (entry.parsed) entry.rbsp.assign(rbsp, rbsp + n);
  d.nals.push_back(std::move(entry));
}

void RegisterVideoCodecs() {
  for (int32_t type : {kCodecH263, kCodecH263Variant7, kCodecH263Variant8}) {
    CSupportCodec::RegisterParser(type, [](int32_t codecType) -> std::unique_ptr<CAvStream> {
      return std::make_unique<C263_Parser>(codecType);
    });
  }
  CSupportCodec::RegisterParser(kCodecH264, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<C264_Parser>();
  });
  CSupportCodec::RegisterParser(kCodecH264Mp4, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<C264_Mp4Parser>();
  });
  CSupportCodec::RegisterParser(kCodecH264Rtp, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<C264_RtpParser>();
  });
  for (int32_t type : {kCodecMpeg4Visual, kCodecMpeg4VisualAlt}) {
    CSupportCodec::RegisterParser(type, [](int32_t created) -> std::unique_ptr<CAvStream> {
      return std::make_unique<CM4V_Parser>(created);
    });
  }
}

}  // namespace fennik
