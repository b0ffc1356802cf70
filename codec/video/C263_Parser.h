// H.263 streams as stream objects (codec types 6 H.263, 7 I263, 8 Sorenson H.263): the
// stream's bytes (RTP payload headers already removed by the loader) are cut into one frame
// entry per picture at picture start codes, each picture's header is shown field by field,
// and pictures are decoded by C263_Decode.
#pragma once

#include <cstdint>
#include <memory>

#include "codec/video/C263_Decode.h"
#include "codec/video/CVideo_Stream.h"
#include "stream/CodecType.h"

namespace fennik {

class CFieldTree;

// Flag bits of an H.263 frame entry (H263FrameFields::flags).
enum H263FrameFlag : uint16_t {
  kH263PictureTypeMask = 0x0007,  // 1 I, 2 P, 3 B, 4 improved PB, 5 EI, 6 EP, 0 other
  kH263AlwaysSet = 0x0008,
  kH263Reference = 0x0010,        // I and P pictures
};

// "I", "P", "B", "PB", "SI" (EI), "SP" (EP) or "" for the type bits of the flags.
const char* H263PictureTypeText(uint16_t flags);

class C263_Parser : public CVideo_Stream {
 public:
  explicit C263_Parser(int32_t codecType = kCodecH263);
  ~C263_Parser() override;

  int32_t GetCodecType() const override { return codecType_; }
  const char* GetCodecName() const override { return "H.263"; }
  // codecType 0xFFFFFFFF probes the bytes for picture start codes (0 when none in the first
  // 512 bytes); otherwise the picture size is taken from the first picture header.
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  void ReleaseDecoder() override {}
  void ResetDecoder() override;
  int GetVideoFormat(VideoFormat& format) override;
  bool GetCurrentPicture(CVideoFrame& out) override;
  bool GetNextPicture(CVideoFrame& out) override;
  MacroblockGeometry Geometry() const override;
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;
  void ShowMacroblock(CFieldTree& tree, uint32_t index, uint32_t mb) override;
  bool MacroblockMark(uint32_t mb, VideoMacroblockMark& out) const override;
  std::unique_ptr<CView_VideoFrameList> CreateFrameList() override;

  // Reads frame `index`'s picture header. 1 when its bytes could be read (the header itself
  // may still be invalid: then `ok` is false).
  int GetFrameHeader(uint32_t index, H263PictureHeader& header, bool& ok);
  C263_Decode& Decoder() { return *decoder_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }

 protected:
  uint32_t DecodePicture(const uint8_t* data, uint32_t length, uint32_t frameNumber) override;
  VideoAccessFlags AccessFlags(const FrameEntry& entry) const override;

 private:
  // Offset of the next picture start code at or after `from`, or `size` when none.
  size_t FindStartCode(const uint8_t* data, size_t size, size_t from) const;

  int32_t codecType_;
  std::unique_ptr<C263_Decode> decoder_;
  uint32_t width_ = 0, height_ = 0;
  uint32_t randomAccessIndex_ = 0;
  H263Opptype parseModes_;  // PLUSPTYPE modes as the frame-list building last saw them
  bool pictureReady_ = false;
};

}  // namespace fennik
