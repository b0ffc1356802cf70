#include "media/CAVIFile.h"

#include <cstring>

#include "base/ByteOrder.h"
#include "base/DebugPrint.h"
#include "stream/CodecType.h"

namespace fennik {
namespace {

constexpr uint32_t kAvifHasIndex = 0x10;  // AVIF_HASINDEX in the main header's flags
constexpr uint32_t kOdmlListSize = 260;   // "odml" code, "dmlh" chunk header, 248 bytes
constexpr uint32_t kDmlhSize = 248;
constexpr uint64_t kMaxRiffFile = 0xFFFFFFFFull;  // RIFF sizes are 32-bit

struct AudioTag {
  int32_t codecType;
  uint16_t tag;
};
// WAVE format tags (RFC 2361 / the registered WAVE_FORMAT_ values).
constexpr AudioTag kAudioTags[] = {
    {kCodecL16, 0x0001},   // written as little-endian PCM
    {kCodecPcmA, 0x0006},  // G.711 A-law
    {kCodecPcmU, 0x0007},  // G.711 u-law
    {kCodecG722, 0x028F},
};

struct VideoCode {
  int32_t codecType;
  uint32_t fourCC;
};
constexpr VideoCode kVideoCodes[] = {
    {kCodecMpeg4Visual, FourCC("MP4V")},
    {kCodecMpeg4VisualAlt, FourCC("MP4V")},
    {kCodecH264, FourCC("H264")},   // (the length-prefixed and RTP forms are looked up as it)
};

// Appends little-endian fields to the header buffer; every write is bounds-checked and a
// write that does not fit sets the sticky overflow flag.
class HeaderWriter {
 public:
  HeaderWriter(uint8_t* buffer, uint32_t capacity) : p_(buffer), capacity_(capacity) {}
  uint32_t Position() const { return pos_; }
  bool Overflow() const { return overflow_; }
  uint32_t Remaining() const { return capacity_ - pos_; }
  void U32(uint32_t v) {
    if (Room(4)) WriteLE32(p_ + pos_, v), pos_ += 4;
  }
  void U16(uint16_t v) {
    if (Room(2)) WriteLE16(p_ + pos_, v), pos_ += 2;
  }
  void Code(const char (&code)[5]) { U32(FourCC(code)); }
  void Zeros(uint32_t n) {
    if (Room(n)) std::memset(p_ + pos_, 0, n), pos_ += n;
  }
  // Opens a "LIST" of `type`; returns the offset of its size field for Finish.
  uint32_t OpenList(const char (&type)[5]) {
    Code("LIST");
    const uint32_t at = pos_;
    U32(0);
    Code(type);
    return at;
  }
  void FinishList(uint32_t sizeAt) {
    if (!overflow_) WriteLE32(p_ + sizeAt, pos_ - sizeAt - 4);
  }

 private:
  bool Room(uint32_t n) {
    if (overflow_ || capacity_ - pos_ < n) overflow_ = true;
    return !overflow_;
  }
  uint8_t* p_;
  uint32_t capacity_;
  uint32_t pos_ = 0;
  bool overflow_ = false;
};

}  // namespace

uint16_t AviAudioFormatTag(int32_t codecType) {
  for (const AudioTag& t : kAudioTags) {
    if (t.codecType == codecType) return t.tag;
  }
  return 0;
}

uint32_t AviVideoFourCC(int32_t codecType) {
  if (codecType == kCodecH264Mp4 || codecType == kCodecH264Rtp) codecType = kCodecH264;
  for (const VideoCode& v : kVideoCodes) {
    if (v.codecType == codecType) return v.fourCC;
  }
  return 0;
}

CAVIFile::~CAVIFile() {
  if (IsFileOpen()) Close();
}

int CAVIFile::Create(const std::string& path, bool replace) {
  const int result = CMediaFile::Create(path, replace);
  if (result != 0) return result;
  header_ = std::make_unique<uint8_t[]>(kHeaderCapacity);
  headerLength_ = 0;
  video_ = {};
  audio_ = {};
  videoFormat_ = {};
  audioFormat_ = {};
  moviPosition_ = 0;
  moviSize_ = 12;
  index_.clear();
  videoChunks_ = 0;
  audioBytes_ = 0;
  return 0;
}

int CAVIFile::SetVideoFormat(uint32_t kind, const MediaVideoFormat* format) {
  if (kind != 0 || format == nullptr || !IsFileOpen() || FileSize() != 0) return 0;
  videoFormat_ = *format;
  video_.present = true;
  video_.chunkId = FourCC("00dc");
  return 1;
}

int CAVIFile::SetAudioFormat(uint32_t kind, const MediaAudioFormat* format) {
  if (kind != 0 || format == nullptr || !IsFileOpen() || FileSize() != 0) return 0;
  DebugPrint("Frequency~%d, Channels=%d, DataBits=%d, Bitrate=%d\n", int(format->sampleRate),
             int(format->channels), int(format->bitsPerSample), int(format->bitRate));
  audioFormat_ = *format;
  audio_.present = true;
  audio_.chunkId = FourCC("01wb");
  const uint32_t align = format->bitsPerSample * format->channels / 8;
  blockAlign_ = static_cast<uint16_t>(align == 0 ? 1 : align > 0xFFFF ? 0xFFFF : align);
  byteRate_ = format->byteRate != 0 ? format->byteRate : format->sampleRate * blockAlign_;
  return 1;
}

// RIFF "AVI " layout, all numbers little-endian:
//   RIFF size "AVI "
//     LIST size "hdrl"
//       "avih" 56: MainAVIHeader
//       LIST size "strl" ("strh" 56: AVIStreamHeader, "strf": BITMAPINFOHEADER) for video
//       LIST size "strl" ("strh" 56, "strf" 20: WAVEFORMATEX and two zero bytes) for audio
//       LIST 260 "odml" ("dmlh" 248: zeros)
//     LIST size "movi" (the chunks)
//     "idx1" size (16-byte entries), appended at close
bool CAVIFile::WriteHeader() {
  HeaderWriter w(header_.get(), kHeaderCapacity);
  w.Code("RIFF");
  riffSizeAt_ = w.Position();
  w.U32(0);
  w.Code("AVI ");
  const uint32_t hdrl = w.OpenList("hdrl");

  w.Code("avih");
  w.U32(56);
  w.U32(video_.present ? videoFormat_.microsecondsPerFrame : 0);
  w.U32(0);  // maximum bytes per second
  w.U32(0);  // padding granularity
  avihFlagsAt_ = w.Position();
  w.U32(0);
  avihFramesAt_ = w.Position();
  w.U32(0);  // total frames
  w.U32(0);  // initial frames
  w.U32((video_.present ? 1 : 0) + (audio_.present ? 1 : 0));
  w.U32(0);  // suggested buffer size
  avihWidthAt_ = w.Position();
  w.U32(video_.present ? videoFormat_.width : 0);
  w.U32(video_.present ? videoFormat_.height : 0);
  w.Zeros(16);

  if (video_.present) {
    const uint32_t strl = w.OpenList("strl");
    w.Code("strh");
    w.U32(56);
    w.Code("vids");
    w.U32(videoFormat_.fourCC);
    w.U32(0);  // flags
    w.U16(0);  // priority
    w.U16(0);  // language
    w.U32(0);  // initial frames
    w.U32(videoFormat_.scale);
    w.U32(videoFormat_.rate);
    w.U32(0);  // start
    videoLengthAt_ = w.Position();
    w.U32(0);  // length in frames
    w.U32(0);  // suggested buffer size
    w.U32(0);  // quality
    w.U32(0);  // sample size
    w.Zeros(8);  // frame rectangle
    w.Code("strf");
    w.U32(40);
    bitmapAt_ = w.Position();
    w.U32(40);  // BITMAPINFOHEADER size
    w.U32(videoFormat_.width);
    w.U32(videoFormat_.height);
    w.U16(1);   // planes
    w.U16(24);  // bits per pixel
    w.U32(videoFormat_.fourCC);
    w.U32(static_cast<uint32_t>(uint64_t{videoFormat_.width} * videoFormat_.height * 3));
    w.Zeros(16);  // pixels per metre, colours used, important colours
    w.FinishList(strl);
  }
  if (audio_.present) {
    const uint32_t strl = w.OpenList("strl");
    w.Code("strh");
    w.U32(56);
    w.Code("auds");
    w.U32(0);  // handler
    w.U32(0);  // flags
    w.U16(0);
    w.U16(0);
    w.U32(0);  // initial frames
    // A block of samples per tick: rate / scale = blocks per second, as readers expect of
    // constant-rate audio.
    w.U32(blockAlign_);
    w.U32(byteRate_);
    w.U32(0);  // start
    audioLengthAt_ = w.Position();
    w.U32(0);  // length in blocks
    w.U32(0);  // suggested buffer size
    w.U32(0);  // quality
    w.U32(blockAlign_);  // sample size
    w.Zeros(8);
    w.Code("strf");
    w.U32(20);
    w.U16(audioFormat_.formatTag);
    w.U16(static_cast<uint16_t>(audioFormat_.channels));
    w.U32(audioFormat_.sampleRate);
    w.U32(byteRate_);
    w.U16(blockAlign_);
    w.U16(static_cast<uint16_t>(audioFormat_.bitsPerSample));
    w.U16(0);  // extra size
    w.Zeros(2);
    w.FinishList(strl);
  }
  if (w.Remaining() < kOdmlListSize + 8) return false;
  w.Code("LIST");
  w.U32(kOdmlListSize);
  w.Code("odml");
  w.Code("dmlh");
  w.U32(kDmlhSize);
  w.Zeros(kDmlhSize);
  w.FinishList(hdrl);

  // Chunk identifiers carry the stream's number in the header: audio is stream 1 behind a
  // video stream, stream 0 on its own.
  if (audio_.present && !video_.present) audio_.chunkId = FourCC("00wb");

  moviPosition_ = w.Position();
  w.Code("LIST");
  moviSizeAt_ = w.Position();
  w.U32(0);
  w.Code("movi");
  if (w.Overflow()) return false;
  headerLength_ = w.Position();
  moviSize_ = 12;
  return Append(header_.get(), headerLength_);
}

int CAVIFile::SetVideoSize(uint32_t width, uint32_t height) {
  if (!video_.present || !IsFileOpen()) return 0;
  videoFormat_.width = width;
  videoFormat_.height = height;
  if (headerLength_ != 0) {
    uint8_t* h = header_.get();
    WriteLE32(h + avihWidthAt_, width);
    WriteLE32(h + avihWidthAt_ + 4, height);
    WriteLE32(h + bitmapAt_ + 4, width);
    WriteLE32(h + bitmapAt_ + 8, height);
    WriteLE32(h + bitmapAt_ + 20, static_cast<uint32_t>(uint64_t{width} * height * 3));
  }
  return 1;
}

int CAVIFile::WriteChunk(StreamRecord& stream, const uint8_t* data, uint32_t length, uint32_t flags) {
  if (!stream.present || failed_ || !IsFileOpen() || (length != 0 && data == nullptr)) return 0;
  if (FileSize() == 0 && !WriteHeader()) return 0;
  const uint32_t pad = length & 1;
  const uint64_t after = FileSize() + 8 + length + pad;
  // The index and every size field must stay within 32 bits once the index is appended.
  if (after + 8 + (index_.size() + 1) * 16 > kMaxRiffFile) {
    DebugPrint("[AVI] file would exceed 4 GiB, chunk of %u bytes refused\n", length);
    return 0;
  }
  uint8_t chunkHeader[8];
  WriteLE32(chunkHeader, stream.chunkId);
  WriteLE32(chunkHeader + 4, length);
  const uint32_t offset = static_cast<uint32_t>(FileSize() - moviPosition_ - 8);
  const uint8_t zero = 0;
  if (!Append(chunkHeader, 8) || !Append(data, length) || (pad != 0 && !Append(&zero, 1))) {
    return 0;
  }
  index_.push_back({stream.chunkId, flags, offset, length});
  moviSize_ += 8 + length + pad;
  return 1;
}

int CAVIFile::WriteVideo(const uint8_t* data, uint32_t length, bool keyFrame) {
  if (WriteChunk(video_, data, length, keyFrame ? kKeyFrame : 0) == 0) return 0;
  ++videoChunks_;
  return 1;
}

int CAVIFile::WriteAudio(const uint8_t* data, uint32_t length) {
  if (WriteChunk(audio_, data, length, kKeyFrame) == 0) return 0;
  audioBytes_ += length;
  return 1;
}

bool CAVIFile::Close() {
  if (!IsFileOpen()) return false;
  if (failed_ || FileSize() == 0) {
    const bool ok = !failed_;
    CloseFile();
    header_.reset();
    return ok;
  }
  bool ok = true;
  if (!index_.empty()) {
    std::vector<uint8_t> idx(8 + index_.size() * 16);
    WriteLE32(idx.data(), FourCC("idx1"));
    WriteLE32(idx.data() + 4, static_cast<uint32_t>(index_.size() * 16));
    uint8_t* p = idx.data() + 8;
    for (const IndexEntry& e : index_) {
      WriteLE32(p, e.chunkId);
      WriteLE32(p + 4, e.flags);
      WriteLE32(p + 8, e.offset);
      WriteLE32(p + 12, e.size);
      p += 16;
    }
    ok = Append(idx.data(), idx.size());
  }
  if (ok) {
    uint8_t* h = header_.get();
    WriteLE32(h + riffSizeAt_, static_cast<uint32_t>(FileSize() - 8));
    WriteLE32(h + moviSizeAt_, static_cast<uint32_t>(moviSize_ - 8));
    WriteLE32(h + avihFlagsAt_, index_.empty() ? 0 : kAvifHasIndex);
    WriteLE32(h + avihFramesAt_, videoChunks_);
    if (video_.present) WriteLE32(h + videoLengthAt_, videoChunks_);
    if (audio_.present) WriteLE32(h + audioLengthAt_, static_cast<uint32_t>(audioBytes_ / blockAlign_));
    ok = WriteAt(0, h, headerLength_);
  }
  CloseFile();
  header_.reset();
  return ok;
}

}  // namespace fennik
