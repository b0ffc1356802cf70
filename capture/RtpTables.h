// The records of the analysis pass: one RtpPacketEntry per RTP packet (the packet table's
// entry), one RtpStreamEntry per stream, and the static payload-type table of the RTP
// audio/video profile.
#pragma once

#include <cstdint>

#include "stream/CAddressList.h"

namespace fennik {

constexpr uint32_t kNoFrame = 0xFFFFFFFF;
constexpr uint8_t kErrorSequence = 1;  // sequence number not consecutive

// RtpPacketEntry::flags.
constexpr uint8_t kPacketDuplicate = 1;    // an exact copy of an earlier packet of its stream
constexpr uint8_t kPacketNotMedia = 2;     // a payload type other than the stream's codec's
                                           // (telephone events, comfort noise): not a frame

// 40 bytes, so that a packet-table slot with its file address takes 48: the small fields
// share bytes (payload type and marker as in the RTP header), the record length is derived.
struct RtpPacketEntry {
  uint64_t captureTime;      // milliseconds since the capture's first packet (never clamps)
  uint16_t streamIndex;      // index into the stream table (stream id = index + 1)
  uint16_t sequenceNumber;
  uint16_t payloadOffset;    // RTP payload from the start of the record, saturated at 65535
  uint16_t payloadLength;    // from the UDP length
  uint32_t packetNumber;
  uint32_t rtpTimestamp;
  uint32_t bitRate;          // payload bytes of this stream in the last second
  int32_t jitter;            // milliseconds
  uint32_t frameIndex;       // stream frame that begins in this packet, or kNoFrame
  uint16_t capturedPayload;  // payload bytes present in the record, saturated at 65535
  uint8_t payloadType : 7;   // the packet's own payload type
  uint8_t marker : 1;
  uint8_t errorFlags : 1;    // kErrorSequence
  uint8_t flags : 3;         // kPacketDuplicate, kPacketNotMedia
  uint8_t linkCode : 4;      // LinkTypeCode() of the link type the record was decoded with

  // Record bytes (header + captured frame), saturated at 65535.
  uint32_t RecordLength() const {
    const uint32_t length = uint32_t{payloadOffset} + capturedPayload;
    return length < 0xFFFF ? length : 0xFFFF;
  }
};
static_assert(sizeof(RtpPacketEntry) == 40);

using CPacketTable = CAddressList<RtpPacketEntry>;

struct RtpStreamEntry {
  uint32_t payloadType = 0;
  uint32_t mediaKind = 0;         // 1 audio, 0 video or unknown
  char encodingName[16] = {};     // static table or the session description's format
  uint32_t codecType = 0;         // 0: no codec known
  uint32_t channels = 0;
  uint32_t bitsPerSample = 0;
  uint32_t codecParameter = 0;
  uint32_t clockRate = 0;
  uint32_t sourceAddress = 0;
  uint32_t destinationAddress = 0;
  uint16_t sourcePort = 0;
  uint16_t destinationPort = 0;
  uint32_t firstPacketNumber = 0;
  uint64_t referenceCaptureTime = 0;
  uint32_t referenceRtpTimestamp = 0;
  uint32_t streamObjectCreated = 0;
  uint16_t lastSequenceNumber = 0;
  uint64_t lastCaptureTime = 0;
  uint32_t lastRtpTimestamp = 0;
  // Counters kept for the stream table and the CLI.
  uint32_t packets = 0;
  uint32_t sequenceErrors = 0;
  uint32_t duplicates = 0;          // exact duplicates, listed but not decoded
  uint32_t otherPayloadPackets = 0; // packets of other payload types (events, CN)
  uint32_t codecSlot = 0xFFFFFFFF;  // index of the stream's codec slot, if any
};

struct StaticPayloadType {
  uint32_t kind;
  uint32_t codecType;
  const char* name;  // nullptr for payload types the profile leaves unassigned
  uint32_t clockRate;
  uint32_t channels;
  uint32_t bitsPerSample;
  uint32_t codecParameter;
};

// Finds the packet-table row of a capture packet number (packet numbers grow strictly along
// the table); false when that packet is not an RTP packet of the table. The search gallops
// back from the table's end (the analysis pass asks about recent packets), then bisects.
bool FindPacketRow(const CPacketTable& table, uint32_t packetNumber, uint64_t& row);

// The row for a payload type; `listed` tells whether the profile assigns it.
const StaticPayloadType& LookupStaticPayloadType(uint32_t payloadType, bool& listed);

}  // namespace fennik
