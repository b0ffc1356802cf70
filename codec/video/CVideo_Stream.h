// The video stream base under every video parser (H.263, MPEG-4 Visual, H.264): the video
// format and frame-rate records, the frame byte buffer, the random-access decoding walk that
// turns a request for one frame into decoder calls, the picture hand-over into CVideoFrame
// buffers and the macroblock addressing of the macroblock views.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/video/CVideoFrame.h"
#include "codec/video/MacroblockPosition.h"
#include "stream/CAvStream.h"

namespace fennik {

class CFieldTree;
class CView_VideoFrameList;

// Decoded-picture description.
struct VideoFormat {
  uint32_t formatCode = 0;     // H.263: the codec type; MPEG-4 Visual: 5; H.264: 0
  uint32_t width = 0;          // pixels
  uint32_t height = 0;
  uint32_t pictureFormat = 0;  // VideoPictureFormat
  uint32_t fieldFlag = 0;      // H.264: 1 while the current picture is a field
  uint32_t frameDuration = 33333;  // microseconds
};

// Frame rate numerator / denominator frames per second and the frame duration.
struct VideoFrameRate {
  uint32_t numerator = 15000;
  uint32_t denominator = 1000;
  uint32_t durationUs = 66667;
};

// What the picture overlay shows of one macroblock of the picture decoded last.
struct VideoMacroblockMark {
  bool decoded = false;
  bool intra = false;
  bool skip = false;   // not coded
  bool field = false;  // a field macroblock (H.264 field picture or MBAFF field pair)
  int slice = -1;      // slice or video packet within the picture; -1 unknown
};

// What the random-access walk needs of a frame entry. The video parsers keep these in the
// same places of the entry's codec area (random-access index first, flags last).
struct VideoAccessFlags {
  uint32_t randomAccessIndex = 0;
  bool randomAccessPoint = false;  // flag bit 5
  bool idr = false;                // flag bit 3
  bool reference = false;          // flag bit 4
};

class CVideo_Stream : public CAvStream {
 public:
  static constexpr uint32_t kFrameBufferSize = 0x200000;
  // Frames a decoder may hold a picture back for output order: the largest H.264 DPB (16
  // pictures), of two entries each when coded as field pairs.
  static constexpr uint32_t kMaxReorder = 32;

  bool IsVideo() const override { return true; }
  void AttachView(CViewHost* host) override;
  // The random-access walk: decodes what frame `index` needs and makes it current. Returns
  // the frame's byte address, or all ones when its entry is missing.
  uint64_t DecodeFrame(uint32_t index) override;
  uint64_t GetTime(uint32_t index) override;
  const uint8_t* GetFrameData(uint32_t index, uint32_t* size, uint64_t* address) override;

  // The next picture in output order from frame `index` on (kNone: the frame after the
  // current one): frames are decoded until the decoder gives a picture. 1 with a picture
  // (its frame_number set to the stream frame decoded last), 0 when none.
  virtual int GetVideoFrame(uint32_t index, CVideoFrame& out);
  // The picture decoded from frame `index` itself (random-access walk, then the decoder's
  // current picture), whatever its output order. 1 with a picture, 0 when none.
  int GetFramePicture(uint32_t index, CVideoFrame& out);
  // Play from frame `index`: the decoder starts again where the random-access walk does and
  // decodes every frame of the frame's group (of the group before only its references);
  // NextPlayPicture then gives the pictures in output (display) order from the frame's own
  // picture on, each once. The pictures that come out before it are dropped.
  void StartPlay(uint32_t index);
  // The next picture of the play started last; 1 with a picture, 0 at the stream's end.
  int NextPlayPicture(CVideoFrame& out);
  virtual int GetVideoFormat(VideoFormat& format) = 0;

  void GetFrameRate(uint32_t& numerator, uint32_t& denominator, uint32_t& durationUs) const;
  // With durationUs 0 the duration follows from the rate: denominator * 1000000 / numerator.
  void SetFrameRate(uint32_t numerator, uint32_t denominator, uint32_t durationUs);

  // The information view of a frame: summary and syntax (codec-specific; nothing here).
  virtual void ShowFrameInfo(CFieldTree& tree, uint32_t index) { (void)tree, (void)index; }
  virtual void ShowFrameDetail(CFieldTree& tree, uint32_t index) { (void)tree, (void)index; }

  // The frame list of the stream's page, with the codec's columns.
  virtual std::unique_ptr<CView_VideoFrameList> CreateFrameList() = 0;
  // The shown part of the current picture (empty: the whole picture).
  virtual VideoCrop Crop() const { return {}; }
  // The overlay's view of macroblock `mb` of the picture decoded last; false when the decoder
  // holds no record of it.
  virtual bool MacroblockMark(uint32_t mb, VideoMacroblockMark& out) const { (void)mb, (void)out; return false; }
  // The macroblock view: frame `index` decoded (random-access walk), then macroblock `mb`'s
  // decoded data. Nothing when the frame cannot be decoded.
  virtual void ShowMacroblock(CFieldTree& tree, uint32_t index, uint32_t mb) { (void)tree, (void)index, (void)mb; }

  // Macroblock numbering of the current picture and the views' conversions.
  virtual MacroblockGeometry Geometry() const { return {}; }
  uint32_t GetMacroblockCount() const { return Geometry().count; }
  void MacroblockToPixel(uint32_t index, uint32_t& x, uint32_t& y) const;
  uint32_t PixelToMacroblock(uint32_t x, uint32_t y) const;
  uint32_t CurrentMacroblock() const { return currentMacroblock_; }
  void SetCurrentMacroblock(uint32_t index) { currentMacroblock_ = index; }

  // The decoder's picture finished last and the next picture in output order.
  virtual bool GetCurrentPicture(CVideoFrame& out) { (void)out; return false; }
  virtual bool GetNextPicture(CVideoFrame& out) { (void)out; return false; }
  // End of the stream: pictures the decoder still holds become available to GetNextPicture.
  virtual void FlushPictures() {}
  // Decoder calls made by the random-access walk (frames decoded since the last reset).
  uint32_t DecodeCalls() const { return decodeCalls_; }

 protected:
  // Codec hook before each frame is decoded.
  virtual void PrepareDecode() {}
  // Hands one frame's bytes to the codec's decoder.
  virtual uint32_t DecodePicture(const uint8_t* data, uint32_t length, uint32_t frameNumber) {
    (void)data, (void)length, (void)frameNumber;
    return kNone;
  }
  // The walk's view of an entry. The base reads the H.264 codec fields (random-access index,
  // flag bits 3, 4 and 5); a codec whose entry has another layout overrides it.
  virtual VideoAccessFlags AccessFlags(const FrameEntry& entry) const;
  // Decodes one frame (fetch, PrepareDecode, DecodePicture); false when its bytes could not
  // be read.
  bool DecodeOne(uint32_t index, const FrameEntry& entry, uint64_t address);
  // Reads a frame's bytes into the frame buffer; the frame's first byte or nullptr.
  const uint8_t* FetchFrame(const FrameEntry& entry, uint64_t address);
  // Makes the frame buffer hold at least `bytes` (its content is not kept: every fetch
  // writes the bytes it returns). The buffer is mapped directly, so pages that no frame
  // reaches are never touched; a sanitizer's allocator would poison and quarantine all 2 MB
  // of it for every stream.
  void ReserveFrameBuffer(size_t bytes);
  // The frame the random-access walk to frame `index` decodes first; `group` (when given)
  // receives the random-access frame of the target's own group.
  uint32_t WalkStart(uint32_t index, const FrameEntry& entry, uint32_t* group = nullptr);
  // Play start: decodes the next frame of the play; false at the stream's end.
  bool DecodePlayFrame();
  // Play start: whether an output picture comes before the start frame's picture.
  bool BeforePlayStart(const CVideoFrame& picture);
  struct UnmapBytes {
    size_t size;
    void operator()(uint8_t* bytes) const;
  };

  VideoFormat format_;
  VideoFrameRate rate_;
  std::unique_ptr<uint8_t[], UnmapBytes> frameBuffer_;
  size_t frameCapacity_ = 0;
  uint64_t cachedAddress_ = ~uint64_t{0};
  uint32_t cachedBytes_ = 0;
  uint32_t currentMacroblock_ = 0;
  uint32_t decodeCalls_ = 0;

  // The play started last (StartPlay).
  struct PlayCursor {
    uint32_t next = 0;          // the frame to decode next
    uint32_t group = 0;         // the random-access frame of the start frame's group
    uint32_t start = 0;         // the frame the play starts with
    uint32_t startPicture = 0;  // the output tag (frame_number) of its picture, once decoded
    bool startDecoded = false;
    bool skipping = false;      // pictures before the start picture are still coming out
    bool flushed = false;
    std::vector<uint32_t> dropped;  // tags of the pictures dropped before the start decoded
  };
  PlayCursor play_;
  std::unique_ptr<CVideoFrame> scratch_;
};

}  // namespace fennik
