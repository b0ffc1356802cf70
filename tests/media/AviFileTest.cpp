// The raw and AVI media file writers: the RIFF tree they write is walked back here chunk by
// chunk (sizes, stream headers, formats, "movi" chunks and the "idx1" index), and the failure
// paths run against real files and /dev/full.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "media/CAVIFile.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using Bytes = std::vector<uint8_t>;

using test::ReadFileBytes;
using OutPath = test::TempPath;

std::string Code(const uint8_t* p) { return std::string(reinterpret_cast<const char*>(p), 4); }

// One chunk or list of the RIFF tree: its code (the list type for LIST/RIFF), where its data
// starts and its declared size.
struct Chunk {
  std::string id;
  size_t data;
  uint32_t size;
};

// The chunks directly inside [begin, end), stepping over pad bytes; fails the test when a
// size runs past the end.
std::vector<Chunk> Children(const Bytes& f, size_t begin, size_t end) {
  std::vector<Chunk> out;
  size_t pos = begin;
  while (pos + 8 <= end) {
    Chunk c{Code(&f[pos]), pos + 8, ReadLE32(&f[pos + 4])};
    EXPECT_LE(c.data + c.size, end) << c.id << " at " << pos;
    if (c.data + c.size > end) break;
    if (c.id == "LIST" || c.id == "RIFF") {
      c.id = Code(&f[c.data]);
      c.data += 4;
      c.size -= 4;
    }
    out.push_back(c);
    pos = c.data + c.size + (c.size & 1);
  }
  EXPECT_EQ(pos, end);
  return out;
}

const Chunk* Find(const std::vector<Chunk>& list, const std::string& id, int nth = 0) {
  for (const Chunk& c : list) {
    if (c.id == id && nth-- == 0) return &c;
  }
  return nullptr;
}

struct Parsed {
  Bytes file;
  std::vector<Chunk> top, hdrl, movi, idx1;
  const Chunk* avih = nullptr;
};

Parsed Parse(const std::string& path) {
  Parsed p;
  p.file = ReadFileBytes(path);
  const Bytes& f = p.file;
  EXPECT_GE(f.size(), 12u);
  if (f.size() < 12) return p;
  EXPECT_EQ(Code(&f[0]), "RIFF");
  EXPECT_EQ(Code(&f[8]), "AVI ");
  EXPECT_EQ(ReadLE32(&f[4]), f.size() - 8);
  p.top = Children(f, 12, f.size());
  if (const Chunk* h = Find(p.top, "hdrl")) p.hdrl = Children(f, h->data, h->data + h->size);
  if (const Chunk* m = Find(p.top, "movi")) p.movi = Children(f, m->data, m->data + m->size);
  p.avih = Find(p.hdrl, "avih");
  return p;
}

uint32_t U32(const Bytes& f, size_t at) { return ReadLE32(&f[at]); }

MediaVideoFormat H264Format() {
  return {.fourCC = FourCC("H264"), .width = 320, .height = 240, .microsecondsPerFrame = 40000, .rate = 25, .scale = 1};
}

TEST(AviFile, VideoChunksMoviSizeAndIndex) {
  OutPath out;
  CAVIFile avi;
  ASSERT_EQ(avi.Create(out.Path(), true), 0);
  const MediaVideoFormat format = H264Format();
  ASSERT_EQ(avi.SetVideoFormat(0, &format), 1);
  const Bytes a(100, 1), b(200, 2), c(50, 3);
  EXPECT_EQ(avi.WriteVideo(a.data(), 100, true), 1);
  EXPECT_EQ(avi.WriteVideo(b.data(), 200, false), 1);
  EXPECT_EQ(avi.WriteVideo(c.data(), 50, false), 1);
  ASSERT_TRUE(avi.Close());

  const Parsed p = Parse(out.Path());
  const Bytes& f = p.file;
  ASSERT_EQ(p.top.size(), 3u);  // hdrl, movi, idx1
  const Chunk* movi = Find(p.top, "movi");
  ASSERT_NE(movi, nullptr);
  EXPECT_EQ(movi->size + 4, 378u);  // "movi" + 108 + 208 + 58
  ASSERT_EQ(p.movi.size(), 3u);
  EXPECT_EQ(p.movi[0].id, "00dc");
  EXPECT_EQ(p.movi[1].size, 200u);
  EXPECT_EQ(Bytes(f.begin() + long(p.movi[2].data), f.begin() + long(p.movi[2].data + 50)), c);
  const Chunk* idx1 = Find(p.top, "idx1");
  ASSERT_NE(idx1, nullptr);
  ASSERT_EQ(idx1->size, 48u);
  const uint32_t offsets[] = {4, 112, 320}, sizes[] = {100, 200, 50}, flags[] = {0x10, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const size_t e = idx1->data + 16 * i;
    EXPECT_EQ(Code(&f[e]), "00dc");
    EXPECT_EQ(U32(f, e + 4), flags[i]);
    EXPECT_EQ(U32(f, e + 8), offsets[i]);
    EXPECT_EQ(U32(f, e + 12), sizes[i]);
    // Offsets count from the "movi" code: the chunk header sits there.
    EXPECT_EQ(movi->data - 4 + offsets[i], p.movi[i].data - 8);
  }
  // Main header: microseconds per frame, flags (has index), frames, streams, size.
  ASSERT_NE(p.avih, nullptr);
  ASSERT_EQ(p.avih->size, 56u);
  const size_t h = p.avih->data;
  EXPECT_EQ(U32(f, h), 40000u);
  EXPECT_EQ(U32(f, h + 12), 0x10u);
  EXPECT_EQ(U32(f, h + 16), 3u);
  EXPECT_EQ(U32(f, h + 24), 1u);
  EXPECT_EQ(U32(f, h + 32), 320u);
  EXPECT_EQ(U32(f, h + 36), 240u);
  // Stream header and bitmap header.
  const Chunk* strl = Find(p.hdrl, "strl");
  ASSERT_NE(strl, nullptr);
  EXPECT_EQ(Find(p.hdrl, "strl", 1), nullptr);
  const std::vector<Chunk> s = Children(f, strl->data, strl->data + strl->size);
  const Chunk* strh = Find(s, "strh");
  const Chunk* strf = Find(s, "strf");
  ASSERT_TRUE(strh && strf);
  EXPECT_EQ(Code(&f[strh->data]), "vids");
  EXPECT_EQ(Code(&f[strh->data + 4]), "H264");
  EXPECT_EQ(U32(f, strh->data + 20), 1u);   // scale
  EXPECT_EQ(U32(f, strh->data + 24), 25u);  // rate
  EXPECT_EQ(U32(f, strh->data + 32), 3u);   // length
  ASSERT_EQ(strf->size, 40u);
  EXPECT_EQ(U32(f, strf->data), 40u);
  EXPECT_EQ(U32(f, strf->data + 4), 320u);
  EXPECT_EQ(Code(&f[strf->data + 16]), "H264");
  EXPECT_EQ(U32(f, strf->data + 20), 320u * 240 * 3);
  const Chunk* odml = Find(p.hdrl, "odml");
  ASSERT_NE(odml, nullptr);
  EXPECT_EQ(odml->size + 4, 260u);
}

TEST(AviFile, AudioOnlyIsStreamZeroWithItsWaveFormat) {
  OutPath out;
  CAVIFile avi;
  ASSERT_EQ(avi.Create(out.Path(), true), 0);
  const MediaAudioFormat format{.formatTag = 1, .sampleRate = 8000, .channels = 1, .bitsPerSample = 16};
  ASSERT_EQ(avi.SetAudioFormat(0, &format), 1);
  const Bytes pcm(320, 0x20);
  EXPECT_EQ(avi.WriteAudio(pcm.data(), 320), 1);
  EXPECT_EQ(avi.WriteAudio(pcm.data(), 320), 1);
  ASSERT_TRUE(avi.Close());

  const Parsed p = Parse(out.Path());
  const Bytes& f = p.file;
  ASSERT_NE(p.avih, nullptr);
  EXPECT_EQ(U32(f, p.avih->data + 24), 1u);  // streams
  EXPECT_EQ(U32(f, p.avih->data + 32), 0u);  // width
  EXPECT_EQ(U32(f, p.avih->data + 36), 0u);  // height
  const Chunk* strl = Find(p.hdrl, "strl");
  ASSERT_NE(strl, nullptr);
  EXPECT_EQ(Find(p.hdrl, "strl", 1), nullptr);
  const std::vector<Chunk> s = Children(f, strl->data, strl->data + strl->size);
  const Chunk* strh = Find(s, "strh");
  const Chunk* strf = Find(s, "strf");
  ASSERT_TRUE(strh && strf);
  EXPECT_EQ(Code(&f[strh->data]), "auds");
  EXPECT_EQ(U32(f, strh->data + 20), 2u);      // scale: block alignment
  EXPECT_EQ(U32(f, strh->data + 24), 16000u);  // rate: bytes per second
  EXPECT_EQ(U32(f, strh->data + 32), 320u);    // length in blocks
  EXPECT_EQ(U32(f, strh->data + 44), 2u);      // sample size
  ASSERT_EQ(strf->size, 20u);
  EXPECT_EQ(ReadLE16(&f[strf->data]), 1u);        // format tag
  EXPECT_EQ(ReadLE16(&f[strf->data + 2]), 1u);    // channels
  EXPECT_EQ(U32(f, strf->data + 4), 8000u);       // samples per second
  EXPECT_EQ(U32(f, strf->data + 8), 16000u);      // average bytes per second
  EXPECT_EQ(ReadLE16(&f[strf->data + 12]), 2u);   // block alignment
  EXPECT_EQ(ReadLE16(&f[strf->data + 14]), 16u);  // bits per sample
  // Without a video stream the audio is stream 0.
  ASSERT_EQ(p.movi.size(), 2u);
  EXPECT_EQ(p.movi[0].id, "00wb");
  const Chunk* idx1 = Find(p.top, "idx1");
  ASSERT_NE(idx1, nullptr);
  EXPECT_EQ(Code(&f[idx1->data]), "00wb");
  EXPECT_EQ(U32(f, idx1->data + 4), 0x10u);
}

TEST(AviFile, OddChunksArePaddedAndStreamsInterleave) {
  OutPath out;
  CAVIFile avi;
  ASSERT_EQ(avi.Create(out.Path(), true), 0);
  const MediaVideoFormat video = H264Format();
  const MediaAudioFormat audio{.formatTag = 7, .sampleRate = 8000, .channels = 1, .bitsPerSample = 8};
  ASSERT_EQ(avi.SetAudioFormat(0, &audio), 1);
  ASSERT_EQ(avi.SetVideoFormat(0, &video), 1);
  const Bytes odd{1, 2, 3}, audioBytes(5, 0xFF);
  EXPECT_EQ(avi.WriteVideo(odd.data(), 3, true), 1);
  EXPECT_EQ(avi.WriteAudio(audioBytes.data(), 5), 1);
  EXPECT_EQ(avi.WriteVideo(odd.data(), 3, false), 1);
  // Formats are fixed once the header is written.
  EXPECT_EQ(avi.SetVideoFormat(0, &video), 0);
  ASSERT_TRUE(avi.Close());

  const Parsed p = Parse(out.Path());
  const Bytes& f = p.file;
  ASSERT_EQ(p.movi.size(), 3u);
  EXPECT_EQ(p.movi[0].id, "00dc");
  EXPECT_EQ(p.movi[1].id, "01wb");
  EXPECT_EQ(p.movi[0].size, 3u);
  EXPECT_EQ(f[p.movi[0].data + 3], 0);  // pad byte
  EXPECT_EQ(p.movi[1].data, p.movi[0].data + 4 + 8);
  const Chunk* idx1 = Find(p.top, "idx1");
  ASSERT_NE(idx1, nullptr);
  EXPECT_EQ(U32(f, idx1->data + 8), 4u);
  EXPECT_EQ(U32(f, idx1->data + 16 + 8), 4u + 8 + 4);   // 3 bytes + pad
  EXPECT_EQ(U32(f, idx1->data + 32 + 8), 4u + 12 + 14);  // 5 bytes + pad
  EXPECT_EQ(U32(f, idx1->data + 16 + 12), 5u);
  // Two stream lists, video first; the main header counts both.
  EXPECT_NE(Find(p.hdrl, "strl", 1), nullptr);
  EXPECT_EQ(U32(f, p.avih->data + 24), 2u);
  EXPECT_EQ(U32(f, p.avih->data + 16), 2u);  // total frames: the video chunks
}

TEST(AviFile, CreateReplaceAndRefusals) {
  OutPath out;
  { std::ofstream(out.Path()) << "existing"; }
  const Bytes existing = ReadFileBytes(out.Path());
  CAVIFile avi;
  EXPECT_NE(avi.Create(out.Path(), false), 0);
  EXPECT_EQ(ReadFileBytes(out.Path()), existing);
  CMediaFile raw;
  EXPECT_EQ(raw.Create(out.Path(), false), EEXIST);
  EXPECT_EQ(ReadFileBytes(out.Path()), existing);
  EXPECT_EQ(raw.Create("/nonexistent-folder/x.raw", true), ENOENT);
  EXPECT_EQ(raw.Create("/tmp", true), EISDIR);

  // Replacing truncates; a file into which nothing was written stays empty.
  ASSERT_EQ(avi.Create(out.Path(), true), 0);
  const MediaAudioFormat audio{.formatTag = 6, .sampleRate = 8000, .channels = 1, .bitsPerSample = 8};
  EXPECT_EQ(avi.SetAudioFormat(1, &audio), 0);  // only the first stream of a type
  EXPECT_EQ(avi.SetAudioFormat(0, nullptr), 0);
  EXPECT_EQ(avi.SetAudioFormat(0, &audio), 1);
  const uint8_t byte = 0;
  EXPECT_EQ(avi.WriteVideo(&byte, 1), 0);  // no video stream declared
  EXPECT_TRUE(avi.Close());
  EXPECT_TRUE(ReadFileBytes(out.Path()).empty());

  // The raw file appends the bytes as they come.
  ASSERT_EQ(raw.Create(out.Path(), true), 0);
  EXPECT_EQ(raw.WriteAudio(Bytes{1, 2}.data(), 2), 1);
  EXPECT_EQ(raw.WriteVideo(Bytes{3}.data(), 1), 1);
  EXPECT_TRUE(raw.Close());
  EXPECT_EQ(ReadFileBytes(out.Path()), (Bytes{1, 2, 3}));
}

TEST(AviFile, WriteFailuresAreReported) {
  // /dev/full opens and then fails every write with ENOSPC.
  for (bool avi : {false, true}) {
    SCOPED_TRACE(avi ? "AVI" : "raw");
    std::unique_ptr<CMediaFile> file = avi ? std::make_unique<CAVIFile>() : std::make_unique<CMediaFile>();
    ASSERT_EQ(file->Create("/dev/full", true), 0);
    const MediaAudioFormat audio{.formatTag = 7, .sampleRate = 8000, .channels = 1, .bitsPerSample = 8};
    file->SetAudioFormat(0, &audio);
    const Bytes data(160, 0x7F);
    EXPECT_EQ(file->WriteAudio(data.data(), 160), 0);
    EXPECT_TRUE(file->WriteFailed());
    EXPECT_EQ(file->WriteAudio(data.data(), 160), 0);
    EXPECT_FALSE(file->Close());
  }
}

TEST(AviFile, CodecTables) {
  EXPECT_EQ(AviAudioFormatTag(105), 0x0006);
  EXPECT_EQ(AviAudioFormatTag(106), 0x0007);
  EXPECT_EQ(AviAudioFormatTag(94), 0x0001);
  EXPECT_EQ(AviAudioFormatTag(0), 0);
  EXPECT_EQ(AviAudioFormatTag(11), 0);
  for (int32_t h264 : {9, 10, 11}) EXPECT_EQ(AviVideoFourCC(h264), FourCC("H264"));
  EXPECT_EQ(AviVideoFourCC(105), 0u);
}

}  // namespace
}  // namespace fennik
