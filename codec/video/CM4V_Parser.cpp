#include "codec/video/CM4V_Parser.h"

#include <algorithm>
#include <string_view>

#include "base/DebugPrint.h"
#include "codec/video/M4VViews.h"
#include "stream/CAnarizeBuffer.h"

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
  }
  return config_.vol.valid ? 1 : 0;
}

void CM4V_Parser::ResetDecoder() {
  currentFrame_ = kNone;
}

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
  MacroblockGeometry g;
  g.width = (config_.vol.width + 15) / 16 * 16;
  g.height = (config_.vol.height + 15) / 16 * 16;
  g.count = config_.vol.MacroblockCount();
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
    if (type <= 1) flags |= kM4vReference;
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
  if (detailsIndex_ != index) {
    if (!GetFrameHeader(index, details_)) return;
    detailsIndex_ = index;
  }
  PrintM4vFrameSummary(details_, tree);
}

void CM4V_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  if (detailsIndex_ != index) {
    if (!GetFrameHeader(index, details_)) return;
    detailsIndex_ = index;
  }
  PrintM4vSyntax(details_, tree);
}

}  // namespace fennik
