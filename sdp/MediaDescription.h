// Session descriptions (RFC 4566 SDP) found in a capture or chosen by the user: each parsed
// text becomes one MediaDescription that maps RTP payload types to codecs of the registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

#include "sdp/MediaFormat.h"

namespace fennik {

constexpr int kMaxMediaFormats = 10;

// One parsed SDP text: the last connection address and media line, and its rtpmap formats
// in the order they appeared (at most kMaxMediaFormats; later ones are dropped).
struct MediaDescription {
  uint32_t connectionAddress = 0;  // IPv4, first octet most significant; 0 none
  uint32_t mediaPort = 0;
  uint32_t mediaKind = 0;          // 1 audio, 2 video, 0 neither
  uint32_t formatCount = 0;
  MediaFormat formats[kMaxMediaFormats];

  // The last format with this payload type (a later rtpmap for the same payload type
  // overrides an earlier one); nullptr when none.
  const MediaFormat* FindFormat(uint32_t payloadType) const;
};

// Parses one SDP text into `out` (which is reset first). Never fails: malformed lines are
// ignored field by field. Every line with a known SDP line type is written to the debug sink.
void ParseMediaDescription(const uint8_t* text, size_t length, MediaDescription& out);

// The session descriptions of one capture, newest first. References returned by At and
// FindForStream stay valid until Clear (or destruction), also across later Parse calls.
class MediaDescriptionList {
 public:
  // Parses one SDP text (narrow bytes, may run on past the SDP body, need not end with a line
  // break). Adds a description at the head when it has at least one format. Never fails.
  void Parse(const uint8_t* text, size_t length);
  void Parse(std::string_view text);

  // The newest description whose connection address equals srcAddr or dstAddr and whose media
  // port (low 16 bits) equals srcPort or dstPort; nullptr when none. A description without a
  // connection address (0) matches no stream.
  const MediaDescription* FindForStream(uint32_t srcAddr, uint32_t dstAddr, uint16_t srcPort,
                                        uint16_t dstPort) const;

  size_t Size() const { return descriptions_.size(); }
  const MediaDescription& At(size_t i) const { return descriptions_[i]; }  // 0 = newest; i < Size()
  void Clear();

 private:
  static uint64_t Key(uint32_t address, uint16_t port) {
    return (uint64_t{address} << 16) | port;
  }

  std::deque<MediaDescription> descriptions_;  // front = newest
  // (connection address, media port) -> sequence number of the newest description with that
  // pair; the sequence number counts descriptions added since the last Clear, from 0.
  std::unordered_map<uint64_t, size_t> newestByEndpoint_;
};

// The SDP text made for a stream the user assigned SDP to: body, "\r\n",
// "c=IN IP4 a.b.c.d\r\n" (source address), "m=unknown <source port>\r\n". The two lines
// appended last make the description match that stream and any stream sent to that address
// and port, whatever the body names; "m=unknown" keeps the media kind the body's own "m=" set.
std::string MakeUserSdpText(std::string_view body, uint32_t srcAddr, uint16_t srcPort);

}  // namespace fennik
