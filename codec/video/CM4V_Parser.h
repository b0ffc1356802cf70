// MPEG-4 Visual elementary streams (ISO/IEC 14496-2) as stream objects: CM4V_Parser for
// codec types 5 ("MP4V-ES", RFC 3016) and 28 (opens without configuration headers). RTP
// payloads are used as they are: consecutive payloads form the byte stream. The parser cuts
// the stream into one frame entry per VOP, reads the configuration and picture headers for
// the views, and takes configuration headers given in the SDP's config= parameter.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/video/CMP4_Decode.h"
#include "codec/video/CVideo_Stream.h"
#include "codec/video/M4VHeaders.h"
#include "stream/CodecType.h"
#include "stream/FrameEntry.h"

namespace fennik {

enum M4vFrameFlag : uint16_t {
  kM4vCodingTypeMask = 0x0007,  // vop_coding_type + 1: 1 I, 2 P, 3 B, 4 S
  kM4vAlways = 0x0008,
  kM4vReference = 0x0010,
  kM4vRandomAccess = 0x0020,
};

inline M4vFrameFields M4vFields(const FrameEntry& entry) { return GetCodecFields<M4vFrameFields>(entry); }

class CM4V_Parser : public CVideo_Stream {
 public:
  explicit CM4V_Parser(int32_t createdAs = kCodecMpeg4Visual) : createdAs_(createdAs) {}

  int32_t GetCodecType() const override { return kCodecMpeg4Visual; }
  const char* GetCodecName() const override { return "MPEG-4"; }
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  void ReleaseDecoder() override {}
  void ResetDecoder() override;
  int GetVideoFormat(VideoFormat& format) override;
  MacroblockGeometry Geometry() const override;
  bool GetCurrentPicture(CVideoFrame& out) override;
  bool GetNextPicture(CVideoFrame& out) override;
  void FlushPictures() override;
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;

  // The headers of frame `index`: those of its random-access frame first (their GOV and VOP
  // dropped) unless it is one itself, then its own. 1 once the frame's bytes were read.
  int GetFrameHeader(uint32_t index, M4vHeaders& headers);
  // Configuration headers (VOS/VO/VOL bytes) given out of band, before the first payload.
  void AddConfiguration(const uint8_t* data, size_t size);
  // The stream's configuration as read so far (open, SDP config=, frame-list building).
  const M4vHeaders& Configuration() const { return config_; }
  bool HasOutOfBandConfiguration() const { return outOfBand_; }
  // A stream of short-video-header pictures (H.263 baseline inside MPEG-4 Visual): no VOL,
  // frames cut at short_video_start_marker.
  bool IsShortVideoHeader() const { return shortHeader_; }
  void ShowMacroblock(CFieldTree& tree, uint32_t index, uint32_t mb) override;
  bool MacroblockMark(uint32_t mb, VideoMacroblockMark& out) const override;
  std::unique_ptr<CView_VideoFrameList> CreateFrameList() override;
  CMP4_Decode& Decoder() { return decoder_; }

 protected:
  void PrepareDecode() override;
  uint32_t DecodePicture(const uint8_t* data, uint32_t length, uint32_t frameNumber) override;
  void OnMediaFormat() override;
  VideoAccessFlags AccessFlags(const FrameEntry& entry) const override;

 private:
  void TakeConfiguration(const uint8_t* data, size_t size);
  size_t ParseShortHeader(uint32_t streamId, CPayloadDescriptor& descriptor);

  int32_t createdAs_;
  M4vHeaders config_;
  bool outOfBand_ = false;
  bool shortHeader_ = false;
  uint32_t randomAccessIndex_ = 0;
  M4vHeaders details_;
  // Decoding: the headers in effect (from the configuration, then as the frames bring them),
  // the decoder, and the decode counters of the frame being decoded.
  M4vHeaders decodeHeaders_;
  CMP4_Decode decoder_;
  uint32_t decodedVops_ = 0;
  uint32_t decodeErrors_ = 0;
  uint32_t detailsIndex_ = kNone;
};

}  // namespace fennik
