// The payload loader of one RTP stream: turns a frame address (the file offset of the
// packet record where an access unit begins) back into the payload bytes of that access
// unit, reading the capture in 64 KiB chunks and keeping the stream's own packets.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/CRTP_LoadPacket.h"
#include "capture/CaptureWalk.h"
#include "capture/H263RtpPayload.h"
#include "stream/CAvStream.h"

namespace fennik {

class CAvFile;

class CRTP_LoadStream : public CAvLoadStream {
 public:
  static constexpr uint32_t kChunkSize = 65536;

  struct Endpoints {
    uint32_t sourceAddress, destinationAddress;
    uint16_t sourcePort, destinationPort;
    int32_t payloadType = -1;  // the stream's codec's payload type; -1: any
  };

  // Reads the media of the packets the analysis fed to the stream object: packets of the
  // endpoints' payload type, without header extension and padding, each exact duplicate
  // (same sequence number and bytes within the access unit) once.
  // `linkTypes`: the classic file's link type, or the pcapng interfaces'. With
  // `lengthPrefix` every payload is preceded by its length as 4 big-endian bytes (the form
  // the H.264 RTP stream reads), and a length of 0 stands before a payload whose RTP
  // sequence number does not follow the previous one.
  CRTP_LoadStream(CAvFile& file, const CaptureFormatInfo& format, std::vector<uint32_t> linkTypes,
                  const Endpoints& endpoints, bool lengthPrefix);

  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted, uint64_t address) override;
  // The link types become known as the analysis walks the file.
  void SetLinkTypes(std::vector<uint32_t> linkTypes) { linkTypes_ = std::move(linkTypes); }
  // The stream whose payload format puts a header of its own in every payload
  // (CAvStream::PayloadHeaderLength): those bytes are left out of what Read returns.
  void SetPayloadHeaders(const CAvStream* stream) { headerOwner_ = stream; }
  // H.263 streams: payload headers of this format are removed (and bit-level packet
  // boundaries joined), so an access unit reads as the H.263 bitstream of one picture.
  void SetH263PayloadFormat(H263PayloadFormat format) { h263Format_ = format; }

 private:
  // The link type of a record: the classic file's, or its pcapng interface's.
  uint32_t LinkType(uint32_t interfaceId) const;

  CAvFile& file_;
  CaptureFormatInfo format_;
  std::vector<uint32_t> linkTypes_;
  Endpoints endpoints_;
  bool lengthPrefix_;
  const CAvStream* headerOwner_ = nullptr;
  H263PayloadFormat h263Format_ = H263PayloadFormat::kNone;
  std::unique_ptr<uint8_t[]> chunk_;
  CRTP_LoadPacket decoder_;
};

}  // namespace fennik
