// A RIFF AVI file with at most one video stream ("00dc" chunks) and one audio stream ("01wb"
// chunks, "00wb" when there is no video stream): the header is written in front of the first
// chunk, the "idx1" index is appended and the sizes patched when the file is closed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "media/CMediaFile.h"

namespace fennik {

// The WAVE format tag that stores a stream of `codecType` in AVI, or 0 when it has none.
uint16_t AviAudioFormatTag(int32_t codecType);
// The video compression code (FourCC()) for `codecType`, or 0 when it has none. The H.264
// types (9 elementary stream, 10 MP4, 11 RTP) all give "H264".
uint32_t AviVideoFourCC(int32_t codecType);

class CAVIFile : public CMediaFile {
 public:
  static constexpr uint32_t kHeaderCapacity = 65536;
  static constexpr uint32_t kKeyFrame = 0x10;  // AVIIF_KEYFRAME in an index entry

  ~CAVIFile() override;

  int Create(const std::string& path, bool replace) override;
  // Both refuse (0) once the header has been written.
  int SetVideoFormat(uint32_t kind, const MediaVideoFormat* format) override;
  int SetAudioFormat(uint32_t kind, const MediaAudioFormat* format) override;
  // One chunk each; a chunk of odd length is followed by a zero pad byte (RIFF aligns chunks
  // to two bytes), which the chunk's size and index entry do not count. Refused (0) when the
  // file would outgrow the 32-bit RIFF sizes, or when no format was declared for the stream.
  int WriteVideo(const uint8_t* data, uint32_t length, bool keyFrame = true) override;
  int WriteAudio(const uint8_t* data, uint32_t length) override;
  // Sets the video picture size, also after the header was written (it is written again at
  // close): for streams whose size is known only from their first frames. Returns 1, or 0
  // without a video stream.
  int SetVideoSize(uint32_t width, uint32_t height);
  // Appends the index and patches the header. A file into which nothing was written stays
  // empty; after a failed write the file is closed as it is.
  bool Close() override;

  uint32_t VideoChunks() const { return videoChunks_; }
  uint64_t AudioBytes() const { return audioBytes_; }

 private:
  struct IndexEntry {
    uint32_t chunkId, flags, offset, size;
  };
  struct StreamRecord {
    bool present = false;
    uint32_t chunkId = 0;
  };

  bool WriteHeader();
  int WriteChunk(StreamRecord& stream, const uint8_t* data, uint32_t length, uint32_t flags);

  std::unique_ptr<uint8_t[]> header_;
  uint32_t headerLength_ = 0;
  StreamRecord video_, audio_;
  MediaVideoFormat videoFormat_;
  MediaAudioFormat audioFormat_;
  uint16_t blockAlign_ = 0;
  uint32_t byteRate_ = 0;
  uint64_t moviPosition_ = 0;  // of the "movi" list's "LIST"
  uint64_t moviSize_ = 12;     // list header and "movi" code, then the chunks
  std::vector<IndexEntry> index_;
  uint32_t videoChunks_ = 0;
  uint64_t audioBytes_ = 0;
  // Header fields patched at close: offsets in the header buffer.
  uint32_t riffSizeAt_ = 0, avihFlagsAt_ = 0, avihFramesAt_ = 0, videoLengthAt_ = 0,
           audioLengthAt_ = 0, moviSizeAt_ = 0, avihWidthAt_ = 0, bitmapAt_ = 0;
};

}  // namespace fennik
