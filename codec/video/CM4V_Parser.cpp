#include "codec/video/CM4V_Parser.h"

#include <algorithm>
#include <string_view>

#include "base/DebugPrint.h"
#include "base/BitReader.h"
#include "codec/video/H263Syntax.h"
#include "codec/video/H263Views.h"
#include "codec/video/M4VViews.h"
#include "stream/CAnarizeBuffer.h"
#include "view/NumberFormat.h"

namespace fennik {
namespace {

constexpr size_t kNoPosition = ~size_t{0};

bool IsConfigurationCode(uint32_t code) { return code <= kM4vVolLast || code == kM4vVosStart || code == kM4vVisualObject; }

// The probe of an unnamed stream (ISO/IEC 14496-2 start codes): VOS then visual object, or a
// VOP start code early in the data.
bool ProbeMpeg4Visual(const uint8_t* data, size_t length) {
  size_t pos = FindM4vStartCode(data, length, 0);
  if (pos >= 512) return false;
  int state = 0;
  while (pos + 4 <= length) {
    const uint32_t code = data[pos + 3];
    if (code == kM4vVosStart) {
      if (state == 0) state = 1;
    } else if (code == kM4vVisualObject) {
      if (state == 1) state = 2;
    } else if (code == kM4vVopStart) {
      if (state == 0 && pos < 4096) state = 2;
    } else {
      state = 0;
    }
    if (state >= 2) return true;
    pos = FindM4vStartCode(data, length, pos + 4);
  }
  return false;
}

// short_video_start_marker (22 bits 0000 0000 0000 0000 1000 00, byte-aligned) at `pos`.
bool ShortVideoStartAt(const uint8_t* data, size_t size, size_t pos) {
  return pos + 3 <= size && data[pos] == 0 && data[pos + 1] == 0 && (data[pos + 2] & 0xFC) == 0x80;
}

// The next short_video_start_marker or short_video_end_marker (…1111 11) at or after `from`;
// `size` when none.
size_t FindShortVideoMarker(const uint8_t* data, size_t size, size_t from) {
  for (size_t i = from; i + 3 <= size; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && ((data[i + 2] & 0xFC) == 0x80 || (data[i + 2] & 0xFC) == 0xFC)) return i;
  return size;
}

}  // namespace

void CM4V_Parser::TakeConfiguration(const uint8_t* data, size_t size) {
  M4vHeaders h;
  h.vo = config_.vo;
  ReadM4vFrameHeaders(data, size, h);
  if (h.vos.valid) config_.vos = h.vos;
  if (h.vo.valid) config_.vo = h.vo;
  if (h.vol.valid) config_.vol = h.vol;
}

void CM4V_Parser::AddConfiguration(const uint8_t* data, size_t size) {
  TakeConfiguration(data, size);
  outOfBand_ = outOfBand_ || config_.vol.valid;
}

// RFC 3016 5.2: config= is the hexadecimal VOS, VO and VOL headers.
void CM4V_Parser::OnMediaFormat() {
  const auto config = Fmtp("config");
  if (!config) return;
  const std::vector<uint8_t> bytes = DecodeM4vConfig(config->data(), config->size());
  if (bytes.empty()) {
    DebugPrint("[MPEG4] config= is not hexadecimal\n");
    return;
  }
  AddConfiguration(bytes.data(), bytes.size());
}

int CM4V_Parser::Open(const uint8_t* data, size_t length, int32_t codecType) {
  if (codecType == -1) {
    if (data == nullptr || !ProbeMpeg4Visual(data, length)) return 0;
    DebugPrint("detected MPEG-4 Vitual\n");
  } else if (codecType == kCodecMpeg4VisualAlt || createdAs_ == kCodecMpeg4VisualAlt) {
    return 1;
  }
  if (data != nullptr) {
    // The first configuration headers of the data, up to the end of the first VOL.
    size_t pos = FindM4vStartCode(data, length, 0);
    while (pos + 4 <= length && data[pos + 3] != kM4vVopStart) pos = FindM4vStartCode(data, length, pos + 4);
    TakeConfiguration(data, std::min(pos, length));
    // Without configuration headers, a stream whose data begins with a short-video-header
    // picture (ISO/IEC 14496-2 6.2.5.1, H.263 baseline) takes its size from that picture.
    const size_t first = FindShortVideoMarker(data, length, 0);
    if (!config_.vol.valid && first < 4 && ShortVideoStartAt(data, length, first)) {
      BitReader br(data + first, length - first);
      H263PictureHeader h;
      if (ReadH263PictureHeader(br, kCodecTypeH263, nullptr, h) && !h.plusptype) {
        shortHeader_ = true;
        config_.vol.shortVideoHeader = true;
        config_.vol.width = h.width;
        config_.vol.height = h.height;
        DebugPrint("[MPEG4] video_plane_with_short_header() %ux%u\n", h.width, h.height);
        return 1;
      }
    }
  }
  return config_.vol.valid || shortHeader_ ? 1 : 0;
}

void CM4V_Parser::ResetDecoder() {
  currentFrame_ = kNone;
  PrepareDecode();
  decoder_.ResetPictures();
  decodeHeaders_ = M4vHeaders();
  decodeHeaders_.vos = config_.vos;
  decodeHeaders_.vo = config_.vo;
  decodeHeaders_.vol = config_.vol;
}

void CM4V_Parser::PrepareDecode() {
  decodedVops_ = 0;
  decodeErrors_ = 0;
}

// One frame's bytes: configuration and GOV headers as met, then its VOP (or a short-video-
// header picture). The result is 1 when a picture was decoded.
uint32_t CM4V_Parser::DecodePicture(const uint8_t* data, uint32_t length, uint32_t frameNumber) {
  if (!decodeHeaders_.vol.valid && config_.vol.valid) {
    decodeHeaders_.vos = config_.vos;
    decodeHeaders_.vo = config_.vo;
    decodeHeaders_.vol = config_.vol;
  }
  if (length >= 4 && data[0] == 0 && data[1] == 0 && (data[2] & 0xFC) == 0x80) {
    const int result = decoder_.DecodeShortHeader(data, length, frameNumber);
    decodedVops_ += result == 1 ? 1 : 0;
    return static_cast<uint32_t>(result);
  }
  uint32_t result = 0;
  M4vHeaders& h = decodeHeaders_;
  size_t pos = FindM4vStartCode(data, length, 0);
  while (pos + 4 <= length) {
    const uint32_t code = data[pos + 3];
    const size_t rest = length - pos;
    size_t used = 0;
    if (code == kM4vVosEnd) {
      DebugPrint("MPEG-4 Video: detected sequence end\n");
      break;
    } else if (code == kM4vVosStart) {
      used = h.vosBytes = ReadM4vVos(data + pos, rest, h.vos);
    } else if (code == kM4vVisualObject) {
      used = ReadM4vVisualObject(data + pos, rest, h.vo);
    } else if (code == kM4vGovStart) {
      used = h.govBytes = ReadM4vGov(data + pos, rest, h.gov);
    } else if (code <= kM4vVolLast) {
      M4vVol vol;
      used = ReadM4vVol(data + pos, rest, h.vo.valid ? h.vo.visual_object_verid : 1, vol);
      if (used > 0) h.vol = vol, h.volBytes = used;
    } else if (code == kM4vVopStart) {
      // The VOP's data runs to the next start code (resync markers never look like one).
      const size_t end = FindM4vStartCode(data, length, pos + 4);
      if (decoder_.DecodeVop(data + pos, end - pos, h.vol, frameNumber) == 1) {
        ++decodedVops_;
        result = 1;
      } else {
        ++decodeErrors_;
      }
      used = end - pos;
    } else if (code == kM4vUserData) {
      used = 4;  // user data: nothing to decode
    } else {
      DebugPrint("MPEG-4 Video: decode error %08X\n", 0x100u | code);
      used = 4;
    }
    if (used == 0) {
      DebugPrint("MPEG-4 Video: decode enough data\n");
      return 0;
    }
    pos = FindM4vStartCode(data, length, pos + std::max<size_t>(used, 4));
  }
  return result;
}

bool CM4V_Parser::GetCurrentPicture(CVideoFrame& out) {
  const CVideoFrame* p = decoder_.CurrentPicture();
  return p != nullptr && out.CopyFrom(*p);
}

bool CM4V_Parser::GetNextPicture(CVideoFrame& out) {
  const CVideoFrame* p = decoder_.TakeOutput();
  return p != nullptr && out.CopyFrom(*p);
}

void CM4V_Parser::FlushPictures() { decoder_.FlushOutput(); }

int CM4V_Parser::GetVideoFormat(VideoFormat& format) {
  format = VideoFormat();
  format.formatCode = kCodecMpeg4Visual;
  format.width = config_.vol.width;
  format.height = config_.vol.height;
  format.pictureFormat = kPictureYuv420;
  format.fieldFlag = 0;
  format.frameDuration = 33333;
  return 1;
}

MacroblockGeometry CM4V_Parser::Geometry() const {
  // Widths rounded up to whole macroblocks, so that a row holds every macroblock of it.
  MacroblockGeometry g;
  const uint32_t width = decoder_.MacroblockCount() > 0 ? decoder_.Width() : config_.vol.width;
  const uint32_t height = decoder_.MacroblockCount() > 0 ? decoder_.Height() : config_.vol.height;
  g.width = (width + 15) / 16 * 16;
  g.height = (height + 15) / 16 * 16;
  g.count = (g.width / 16) * (g.height / 16);
  return g;
}

VideoAccessFlags CM4V_Parser::AccessFlags(const FrameEntry& e) const {
  const M4vFrameFields f = M4vFields(e);
  // B-VOPs after an I-VOP may refer to the VOP before it: the walk starts one random-access
  // point earlier (idr false).
  return {f.randomAccessIndex, (f.flags & kM4vRandomAccess) != 0, false, (f.flags & kM4vReference) != 0};
}

// Frame-list building: one frame per VOP. Configuration headers (VOS, VO, VOL) or a GOV
// header before a VOP make its frame begin there and a random-access point. The analysis
// hands over whole access units, so a VOP with no start code after it runs to the end.
size_t CM4V_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  if (shortHeader_) return ParseShortHeader(streamId, descriptor);
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  streamId_ = streamId;
  frames_.SetPacketSource(nullptr);
  const uint8_t* data = buffer->Data() + buffer->Consumed();
  const size_t n = buffer->Pending();
  size_t pos = 0;
  bool ended = false;
  while (!ended) {
    size_t configStart = kNoPosition, govStart = kNoPosition, vop = kNoPosition;
    size_t p = FindM4vStartCode(data, n, pos);
    for (; p + 4 <= n; p = FindM4vStartCode(data, n, p + 4)) {
      const uint32_t code = data[p + 3];
      if (code == kM4vVosStart) {
        configStart = p;
      } else if (code <= kM4vVolLast || code == kM4vVisualObject) {
        configStart = std::min(configStart, p);
      } else if (code == kM4vGovStart) {
        if (p + 8 <= n) govStart = p;
      } else if (code == kM4vVosEnd) {
        pos = p + 4;
        ended = true;
        break;
      } else if (code == kM4vVopStart) {
        vop = p;
        break;
      }
    }
    if (vop == kNoPosition) break;
    const uint32_t type = vop + 4 < n ? data[vop + 4] >> 6 : 0;
    size_t end = n;
    for (size_t e = FindM4vStartCode(data, n, vop + 4); e + 4 <= n; e = FindM4vStartCode(data, n, e + 4)) {
      const uint32_t code = data[e + 3];
      if (IsConfigurationCode(code) || code == kM4vGovStart || code == kM4vVopStart) {
        end = e;
        break;
      }
      if (code == kM4vVosEnd) {
        end = e + 4;
        break;
      }
    }
    const size_t start = configStart != kNoPosition ? configStart : govStart != kNoPosition ? govStart : vop;
    const bool randomAccess = start != vop;
    if (configStart != kNoPosition) TakeConfiguration(data + configStart, vop - configStart);
    const uint32_t index = static_cast<uint32_t>(frames_.GetCount());
    if (randomAccess) randomAccessIndex_ = index;
    M4vFrameFields fields{};
    fields.randomAccessIndex = randomAccessIndex_;
    uint16_t flags = static_cast<uint16_t>((type + 1) | kM4vAlways);
    // I, P and S VOPs are references: B-VOPs, and P-VOPs after a GMC S-VOP, predict from them.
    if (type != 2) flags |= kM4vReference;
    if (randomAccess) flags |= kM4vRandomAccess;
    fields.flags = flags;
    FrameEntry entry;
    entry.size = static_cast<uint32_t>(end - start);
    entry.frameNumber = index;
    entry.streamId = streamId;
    SetCodecFields(entry, fields);
    AddFrame(streamId, start, entry, descriptor);
    pos = end;
  }
  return std::min(pos, n);
}

// Frame-list building of a short-video-header stream: one frame per picture, from its
// short_video_start_marker to the next marker (an end marker stays with the picture before
// it); INTRA pictures are random-access points.
size_t CM4V_Parser::ParseShortHeader(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  streamId_ = streamId;
  frames_.SetPacketSource(nullptr);
  const uint8_t* data = buffer->Data() + buffer->Consumed();
  const size_t n = buffer->Pending();
  size_t pos = FindShortVideoMarker(data, n, 0);
  while (pos < n) {
    if (!ShortVideoStartAt(data, n, pos)) {  // an end marker: nothing follows it
      pos = std::min(n, pos + 3);
      break;
    }
    size_t end = FindShortVideoMarker(data, n, pos + 3);
    if (end < n && !ShortVideoStartAt(data, n, end)) end = std::min(n, end + 3);
    BitReader br(data + pos, end - pos);
    H263PictureHeader h;
    const bool ok = ReadH263PictureHeader(br, kCodecTypeH263, nullptr, h);
    const uint32_t type = ok && h.type == kH263PictureP ? 1 : 0;
    const uint32_t index = static_cast<uint32_t>(frames_.GetCount());
    if (type == 0) randomAccessIndex_ = index;
    M4vFrameFields fields{};
    fields.randomAccessIndex = randomAccessIndex_;
    fields.flags = static_cast<uint16_t>((type + 1) | kM4vAlways | kM4vReference | (type == 0 ? kM4vRandomAccess : 0));
    FrameEntry entry;
    entry.size = static_cast<uint32_t>(end - pos);
    entry.frameNumber = index;
    entry.streamId = streamId;
    SetCodecFields(entry, fields);
    AddFrame(streamId, pos, entry, descriptor);
    pos = end;
  }
  return std::min(pos, n);
}

int CM4V_Parser::GetFrameHeader(uint32_t index, M4vHeaders& h) {
  h = M4vHeaders();
  if (outOfBand_) {
    h.vos = config_.vos;
    h.vo = config_.vo;
    h.vol = config_.vol;
  }
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(index, &address, &e)) return 0;
  const M4vFrameFields f = M4vFields(e);
  if (!(f.flags & kM4vRandomAccess) && f.randomAccessIndex < index) {
    uint32_t size = 0;
    const uint8_t* data = GetFrameData(f.randomAccessIndex, &size, nullptr);
    if (data != nullptr) ReadM4vFrameHeaders(data, size, h);
    h.gov = M4vGov();
    h.vop = M4vVop();
    h.packet = M4vVideoPacket();
    h.govBytes = h.vopBytes = 0;
  }
  uint32_t size = 0;
  const uint8_t* data = GetFrameData(index, &size, nullptr);
  if (data == nullptr) return 0;
  ReadM4vFrameHeaders(data, size, h);
  return 1;
}

void CM4V_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(index, &address, &e)) return;
  if (shortHeader_) {
    tree.Title("MPEG-4 VISUAL INFORMATION");
    tree.FieldText(0, "Video Format Type", 0, colour::kField, "MPEG-4 Video (short video header)");
    tree.FieldText(0, "Picture type", 0, colour::kField,
                   (M4vFields(e).flags & kM4vCodingTypeMask) == 1 ? "I picture" : "P picture");
    tree.FieldText(0, "Chroma format", 0, colour::kField, "4:2:0");
    tree.FieldText(0, "Image Size (x,y)", 0, colour::kField, Printf("%u x %u", config_.vol.width, config_.vol.height));
    return;
  }
  if (detailsIndex_ != index) {
    if (!GetFrameHeader(index, details_)) return;
    detailsIndex_ = index;
  }
  PrintM4vFrameSummary(details_, tree);
}

void CM4V_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  if (shortHeader_) {
    uint32_t size = 0;
    const uint8_t* data = GetFrameData(index, &size, nullptr);
    if (data == nullptr) return;
    BitReader br(data, size);
    H263PictureHeader h;
    const bool ok = ReadH263PictureHeader(br, kCodecTypeH263, nullptr, h);
    PrintH263PictureHeader(h, ok, tree);
    return;
  }
  if (detailsIndex_ != index) {
    if (!GetFrameHeader(index, details_)) return;
    detailsIndex_ = index;
  }
  PrintM4vSyntax(details_, tree);
}

void CM4V_Parser::ShowMacroblock(CFieldTree& tree, uint32_t index, uint32_t mb) {
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(index, &address, &e) || DecodeFrame(index) == ~uint64_t{0}) return;
  tree.Title("MPEG-4 VISUAL INFORMATION");
  tree.Field(0, "Number of frames", 0, kModeDecimal, colour::kField, 0, static_cast<int64_t>(frames_.GetCount()));
  tree.Field(0, "File address", 48, kModeHex, colour::kField, address + e.frameOffset, static_cast<int64_t>(address + e.frameOffset));
  tree.Field(0, "Frame size", 0, kModeDecimal, colour::kField, 0, e.size, "", "bytes");
  tree.FieldText(0, "Image Size (x,y)", 0, colour::kField, Printf("%u x %u", decoder_.Width(), decoder_.Height()));
  static const char* const kPicture[] = {"", "I picture", "P picture", "B picture", "S picture"};
  tree.FieldText(0, "Picture type", 0, colour::kField, kPicture[std::min<uint16_t>(M4vFields(e).flags & kM4vCodingTypeMask, 4)]);
  tree.FieldText(0, "Chroma format", 0, colour::kField, "4:2:0");
  tree.Field(0, "Number of macro block", 0, kModeDecimal, colour::kField, 0, decoder_.MacroblockCount());
  PrintM4vMacroblock(decoder_.Macroblock(mb), mb, decoder_.MacroblocksPerRow(), decodeHeaders_.vol, decoder_.LastVop(), tree);
}

bool CM4V_Parser::MacroblockMark(uint32_t mb, VideoMacroblockMark& out) const {
  if (mb >= decoder_.MacroblockCount()) return false;
  const M4vMacroblock* m = decoder_.Macroblock(mb);
  out = {};
  if (m == nullptr) return true;  // not reached by the VOP decoded last
  out.decoded = true;
  out.intra = m->intra;
  out.skip = m->not_coded;
  out.slice = static_cast<int>(m->packet);
  return true;
}

std::unique_ptr<CView_VideoFrameList> CM4V_Parser::CreateFrameList() { return std::make_unique<CView_Mp4vList>(*this); }

}  // namespace fennik
