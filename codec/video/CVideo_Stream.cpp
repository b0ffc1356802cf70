#include "codec/video/CVideo_Stream.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

#include "base/DebugPrint.h"

namespace fennik {

void CVideo_Stream::AttachView(CViewHost*) {
  GetVideoFormat(format_);
  if (frameCapacity_ == 0) ReserveFrameBuffer(kFrameBufferSize);
}

void CVideo_Stream::ReserveFrameBuffer(size_t bytes) {
  if (frameCapacity_ >= bytes) return;
  frameBuffer_.reset();
  frameCapacity_ = 0;
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  frameBuffer_ = std::unique_ptr<uint8_t[], UnmapBytes>(static_cast<uint8_t*>(p), UnmapBytes{bytes});
  frameCapacity_ = bytes;
}

void CVideo_Stream::UnmapBytes::operator()(uint8_t* bytes) const { munmap(bytes, size); }

VideoAccessFlags CVideo_Stream::AccessFlags(const FrameEntry& e) const {
  const H264FrameFields f = GetCodecFields<H264FrameFields>(e);
  return {f.randomAccessIndex, (f.flags & kH264RandomAccess) != 0, (f.flags & kH264Idr) != 0,
          (f.flags & kH264Reference) != 0};
}

// The frame's bytes from its first packet's payload on. The loader is asked for the frame's
// payload bytes plus its lead in the first packet; with length prefixes (H.264 in RTP) the
// buffer needs room for those too, so it grows until the loader no longer reports
// kTooLarge.
const uint8_t* CVideo_Stream::FetchFrame(const FrameEntry& e, uint64_t address) {
  if (source_ == nullptr || e.frameOffset < e.payloadOffset) return nullptr;
  const uint32_t lead = e.frameOffset - e.payloadOffset;
  const uint64_t need = uint64_t{lead} + e.size;
  if (need > 0x7FFFFFF0u) return nullptr;
  if (cachedAddress_ == address && cachedBytes_ >= need) return frameBuffer_.get() + lead;
  ReserveFrameBuffer(need + 1024);
  cachedAddress_ = address;
  cachedBytes_ = 0;
  for (;;) {
    const uint32_t n = source_->Read(frameBuffer_.get(), static_cast<uint32_t>(frameCapacity_),
                                     static_cast<uint32_t>(need), address);
    if (n != CAvLoadStream::kTooLarge) {
      cachedBytes_ = n;
      break;
    }
    if (frameCapacity_ >= 0x40000000u) return nullptr;
    ReserveFrameBuffer(frameCapacity_ * 2);
  }
  if (cachedBytes_ <= lead) {
    DebugPrint("stream load error m_StreamLen=%d pos=%d\n", static_cast<int>(cachedBytes_), static_cast<int>(lead));
    return nullptr;
  }
  return frameBuffer_.get() + lead;
}

const uint8_t* CVideo_Stream::GetFrameData(uint32_t index, uint32_t* size, uint64_t* address) {
  uint64_t frameAddress;
  FrameEntry e;
  if (size) *size = 0;
  if (address) *address = 0;
  if (!frames_.Get(index, &frameAddress, &e)) return nullptr;
  if (address) *address = frameAddress + e.frameOffset;
  const uint8_t* data = FetchFrame(e, frameAddress);
  if (data == nullptr) return nullptr;
  // The bytes as read: with length prefixes more than the frame's payload size.
  if (size) *size = static_cast<uint32_t>(cachedBytes_ - (e.frameOffset - e.payloadOffset));
  return data;
}

bool CVideo_Stream::DecodeOne(uint32_t index, const FrameEntry& e, uint64_t address) {
  PrepareDecode();
  const uint8_t* data = FetchFrame(e, address);
  if (data == nullptr) return false;
  const uint32_t length = static_cast<uint32_t>(cachedBytes_ - (e.frameOffset - e.payloadOffset));
  ++decodeCalls_;
  DecodePicture(data, length, index);
  return true;
}

// Random-access walk: a frame that directly follows the current one costs one decode; any
// other jump resets the decoder and decodes from the random-access frame of the target
// (one group further back when that frame is no IDR picture, so that its references exist),
// skipping the non-reference frames before the target.
uint32_t CVideo_Stream::WalkStart(uint32_t index, const FrameEntry& e, uint32_t* group) {
  VideoAccessFlags f = AccessFlags(e);
  if (!f.randomAccessPoint) {
    FrameEntry ra;
    uint64_t raAddress;
    if (f.randomAccessIndex < index && frames_.Get(f.randomAccessIndex, &raAddress, &ra)) f = AccessFlags(ra);
  }
  uint32_t start = f.randomAccessIndex;
  if (group != nullptr) *group = std::min(start, index);
  if (!f.idr && start > 0) {
    FrameEntry before;
    uint64_t beforeAddress;
    if (frames_.Get(start - 1, &beforeAddress, &before)) start = AccessFlags(before).randomAccessIndex;
  }
  return start;
}

uint64_t CVideo_Stream::DecodeFrame(uint32_t index) {
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(index, &address, &e)) return ~uint64_t{0};
  const uint64_t result = address + e.frameOffset;
  if (currentFrame_ != kNone && index == currentFrame_) return result;
  if (currentFrame_ != kNone && index == currentFrame_ + 1) {
    DecodeOne(index, e, address);
    currentFrame_ = index;
    return result;
  }
  const uint32_t start = WalkStart(index, e);
  ResetDecoder();
  decodeCalls_ = 0;
  if (start > index) {
    currentFrame_ = index;
    return result;
  }
  for (uint32_t k = start; k <= index; ++k) {
    uint64_t a;
    FrameEntry ek;
    if (!frames_.Get(k, &a, &ek)) break;
    if (k == index || AccessFlags(ek).reference) DecodeOne(k, ek, a);
  }
  currentFrame_ = index;
  return result;
}

int CVideo_Stream::GetVideoFrame(uint32_t index, CVideoFrame& out) {
  if (index == kNone) index = currentFrame_ == kNone ? 0 : currentFrame_ + 1;
  for (;;) {
    if (index != currentFrame_ && DecodeFrame(index) == ~uint64_t{0}) return 0;
    if (GetNextPicture(out)) return 1;
    if (index + 1 >= frames_.GetCount()) return 0;
    ++index;
  }
}

int CVideo_Stream::GetFramePicture(uint32_t index, CVideoFrame& out) {
  if (index >= frames_.GetCount() || DecodeFrame(index) == ~uint64_t{0}) return 0;
  if (!GetCurrentPicture(out)) return 0;
  out.frame_number = index;
  return 1;
}

void CVideo_Stream::StartPlay(uint32_t index) {
  play_ = PlayCursor();
  FrameEntry e;
  uint64_t address;
  if (frames_.Get(index, &address, &e)) play_.next = std::min(WalkStart(index, e, &play_.group), index);
  play_.start = index;
  play_.skipping = index > 0;
  ResetDecoder();
  decodeCalls_ = 0;
  currentFrame_ = kNone;
}

bool CVideo_Stream::DecodePlayFrame() {
  uint64_t address;
  FrameEntry e;
  if (!frames_.Get(play_.next, &address, &e)) return false;
  // The group before the start frame's only lends its references.
  if (play_.next < play_.group && !AccessFlags(e).reference) {
    ++play_.next;
    return true;
  }
  DecodeOne(play_.next, e, address);
  currentFrame_ = play_.next;
  if (play_.next++ != play_.start || !play_.skipping) return true;
  // The start frame's picture carries the tag the decoder gave it (for the second field of
  // a pair, the first field's frame). A frame that could not be decoded leaves the picture
  // decoded before it current.
  if (!scratch_) scratch_ = std::make_unique<CVideoFrame>();
  play_.startDecoded = true;
  if (!GetCurrentPicture(*scratch_)) {
    play_.skipping = false;
    return true;
  }
  play_.startPicture = scratch_->frame_number;
  // That picture has already come out (the start frame was not decoded): play goes on from
  // the next picture.
  const auto& d = play_.dropped;
  if (std::find(d.begin(), d.end(), play_.startPicture) != d.end()) play_.skipping = false;
  return true;
}

bool CVideo_Stream::BeforePlayStart(const CVideoFrame& picture) {
  if (!play_.skipping) return false;
  if (!play_.startDecoded) {
    play_.dropped.push_back(picture.frame_number);
    return true;
  }
  // A decoder holds back at most kMaxReorder pictures; a start picture not put out by then
  // was lost (its decoding failed late) and play goes on with what comes.
  if (picture.frame_number != play_.startPicture && play_.next <= play_.start + kMaxReorder) return true;
  play_.skipping = false;
  return false;
}

int CVideo_Stream::NextPlayPicture(CVideoFrame& out) {
  for (;;) {
    if (GetNextPicture(out)) {
      if (!BeforePlayStart(out)) return 1;
      continue;
    }
    if (DecodePlayFrame()) continue;
    if (play_.flushed) return 0;
    // The stream's end: the pictures the decoder still holds follow in output order.
    FlushPictures();
    play_.flushed = true;
  }
}

uint64_t CVideo_Stream::GetTime(uint32_t index) {
  const uint64_t i = index == kNone ? frames_.GetCount() : index;
  return i * rate_.durationUs;
}

void CVideo_Stream::GetFrameRate(uint32_t& numerator, uint32_t& denominator, uint32_t& durationUs) const {
  numerator = rate_.numerator;
  denominator = rate_.denominator;
  durationUs = rate_.durationUs;
}

void CVideo_Stream::SetFrameRate(uint32_t numerator, uint32_t denominator, uint32_t durationUs) {
  rate_.numerator = numerator;
  rate_.denominator = denominator;
  rate_.durationUs = durationUs;
  if (durationUs == 0 && numerator != 0 && denominator != 0)
    rate_.durationUs = static_cast<uint32_t>(uint64_t{denominator} * 1000000 / numerator);
}

void CVideo_Stream::MacroblockToPixel(uint32_t index, uint32_t& x, uint32_t& y) const {
  fennik::MacroblockToPixel(Geometry(), index, x, y);
}

uint32_t CVideo_Stream::PixelToMacroblock(uint32_t x, uint32_t y) const {
  return fennik::PixelToMacroblock(Geometry(), x, y);
}

}  // namespace fennik
