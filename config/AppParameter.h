// CAppParameter: the process's settings object — the common settings of CCommConfig plus
// this program's options and the user's SDP list.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/CommConfig.h"

namespace fennik {

// One named SDP text kept by the user and offered for streams whose SDP was not captured.
struct SdpListEntry {
  std::string title;
  std::string body;
  bool operator==(const SdpListEntry&) const = default;
};

// An entry of the packet option list; kept and written back, used by nothing else.
struct PacketOption {
  uint32_t type = 0;
  uint32_t time = 0;
  bool operator==(const PacketOption&) const = default;
};

class CAppParameter : public CCommConfig {
 public:
  // The file loading limit's default, which is also its ceiling.
  static constexpr uint32_t kMaxFileReadLimit = 20971520;
  // Texts of the SDP dialogs are edited up to this many characters.
  static constexpr size_t kMaxSdpTextLength = 4095;

  using CCommConfig::CCommConfig;

  void Create() override;
  void ReadElements(const XmlElement& config) override;
  void WriteElements(XmlElement& config) const override;

  bool aribCode = true;
  bool fileReadLimitEnabled = true;
  uint32_t fileReadLimit = kMaxFileReadLimit;
  std::vector<PacketOption> packetOptions;
  int32_t configValue1 = 0;
  int32_t configValue2 = 0;
  bool videoPreview = false;
  bool showCodec = false;
  // Audio plays on the stream's RTP timeline (gaps as silence); off: frames back to back.
  // Stored as "play_timeline" only when off, so files written before stay as they were.
  bool playTimeline = true;
  std::vector<SdpListEntry> sdpList;  // in the user's order
  // Fixed drawing colours of the video macroblock views; never stored.
  std::array<uint32_t, 5> macroblockViewColors = {0xC8C8C8, 0x808080, 0x00FFFF, 0, 0x0000FF};
};

// The SDP body as stored: every LF written as backslash "n", then every CR as backslash
// "r" (XML text content does not keep line breaks).
std::string EscapeSdpBody(std::string_view body);
// The inverse: backslash "n" and backslash "r" become LF and CR again.
std::string UnescapeSdpBody(std::string_view stored);

}  // namespace fennik
