// The elementary-stream object base: one per RTP stream whose codec is known. The analysis
// pass drives it (format, open, parse, reset, views); it cuts the stream's payload into
// frames kept in its frame table and fetches frame bytes again through its data source.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/CAddressList.h"
#include "stream/CAnarizeBuffer.h"
#include "stream/FrameEntry.h"

namespace fennik {

// Reads payload bytes of a stream back from the capture, starting at a frame address.
class CAvLoadStream {
 public:
  virtual ~CAvLoadStream() = default;
  // Writes up to `wanted` payload bytes of the access unit at `address` into `buffer`;
  // returns the byte count, 0 on failure, 0xFFFFFFFF when the unit does not fit.
  virtual uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted, uint64_t address) = 0;
};

// Told by stream objects whenever they add a frame.
class CCodecEventListener {
 public:
  virtual ~CCodecEventListener() = default;
  virtual void OnFrameAdded(uint32_t frameIndex, uint32_t streamId, uint64_t address,
                            uint32_t size, uint32_t packetNumber) = 0;
};

// Where views register themselves when a stream attaches its views.
class CViewHost;

class CAvStream {
 public:
  virtual ~CAvStream() = default;

  // True when a data source is attached.
  virtual bool IsOpen() const { return source_ != nullptr; }
  virtual void ReleaseDecoder() = 0;
  virtual void ResetDecoder() = 0;
  virtual void AttachView(CViewHost* host) { (void)host; }
  // The open used by the H.264 RTP stream instead of Open; 0 for every other stream.
  virtual int OpenDescriptor(uint32_t streamId, CPayloadDescriptor& descriptor, int32_t codecType) {
    (void)streamId, (void)descriptor, (void)codecType;
    return 0;
  }
  // 1 when the stream can work with the payload, 0 to be offered the next access unit.
  virtual int Open(const uint8_t* data, size_t length, int32_t codecType) = 0;
  virtual int32_t GetCodecType() const = 0;
  // Cuts frames from the stream's unconsumed payload; returns the bytes consumed.
  virtual size_t Parse(uint32_t streamId, CPayloadDescriptor& descriptor) = 0;
  virtual void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                              uint32_t reserved, int32_t bitRate) {
    (void)sampleRate, (void)bitsPerSample, (void)channels, (void)reserved, (void)bitRate;
  }

  void SetStreamId(uint32_t id) { streamId_ = id; }
  uint32_t GetStreamId() const { return streamId_; }
  void SetListener(CCodecEventListener* listener) { listener_ = listener; }
  void SetSource(CAvLoadStream* source) { source_ = source; }
  void SetEndpoints(uint32_t srcAddr, uint32_t dstAddr, uint16_t srcPort, uint16_t dstPort) {
    srcAddr_ = srcAddr, dstAddr_ = dstAddr, srcPort_ = srcPort, dstPort_ = dstPort;
    endpointsSet_ = 1;
  }
  CAddressList<FrameEntry>& Frames() { return frames_; }
  const CAddressList<FrameEntry>& Frames() const { return frames_; }

 protected:
  CAddressList<FrameEntry> frames_;
  uint32_t streamId_ = 0;
  uint32_t currentFrame_ = 0xFFFFFFFF;
  CAvLoadStream* source_ = nullptr;
  uint32_t endpointsSet_ = 0;
  uint32_t srcAddr_ = 0, dstAddr_ = 0;
  uint16_t srcPort_ = 0, dstPort_ = 0;
  CCodecEventListener* listener_ = nullptr;
};

}  // namespace fennik
