// RFC 4733 telephone events (DTMF digits and the other named events) found during the
// analysis pass, one entry per event: the packets of one event (same SSRC and RTP
// timestamp) are merged, retransmitted end packets included.
//
// A dynamic payload type (96-127) is taken as telephone-event when the stream's session
// description names it so ("telephone-event" in an rtpmap line); when no description names
// it, the payload type is watched and its packets kept only while every one of them is
// consistent with the format: 4 octets, the reserved bit clear, a DTMF or flash event code
// (0-16), one event code per timestamp, durations that never decrease within an event and
// end packets that repeat the final duration. The first inconsistent packet rules the
// payload type out for the stream and drops what it had gathered. 101 is the number most
// senders use, but 96, 97, 100, 126 and 127 are common too, so the whole dynamic range is
// watched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennik {

struct TelephoneEvent {
  uint32_t streamIndex = 0;
  uint32_t ssrc = 0;
  uint8_t payloadType = 0;
  uint8_t event = 0;               // RFC 4733 3.2 / RFC 4734 event code
  uint8_t volume = 0;              // -dBm0 of the last packet (0-63)
  bool end = false;                // an end packet (E bit) was seen
  bool fromSdp = false;            // the description named the payload type
  uint32_t rtpTimestamp = 0;       // the event's start, in RTP timestamp units
  uint32_t firstPacketNumber = 0;  // capture record of the first packet seen
  int64_t startUs = 0;             // its capture time, microseconds since the Unix epoch
  uint32_t duration = 0;           // the longest duration reported, timestamp units
  uint32_t clockRate = 8000;       // of the payload type (8000 when nothing says otherwise)
  uint32_t packets = 0;            // every packet of the event, retransmissions included
  uint32_t endPackets = 0;         // packets with the E bit (the final one and its copies)

  double DurationMs() const { return clockRate ? duration * 1000.0 / clockRate : 0; }
};

// "0"-"9", "*", "#", "A"-"D", "Flash" for events 0-16; the number otherwise.
std::string TelephoneEventName(uint8_t event);

// Result of checking one payload against the format.
struct EventPayload {
  uint8_t event = 0;
  bool end = false;
  bool reserved = false;
  uint8_t volume = 0;
  uint16_t duration = 0;
};
// Reads the first event of a payload; false when it is shorter than 4 octets.
bool ReadEventPayload(const uint8_t* data, uint32_t length, EventPayload& out);

class TelephoneEventTable {
 public:
  enum class Mode : uint8_t { kUnknown, kSdp, kWatched, kRejected };

  void Clear();
  // kUnknown until SetMode is called for the stream and payload type (dynamic ones only;
  // the others are always kRejected).
  Mode ModeOf(uint32_t streamIndex, uint8_t payloadType) const;
  void SetMode(uint32_t streamIndex, uint8_t payloadType, Mode mode, uint32_t clockRate);
  // One RTP packet of a payload type whose mode is kSdp or kWatched; `data`/`length` its
  // media (without extension and padding).
  void OnPacket(uint32_t streamIndex, uint8_t payloadType, uint32_t ssrc, uint32_t timestamp,
                uint32_t packetNumber, int64_t captureUs, const uint8_t* data, uint32_t length);

  const std::vector<TelephoneEvent>& Events() const { return events_; }

 private:
  struct Watch {
    Mode mode = Mode::kUnknown;
    uint32_t clockRate = 8000;
    int64_t current = -1;  // index in events_ of the event the last packet belonged to
  };
  Watch* Find(uint32_t streamIndex, uint8_t payloadType);
  void Reject(uint32_t streamIndex, uint8_t payloadType, Watch& w);

  std::vector<TelephoneEvent> events_;
  // Per stream, per dynamic payload type 96-127.
  std::vector<std::vector<Watch>> watches_;
};

}  // namespace fennik
