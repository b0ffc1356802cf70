// Session descriptions (RFC 4566 SDP) found in a capture or chosen by the user: each medium
// ("m=" line) of a parsed text becomes one MediaDescription that maps RTP payload types to
// codecs of the registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sdp/MediaFormat.h"

namespace fennik {

constexpr int kMaxMediaFormats = 10;

// One medium of a parsed SDP text: its connection address (its own "c=" line, else the
// session-level one), its port and kind, and the formats of its rtpmap and fmtp lines in the
// order they appeared (at most kMaxMediaFormats; later ones are dropped). A text without any
// "m=" line is one description with port 0 and kind 0.
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

// Parses one SDP text into one description per medium, in text order (media without formats
// included). Never fails: malformed lines are ignored field by field. Every line with a known
// SDP line type is written to the debug sink.
std::vector<MediaDescription> ParseMediaDescriptions(const uint8_t* text, size_t length);

// The session descriptions of one capture, newest first. References returned by At and
// FindForStream stay valid until Clear (or destruction), also across later Parse calls.
class MediaDescriptionList {
 public:
  // Parses one SDP text (narrow bytes, may run on past the SDP body, need not end with a line
  // break). Adds each medium that has at least one format at the head, in text order (so the
  // text's last medium is the newest). Never fails.
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
// appended last form a medium of their own that carries every format of the body and the
// kind of the body's last "m=" line that named one; it matches that stream and any stream
// sent to that address and port (the reverse direction of the call), whatever the body names.
// Lines of the body in the short form "PT=NAME/RATE[/CHANNELS]" are first written out as
// "a=rtpmap:PT NAME/RATE[/CHANNELS]"; every other line is kept as it is.
std::string MakeUserSdpText(std::string_view body, uint32_t srcAddr, uint16_t srcPort);

// The short form of one rtpmap attribute that a user may type instead of SDP:
// "PT=NAME/RATE[/CHANNELS]" (for example "96=H264/90000", "97=opus/48000/2"), blanks around
// it allowed. PT is 0 to 127, NAME a non-empty encoding name without blanks, "/", "=" or ";",
// RATE and CHANNELS decimal numbers above 0.
struct RtpmapShorthand {
  uint32_t payloadType = 0;
  std::string encodingName;
  uint32_t clockRate = 0;
  uint32_t channels = 0;  // 0: not given
};
std::optional<RtpmapShorthand> ParseRtpmapShorthand(std::string_view text);
// "a=rtpmap:PT NAME/RATE[/CHANNELS]".
std::string RtpmapLine(const RtpmapShorthand& shorthand);

}  // namespace fennik
