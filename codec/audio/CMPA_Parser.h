// The MPEG audio stream (codec types 81..87): MPEG-1, MPEG-2 and MPEG-2.5 audio, Layers
// I, II and III, cut into frames by their headers (ID3v2 tags skipped, free-format frames
// measured to the next header) and decoded by the layer decoder the first header selects.
// From RTP (codec type 81, RFC 2250) each payload's 4-byte header (MBZ, Frag_offset) is
// left out of the bitstream, so fragmented frames come out joined; the header is shown in
// the frame's tree.
#pragma once

#include <deque>

#include "codec/audio/CMPA_Decode.h"
#include "codec/audio/MpaSideInfo.h"
#include "stream/CAudio_Stream.h"

namespace fennik {

// The codec fields of an MPEG audio frame entry.
struct MpaFrameFields {
  uint32_t bitRate;
  uint16_t channels;
  uint8_t layer;
  uint8_t globalGain;     // Layer III: global_gain of granule 0, channel 0
  uint32_t mainDataEnd;   // Layer III: main_data_begin (the "main_data_end" column)
  uint16_t rtpMbz;        // RFC 2250 header of the packet the frame starts in
  uint16_t rtpFragOffset;
  uint8_t flags;          // MpaFrameFlag
};
enum MpaFrameFlag : uint8_t { kMpaHasSideInfo = 1, kMpaHasRtpHeader = 2 };

// A frame's header as the views show it.
struct MpaFrameHeader {
  uint32_t index = 0;
  MpaHeader header;
  bool haveCrc = false;
  bool haveSideInfo = false;
  MpaSideInfo side;
};

class CMPA_Parser : public CAudio_Stream, public CMPA_Decode {
 public:
  static constexpr int32_t kCodecTypeRtp = 81;  // before the first header is known

  explicit CMPA_Parser(int32_t codecType = kCodecTypeRtp) : requestedType_(codecType) {}

  void ReleaseDecoder() override { ReleaseLayer(); }
  void ResetDecoder() override { ResetLayer(); }
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  int32_t GetCodecType() const override;
  const char* GetCodecName() const override;
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  int GetAudioFormat(AudioFormat& format) const override;
  // Every frame of the stream holds the same number of samples per channel, so frames that
  // share a packet's RTP timestamp are placed one after the other.
  uint64_t FrameSamples(uint32_t) const override {
    AudioFormat f;
    return GetAudioFormat(f) ? f.samples : 0;
  }
  void SetAudioFormat(int32_t, uint16_t, uint16_t, uint32_t, int32_t) override {}
  uint32_t PayloadHeaderLength(const uint8_t* payload, uint32_t length) const override;
  void OnPayloadHeader(const uint8_t* header, uint32_t length, uint32_t payloadBytes,
                       uint32_t packetNumber) override;

  // Reads frame `index` and its header (with the Layer III side information).
  bool GetFrameHeader(uint32_t index, MpaFrameHeader& out);

  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;
  std::span<const FrameColumn> FrameListColumns() const override;
  void FrameListCells(const FrameEntry& entry, std::vector<std::string>& cells) const override;
  size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) override;

 private:
  struct RtpHeader {
    uint32_t packetNumber;
    uint16_t mbz, fragOffset;
  };
  int32_t requestedType_;
  std::deque<RtpHeader> rtpHeaders_;  // of packets whose frames are not all cut yet
};

}  // namespace fennik
