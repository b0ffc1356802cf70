// H.264 elementary streams as stream objects: C264_Parser (Annex B byte streams, codec type
// 9), C264_Mp4Parser (4-byte length-prefixed NAL units, codec type 10) and C264_RtpParser
// (RTP payloads of RFC 6184, codec type 11). They cut the stream into one frame entry per
// coded picture (delimited by slices with first_mb_in_slice 0), compute its picture order
// count, describe a frame's NAL units for the views and hand frames to the decoder.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "codec/video/C264_Decode.h"
#include "codec/video/CVideo_Stream.h"
#include "h264/H264Rtp.h"
#include "h264/H264Syntax.h"
#include "stream/CodecType.h"

namespace fennik {

// One NAL unit of a frame's details.
struct H264NalEntry {
  uint8_t header = 0;       // the NAL header byte
  uint8_t type = 0;         // header AND 0x9F
  bool parsed = false;      // its syntax structure was read
  int32_t ref = -1;         // slice slot, first SEI message, or pic_parameter_set_id
  int32_t count = 0;        // SEI messages of the unit
  std::vector<uint8_t> rbsp;  // the unit's RBSP after its header (slices: the first bytes)
};

// The NAL units of one frame with their parsed structures.
struct H264FrameDetails {
  static constexpr size_t kMaxNals = 32;
  static constexpr size_t kMaxSlices = 8;
  uint32_t frameIndex = 0;
  std::vector<H264NalEntry> nals;
  H264Aud aud;
  H264Sps sps;                        // the SPS in force (the last one parsed)
  std::map<uint32_t, H264Pps> pps;    // by pic_parameter_set_id
  std::vector<H264SliceHeader> slices;
  std::vector<H264SeiMessage> sei;
  void ClearUnits() {
    nals.clear();
    slices.clear();
    sei.clear();
  }
};

// The H.264 codec fields of a frame entry, decoded.
H264FrameFields H264Fields(const FrameEntry& entry);

class C264_Parser : public CVideo_Stream {
 public:
  C264_Parser();
  ~C264_Parser() override;

  int32_t GetCodecType() const override { return kCodecH264; }
  const char* GetCodecName() const override { return "H.264"; }
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  void ReleaseDecoder() override {}
  void ResetDecoder() override;
  int GetVideoFormat(VideoFormat& format) override;
  bool GetCurrentPicture(CVideoFrame& out) override { return decoder_->GetCurrentPicture(out, &crop_); }
  bool GetNextPicture(CVideoFrame& out) override { return decoder_->GetNextPicture(out, &crop_); }
  void FlushPictures() override { decoder_->Flush(); }
  MacroblockGeometry Geometry() const override { return decoder_->PictureGeometry(); }
  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;
  void ShowMacroblock(CFieldTree& tree, uint32_t index, uint32_t mb) override;
  bool MacroblockMark(uint32_t mb, VideoMacroblockMark& out) const override;
  std::unique_ptr<CView_VideoFrameList> CreateFrameList() override;

  // Frame details: the frame's NAL units, with the parameter sets of its random-access frame
  // read first. Returns 1, or 0 when the entry or the frame's bytes cannot be read.
  virtual int GetFrameHeader(uint32_t index, H264FrameDetails& details);
  // Splits a frame's bytes into NAL units and enters each into `details`.
  virtual void ParseNalUnits(const uint8_t* data, size_t length, H264FrameDetails& details);

  // The visible area of the picture handed out last.
  VideoCrop Crop() const override { return crop_; }
  C264_Decode& Decoder() { return *decoder_; }
  // SPS and PPS NAL units (escaped, header byte first) given out of band, before the stream's
  // first payload: parsed into the stores as if they had arrived in the stream.
  void AddParameterSet(const uint8_t* nal, size_t size);

 protected:
  void PrepareDecode() override {}
  // sprop-parameter-sets of the SDP's fmtp line reach the parameter-set stores here, before
  // the stream's first payload.
  void OnMediaFormat() override;
  uint32_t DecodePicture(const uint8_t* data, uint32_t length, uint32_t frameNumber) override;

  // Frame-list building state of one Parse call.
  struct Pending {
    size_t frameStart = 0;   // offset into the unread bytes; kNoStart once a frame was made
    size_t accumulated = 0;  // bytes since the previous frame's last slice
    size_t consumed = 0;
    bool spsSeen = false;
    bool ppsSeen = false;
  };
  static constexpr size_t kNoStart = ~size_t{0};
  // Acts on one NAL unit (escaped, header first) found at `position` of the unread bytes.
  void HandleNal(const uint8_t* nal, size_t size, size_t position, Pending& pending, CPayloadDescriptor& descriptor);
  // Unescapes a NAL unit's bytes into rbsp_; returns the RBSP length.
  size_t Unescape(const uint8_t* nal, size_t size);
  // Enters one NAL unit into a frame's details.
  void EnterNal(const uint8_t* nal, size_t size, H264FrameDetails& details);
  void SetFrameRateFromSps();
  // H.264 entries grow after they are added (a picture's later slices), so none is kept as
  // a packet row of the capture's packet table.
  void KeepFullEntries() { frames_.SetPacketSource(nullptr); }

  std::unique_ptr<C264_Decode> decoder_;
  std::vector<uint8_t> rbsp_;
  // Parameter sets as the frame-list building sees them.
  H264Sps sps_;
  std::map<uint32_t, H264Pps> ppsTable_;
  H264PocState pocState_;
  uint32_t randomAccessIndex_ = 0;
  H264FrameDetails details_;  // the details shown last
  // Parameter sets given out of band (SDP), entered into every frame's details first.
  H264Sps outOfBandSps_;
  std::map<uint32_t, H264Pps> outOfBandPps_;
  H264Crop crop_;
  bool takesFrameRate_ = true;
};

class C264_Mp4Parser : public C264_Parser {
 public:
  C264_Mp4Parser() { decoder_->SetLengthPrefixed(true); }
  int32_t GetCodecType() const override { return kCodecH264Mp4; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  void ParseNalUnits(const uint8_t* data, size_t length, H264FrameDetails& details) override;
};

class C264_RtpParser : public C264_Parser {
 public:
  C264_RtpParser();
  int32_t GetCodecType() const override { return kCodecH264Rtp; }
  int OpenDescriptor(uint32_t streamId, CPayloadDescriptor& descriptor, int32_t codecType) override;
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  // The frame's bytes are RTP payloads each preceded by a 4-byte big-endian length; a length
  // of 0 marks packets lost before the next payload.
  void ParseNalUnits(const uint8_t* data, size_t length, H264FrameDetails& details) override;
  // FU-A fragments and aggregation packets the frame-list building dropped.
  uint32_t DiscardedFragments() const { return depacketizer_.Discarded(); }

 private:
  CH264Depacketizer depacketizer_;
  uint32_t lastSequence_ = 0xFFFFFFFF;
};

}  // namespace fennik
