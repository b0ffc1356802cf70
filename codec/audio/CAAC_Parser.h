// The AAC stream (codec type 89; reported as 90 ADIF, 91 ADTS, 92 LATM/LOAS): MPEG-4 AAC
// in ADTS, in LOAS (AudioSyncStream, EPAudioSyncStream), in ADIF or as raw access units,
// and from RTP as MP4A-LATM (RFC 3016/6416: one AudioMuxElement per RTP timestamp, its
// StreamMuxConfig in-band or from the SDP config=) or mpeg4-generic (RFC 3640 AAC-hbr and
// AAC-lbr: the AU-header section by the SDP's sizeLength/indexLength/indexDeltaLength is
// left out of the bitstream and cuts it into access units; fragmented access units come
// out joined; the AudioSpecificConfig from config=). Every header field is shown. The access
// units are decoded by the external module xcaac_x64.so (FAAD2), created from the stream's
// AudioSpecificConfig; without it (or without a configuration) playback is silent for each
// frame's duration.
#pragma once

#include <deque>

#include "codec/audio/AacSyntax.h"
#include "codec/audio/CModuleHandle.h"
#include "stream/CAudio_Stream.h"

namespace fennik {

enum class AacTransport : uint8_t {
  kAdif = 0,
  kAdts = 1,
  kLoas = 2,       // AudioSyncStream
  kLoasEp = 3,     // EPAudioSyncStream
  kRaw = 4,
  kRtpLatm = 5,    // MP4A-LATM: AudioMuxElements without a sync layer
  kRtpAuHeaders = 6,  // mpeg4-generic
  kUnknown = 0xFF,
};

// The codec fields of an AAC frame entry.
struct AacFrameFields {
  uint32_t bitRate;      // frame bytes × 8 over the frame's duration
  uint32_t sampleRate;
  uint16_t channels;
  uint16_t samples;      // per channel
  uint16_t auSize;       // mpeg4-generic: the AU header's AU-size
  uint16_t auIndex;      // AU-Index (first header of a packet) or AU-Index-delta
  uint16_t auHeadersLength;  // of the packet the access unit came in
  uint8_t transport;     // AacTransport
  uint8_t flags;         // AacFrameFlag
};
enum AacFrameFlag : uint8_t { kAacFirstAuOfPacket = 1, kAacHasAuHeader = 2 };

class CAAC_Parser : public CAudio_Stream {
 public:
  static constexpr int32_t kCodecType = 89;

  CAAC_Parser();

  void ReleaseDecoder() override { module_.Destroy(); }
  void ResetDecoder() override { module_.Reset(); }
  int Open(const uint8_t* data, size_t length, int32_t codecType) override;
  int32_t GetCodecType() const override;
  const char* GetCodecName() const override { return "AAC"; }
  size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) override;
  int GetAudioFormat(AudioFormat& format) const override;
  // Every frame of the stream holds the same number of samples per channel, so frames that
  // share a packet's RTP timestamp are placed one after the other.
  uint64_t FrameSamples(uint32_t) const override {
    AudioFormat f;
    return GetAudioFormat(f) ? f.samples : 0;
  }
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t,
                      int32_t bitRate) override;
  uint32_t PayloadHeaderLength(const uint8_t* payload, uint32_t length) const override;
  void OnPayloadHeader(const uint8_t* header, uint32_t length, uint32_t payloadBytes,
                       uint32_t packetNumber) override;

  void ShowFrameInfo(CFieldTree& tree, uint32_t index) override;
  void ShowFrameDetail(CFieldTree& tree, uint32_t index) override;
  std::span<const FrameColumn> FrameListColumns() const override;
  void FrameListCells(const FrameEntry& entry, std::vector<std::string>& cells) const override;
  size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) override;

  AacTransport Transport() const { return transport_; }
  // The stream's configuration as far as known (SDP config=, first header).
  const AudioSpecificConfig& Config() const { return asc_; }

 protected:
  void OnMediaFormat() override;

 private:
  struct AccessUnit {
    uint32_t size;
    uint16_t index;
    uint16_t headersLength;
    bool firstOfPacket;
    bool skip;  // the received part of an access unit whose other fragments were lost
  };
  bool Detect(const uint8_t* data, size_t length);
  // The frame length of the transport frame at `p` (0: not a frame header), and what it
  // tells about the stream.
  size_t TransportFrameLength(const uint8_t* p, size_t available, AacFrameFields& f);
  void TakeConfig(const AudioSpecificConfig& asc);
  AacFrameFields BaseFields(uint32_t bytes) const;

  // Decodes one access unit through the module into `out`; samples written (0: none).
  size_t DecodeAccessUnit(const uint8_t* unit, size_t length, int16_t* out, size_t capacitySamples);

  AacTransport transport_ = AacTransport::kUnknown;
  CModuleHandle module_{CodecModule::kAac};
  AudioFormat aacFormat_;
  AudioSpecificConfig asc_;
  bool haveAsc_ = false;
  StreamMuxConfig muxConfig_;   // LATM: the current StreamMuxConfig
  bool haveMuxConfig_ = false;
  bool muxConfigPresent_ = true;  // LATM cpresent
  uint32_t sizeLength_ = 0, indexLength_ = 0, indexDeltaLength_ = 0;
  uint32_t ctsDeltaLength_ = 0, dtsDeltaLength_ = 0, randomAccessIndication_ = 0, streamStateIndication_ = 0;
  std::deque<AccessUnit> units_;  // mpeg4-generic access units waiting for their bytes
  uint32_t fragmentLeft_ = 0;      // bytes of a fragmented access unit still to come
  uint32_t fragmentSize_ = 0;
};

}  // namespace fennik
