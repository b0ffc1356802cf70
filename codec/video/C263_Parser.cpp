#include "codec/video/C263_Parser.h"

#include "codec/video/H263Views.h"

#include "base/DebugPrint.h"
#include "view/CFieldTree.h"

namespace fennik {
namespace {

// Frame-entry picture type from the header's picture coding type (0 I .. 5 EP).
uint16_t PictureTypeFlag(const H263PictureHeader& h) {
  static const uint16_t kByType[7] = {1, 2, 4, 3, 5, 6, 0};
  return kByType[h.type <= kH263PictureReserved ? h.type : kH263PictureReserved];
}

}  // namespace

const char* H263PictureTypeText(uint16_t flags) {
  static const char* kText[8] = {"", "I", "P", "B", "PB", "SI", "SP", ""};
  return kText[flags & kH263PictureTypeMask];
}

C263_Parser::C263_Parser(int32_t codecType)
    : codecType_(codecType), decoder_(std::make_unique<C263_Decode>(codecType)) {}
C263_Parser::~C263_Parser() = default;

void C263_Parser::ResetDecoder() {
  decoder_->ResetDecoder();
  pictureReady_ = false;
  currentFrame_ = kNone;
}

// Picture start code (H.263 5.1.1): the 22 bits 0000 0000 0000 0000 1000 00, byte-aligned
// here; Sorenson H.263 uses a 17-bit code followed by a 5-bit version of 0 or 1.
size_t C263_Parser::FindStartCode(const uint8_t* data, size_t size, size_t from) const {
  const uint32_t mask = codecType_ == kCodecH263Variant8 ? 0xFFFFF8 : 0xFFFFFC;
  for (size_t i = from; i + 2 < size; ++i) {
    if (data[i] != 0 || data[i + 1] != 0) continue;
    if (((uint32_t{data[i + 2]}) & (mask & 0xFF)) == 0x80) return i;
  }
  return size;
}

int C263_Parser::Open(const uint8_t* data, size_t length, int32_t codecType) {
  if (data == nullptr || length == 0) return 0;
  if (codecType == static_cast<int32_t>(0xFFFFFFFF)) {
    // Probe: a picture start code (with the PTYPE marker bits 10) in the first 512 bytes.
    const size_t window = length < 512 ? length : 512;
    size_t found = 0;
    for (size_t i = 0; i + 3 < window; ++i)
      if (data[i] == 0 && data[i + 1] == 0 && (data[i + 2] & 0xFC) == 0x80 && (data[i + 3] & 0x03) == 0x02) ++found;
    if (found == 0) return 0;
    codecType_ = kCodecH263;
    decoder_->SetCodecType(codecType_);
  }
  const size_t start = FindStartCode(data, length, 0);
  if (start < length) {
    BitReader br(data + start, length - start);
    H263PictureHeader h;
    if (ReadH263PictureHeader(br, codecType_, nullptr, h)) {
      width_ = h.width;
      height_ = h.height;
      DebugPrint("[H.263] width =%d, height = %d\n", static_cast<int>(width_), static_cast<int>(height_));
    }
  }
  return 1;
}

// Frame-list building: one entry per picture, from its start code to the next one (or to the
// end of the handed-over bytes, which the analysis gives as whole RTP access units).
size_t C263_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  streamId_ = streamId;
  const uint8_t* data = buffer->Data() + buffer->Consumed();
  const size_t size = buffer->Pending();
  size_t pos = FindStartCode(data, size, 0);
  if (pos >= size) return 0;
  while (pos < size) {
    const size_t next = FindStartCode(data, size, pos + 3);
    const size_t length = next - pos;
    BitReader br(data + pos, length);
    H263PictureHeader h;
    const bool ok = ReadH263PictureHeader(br, codecType_, parseModes_.present ? &parseModes_ : nullptr, h);
    if (ok && h.plusptype && h.ufep == 1) parseModes_ = h.opptype;
    if (ok && width_ == 0) {
      width_ = h.width;
      height_ = h.height;
    }
    const uint32_t index = static_cast<uint32_t>(frames_.GetCount());
    uint16_t flags = ok ? PictureTypeFlag(h) : 0;
    if ((flags & kH263PictureTypeMask) == 1) randomAccessIndex_ = index;
    flags |= kH263AlwaysSet;
    if ((flags & kH263PictureTypeMask) == 1 || (flags & kH263PictureTypeMask) == 2) flags |= kH263Reference;
    H263FrameFields fields{};
    fields.randomAccessIndex = randomAccessIndex_;
    fields.temporalReference = ok ? h.tr : 0;
    fields.flags = flags;
    FrameEntry entry;
    entry.size = static_cast<uint32_t>(length);
    entry.frameNumber = index;
    entry.streamId = streamId;
    SetCodecFields(entry, fields);
    AddFrame(streamId, pos, entry, descriptor);
    pos = next;
  }
  return size;
}

// The walk starts at the frame's last INTRA picture; I and P pictures are references.
VideoAccessFlags C263_Parser::AccessFlags(const FrameEntry& entry) const {
  const H263FrameFields f = GetCodecFields<H263FrameFields>(entry);
  VideoAccessFlags a;
  a.randomAccessIndex = f.randomAccessIndex;
  a.randomAccessPoint = (f.flags & kH263PictureTypeMask) == 1;
  a.idr = a.randomAccessPoint;
  a.reference = (f.flags & kH263Reference) != 0;
  return a;
}

uint32_t C263_Parser::DecodePicture(const uint8_t* data, uint32_t length, uint32_t frameNumber) {
  const int result = decoder_->DecodePicture(data, length, frameNumber);
  pictureReady_ = result == 1;
  if (result == 1) {
    width_ = decoder_->Width();
    height_ = decoder_->Height();
  }
  return static_cast<uint32_t>(result);
}

bool C263_Parser::GetCurrentPicture(CVideoFrame& out) {
  const CVideoFrame* p = decoder_->GetCurrentPicture();
  return p != nullptr && out.CopyFrom(*p);
}

// Pictures come out in decoding order (no B-pictures are decoded): each once.
bool C263_Parser::GetNextPicture(CVideoFrame& out) {
  if (!pictureReady_) return false;
  pictureReady_ = false;
  return GetCurrentPicture(out);
}

int C263_Parser::GetVideoFormat(VideoFormat& format) {
  format = VideoFormat();
  format.formatCode = static_cast<uint32_t>(codecType_);
  format.width = width_;
  format.height = height_;
  format.pictureFormat = kPictureYuv420;
  format.frameDuration = 33333;
  return 1;
}

MacroblockGeometry C263_Parser::Geometry() const {
  // The size of the picture decoded last (the first header's before), widths rounded up to
  // whole macroblocks so that a row holds every macroblock of it.
  MacroblockGeometry g;
  const bool decoded = decoder_->MacroblockCount() > 0;
  g.width = ((decoded ? decoder_->Width() : width_) + 15) / 16 * 16;
  g.height = ((decoded ? decoder_->Height() : height_) + 15) / 16 * 16;
  g.count = (g.width / 16) * (g.height / 16);
  return g;
}

int C263_Parser::GetFrameHeader(uint32_t index, H263PictureHeader& header, bool& ok) {
  ok = false;
  uint32_t size = 0;
  uint64_t address = 0;
  const uint8_t* data = GetFrameData(index, &size, &address);
  if (data == nullptr || size == 0) return 0;
  // PLUSPTYPE pictures with UFEP 0 keep the modes of the last picture that sent them.
  H263Opptype modes;
  for (uint32_t k = index; k-- > 0 && !modes.present;) {
    uint32_t n = 0;
    uint64_t a = 0;
    const uint8_t* d = GetFrameData(k, &n, &a);
    if (d == nullptr) break;
    BitReader br(d, n);
    H263PictureHeader earlier;
    if (ReadH263PictureHeader(br, codecType_, nullptr, earlier) && earlier.plusptype && earlier.ufep == 1)
      modes = earlier.opptype;
    if (index - k > 64) break;
  }
  data = GetFrameData(index, &size, &address);
  if (data == nullptr) return 0;
  BitReader br(data, size);
  ok = ReadH263PictureHeader(br, codecType_, modes.present ? &modes : nullptr, header);
  return 1;
}

void C263_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(index, &address, &e)) return;
  tree.Title("H.263 VIDEO INFORMATION");
  tree.Field(0, "File address", 48, kModeHex, colour::kField, address + e.frameOffset, static_cast<int64_t>(address + e.frameOffset));
  tree.Field(0, "Number of Pictue", 0, kModeDecimal, colour::kField, 0, index);
  const char* format = codecType_ == kCodecH263Variant8 ? "Sorenson H.263"
                       : codecType_ == kCodecH263Variant7 ? "I263 (H.263 Video)" : "H.263 Video";
  tree.FieldText(0, "Video Format Type", 0, colour::kField, format);
  tree.FieldText(0, "Image Size (x,y)", 0, colour::kField, std::to_string(width_) + " x " + std::to_string(height_));
  const H263FrameFields f = GetCodecFields<H263FrameFields>(e);
  tree.FieldText(0, "Picture type", 0, colour::kField, H263PictureTypeText(f.flags));
  tree.Field(0, "Frame size", 0, kModeDecimal, colour::kField, 0, e.size, "", "bytes");
}

void C263_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  H263PictureHeader h;
  bool ok = false;
  if (!GetFrameHeader(index, h, ok)) return;
  PrintH263PictureHeader(h, ok, tree);
}

void C263_Parser::ShowMacroblock(CFieldTree& tree, uint32_t index, uint32_t mb) {
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(index, &address, &e) || DecodeFrame(index) == ~uint64_t{0}) return;
  const H263MacroblockInfo* info = decoder_->Macroblock(mb);
  if (info == nullptr) return;
  tree.Title("H.263 VIDEO INFORMATION");
  tree.Field(0, "Number of frames", 0, kModeDecimal, colour::kField, 0, static_cast<int64_t>(frames_.GetCount()));
  tree.Field(0, "File address", 48, kModeHex, colour::kField, address + e.frameOffset, static_cast<int64_t>(address + e.frameOffset));
  tree.Field(0, "Frame size", 0, kModeDecimal, colour::kField, 0, e.size, "", "bytes");
  tree.FieldText(0, "Image Size (x,y)", 0, colour::kField, std::to_string(width_) + " x " + std::to_string(height_));
  tree.FieldText(0, "Picture type", 0, colour::kField, H263PictureTypeText(GetCodecFields<H263FrameFields>(e).flags));
  tree.FieldText(0, "Chroma format", 0, colour::kField, "4:2:0");
  tree.Field(0, "Number of macro block", 0, kModeDecimal, colour::kField, 0, decoder_->MacroblockCount());
  PrintH263Macroblock(*info, mb, (decoder_->Width() + 15) / 16, tree);
}

bool C263_Parser::MacroblockMark(uint32_t mb, VideoMacroblockMark& out) const {
  const H263MacroblockInfo* info = decoder_->Macroblock(mb);
  if (info == nullptr) return false;
  out.decoded = info->decoded;
  out.intra = info->mb_type == kH263MbIntra || info->mb_type == kH263MbIntraQ;
  out.skip = info->mb_type == kH263MbNotCoded;
  return true;
}

std::unique_ptr<CView_VideoFrameList> C263_Parser::CreateFrameList() { return std::make_unique<CView_263List>(*this); }

}  // namespace fennik
