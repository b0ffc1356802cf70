// The elementary-stream object base: one per RTP stream whose codec is known. The analysis
// pass drives it (format, open, parse, reset, views); it cuts the stream's payload into
// frames kept in its frame table and fetches frame bytes again through its data source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sdp/MediaFormat.h"
#include "stream/AudioFormat.h"
#include "stream/CAnarizeBuffer.h"
#include "stream/CFrameTable.h"

namespace fennik {

// Reads payload bytes of a stream back from the capture, starting at a frame address.
class CAvLoadStream {
 public:
  static constexpr uint32_t kTooLarge = 0xFFFFFFFF;
  virtual ~CAvLoadStream() = default;
  // Writes up to `wanted` payload bytes of the access unit whose first packet record is at
  // `address` into `buffer`; returns the byte count, 0 on failure, kTooLarge when the
  // access unit does not fit into the buffer.
  virtual uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted, uint64_t address) = 0;
};

// Told by stream objects whenever they add a frame.
class CCodecEventListener {
 public:
  virtual ~CCodecEventListener() = default;
  // `row`: the packet-table row of the packet the frame begins in, when the stream's
  // buffer knows it (all ones otherwise).
  virtual void OnFrameAdded(uint32_t frameIndex, uint32_t streamId, uint64_t address,
                            uint32_t size, uint32_t packetNumber, uint64_t row = ~uint64_t{0}) = 0;
};

// Decoded PCM handed to the playback: the format, interleaved 16-bit samples, the buffer's
// capacity and the valid bytes.
struct AudioFrame {
  AudioFormat format;
  int16_t* samples = nullptr;
  uint32_t capacityBytes = 0;
  uint32_t validBytes = 0;
};

// Where views register themselves when a stream attaches its views.
class CViewHost;

class CAvStream {
 public:
  static constexpr uint32_t kNone = 0xFFFFFFFF;

  CAvStream() = default;
  CAvStream(const CAvStream&) = delete;
  CAvStream& operator=(const CAvStream&) = delete;
  virtual ~CAvStream() = default;

  // True when a data source is attached.
  virtual bool IsOpen() const { return source_ != nullptr; }
  virtual void ReleaseDecoder() = 0;
  // Returns the decoder to its initial state (called on every non-consecutive decode).
  virtual void ResetDecoder() = 0;
  virtual void AttachView(CViewHost* host) { (void)host; }
  // True when a frame has been decoded and the current frame is the last or beyond.
  virtual bool IsEnd() const {
    return currentFrame_ != kNone && currentFrame_ + 1 >= frames_.GetCount();
  }
  // The open used by the H.264 RTP stream instead of Open; 0 for every other stream.
  virtual int OpenDescriptor(uint32_t streamId, CPayloadDescriptor& descriptor, int32_t codecType) {
    (void)streamId, (void)descriptor, (void)codecType;
    return 0;
  }
  // 1 when the stream can work with the payload, 0 to be offered the next access unit.
  virtual int Open(const uint8_t* data, size_t length, int32_t codecType) = 0;
  // Byte address of the decoded frame, or all ones on failure.
  virtual uint64_t DecodeFrame(uint32_t index) = 0;
  // Microseconds from the stream's start to frame `index` (kNone: the whole stream).
  virtual uint64_t GetTime(uint32_t index) = 0;
  virtual int32_t GetCodecType() const = 0;
  uint32_t GetStreamId() const { return streamId_; }
  virtual const char* GetCodecName() const = 0;
  // Cuts frames from the stream's unconsumed payload; returns the bytes consumed.
  virtual size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) = 0;
  // The frame's bytes (valid until the next fetch), or nullptr; `size` and `address` (the
  // frame's file address plus its offset in the packet) are filled.
  virtual const uint8_t* GetFrameData(uint32_t index, uint32_t* size, uint64_t* address) = 0;
  virtual bool IsVideo() const = 0;
  bool IsAudio() const { return !IsVideo(); }
  virtual int GetAudioFrame(uint32_t index, AudioFrame& frame) {
    (void)index, (void)frame;
    return 0;
  }
  virtual int GetAudioFormat(AudioFormat& format) const {
    (void)format;
    return 0;
  }
  virtual void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                              uint32_t reserved, int32_t bitRate) {
    (void)sampleRate, (void)bitsPerSample, (void)channels, (void)reserved, (void)bitRate;
  }
  // RTP payload formats that open every payload with a header of their own (RFC 2250's
  // MPEG audio header, RFC 3640's AU-header section): the header's length in `payload`
  // (0: none). The analysis buffer and the payload loader leave these bytes out, so the
  // stream sees its codec's bare bitstream. Must depend on the payload's bytes only.
  virtual uint32_t PayloadHeaderLength(const uint8_t* payload, uint32_t length) const {
    (void)payload, (void)length;
    return 0;
  }
  // The header PayloadHeaderLength found, in packet order, after the rest of the payload
  // went into the analysis buffer.
  virtual void OnPayloadHeader(const uint8_t* header, uint32_t length, uint32_t payloadBytes,
                               uint32_t packetNumber) {
    (void)header, (void)length, (void)payloadBytes, (void)packetNumber;
  }

  // The payload format the stream was assigned: the static payload type's values, or the
  // session description's rtpmap values with every fmtp parameter of that payload type
  // (also for static payload types whose SDP carries an fmtp line). The container sets it
  // right after creating the object, before SetAudioFormat, SetEndpoints and Open, so each of
  // those (and OnMediaFormat) can read it. Without SDP the fmtp list is empty.
  void SetMediaFormat(const MediaFormat& format) {
    mediaFormat_ = format;
    OnMediaFormat();
  }
  const MediaFormat& GetMediaFormat() const { return mediaFormat_; }
  // The value of the format's fmtp parameter `name` (case-insensitive name); nullopt when absent.
  std::optional<std::string_view> Fmtp(std::string_view name) const { return mediaFormat_.Fmtp(name); }

  void SetStreamId(uint32_t id) { streamId_ = id; }
  void SetListener(CCodecEventListener* listener) { listener_ = listener; }
  void SetSource(CAvLoadStream* source) { source_ = source; }
  void SetEndpoints(uint32_t srcAddr, uint32_t dstAddr, uint16_t srcPort, uint16_t dstPort) {
    srcAddr_ = srcAddr, dstAddr_ = dstAddr, srcPort_ = srcPort, dstPort_ = dstPort;
    endpointsSet_ = true;
  }
  bool HasEndpoints() const { return endpointsSet_; }
  // The stream's RTP clock rate (0: unknown), which may differ from the decoded PCM's rate.
  void SetRtpClockRate(uint32_t rate) { rtpClockRate_ = rate; }
  uint32_t RtpClockRate() const { return rtpClockRate_; }
  // Audio frames go on the RTP timeline (gaps as silence) unless concatenated.
  void SetConcatenated(bool concatenated) { concatenated_ = concatenated; }
  bool Concatenated() const { return concatenated_; }
  uint32_t SourceAddress() const { return srcAddr_; }
  uint32_t DestinationAddress() const { return dstAddr_; }
  uint16_t SourcePort() const { return srcPort_; }
  uint16_t DestinationPort() const { return dstPort_; }
  CFrameTable& Frames() { return frames_; }
  const CFrameTable& Frames() const { return frames_; }
  uint32_t CurrentFrame() const { return currentFrame_; }

 protected:
  // Called by SetMediaFormat once the format is stored: a stream that configures itself from
  // fmtp parameters (parameter sets, decoder configuration, frame mode) does so here.
  virtual void OnMediaFormat() {}

  // Appends a frame that starts `offset` bytes past the first unconsumed byte of the
  // stream's analysis buffer: the entry gets the packet fields of the packet the frame
  // starts in, and the listener is told. Returns false when it could not be placed.
  bool AddFrame(uint32_t streamId, size_t offset, FrameEntry entry, CPayloadDescriptor& descriptor);
  // The common parse: everything unconsumed is one frame. Returns the bytes consumed.
  size_t ParseWholeUnit(uint32_t streamId, CPayloadDescriptor& descriptor);

  CFrameTable frames_;
  uint32_t streamId_ = 0;
  uint32_t currentFrame_ = kNone;
  CAvLoadStream* source_ = nullptr;
  bool endpointsSet_ = false;
  uint32_t srcAddr_ = 0, dstAddr_ = 0;
  uint16_t srcPort_ = 0, dstPort_ = 0;
  uint32_t rtpClockRate_ = 0;
  bool concatenated_ = false;
  CCodecEventListener* listener_ = nullptr;
  MediaFormat mediaFormat_;
};

}  // namespace fennik
