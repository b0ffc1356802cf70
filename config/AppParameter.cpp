#include "config/AppParameter.h"

namespace fennik {
namespace {

std::string Decimal(int64_t value) { return std::to_string(static_cast<int32_t>(value)); }

}  // namespace

std::string EscapeSdpBody(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 8);
  for (char c : body) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string UnescapeSdpBody(std::string_view stored) {
  std::string out;
  out.reserve(stored.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == '\\' && i + 1 < stored.size() && (stored[i + 1] == 'n' || stored[i + 1] == 'r')) {
      out += stored[i + 1] == 'n' ? '\n' : '\r';
      ++i;
    } else {
      out += stored[i];
    }
  }
  return out;
}

void CAppParameter::Create() {
  macroblockViewColors = {0xC8C8C8, 0x808080, 0x00FFFF, 0, 0x0000FF};
  CCommConfig::Create();
}

void CAppParameter::ReadElements(const XmlElement& config) {
  CCommConfig::ReadElements(config);

  aribCode = CXml::GetInt(config.FindChild("arib_code"), 1) != 0;
  fileReadLimitEnabled = CXml::GetInt(config.FindChild("file_read_limit"), 1) != 0;
  fileReadLimit = static_cast<uint32_t>(CXml::GetInt(
      config.FindChild("file_read_limit_length"), static_cast<int32_t>(kMaxFileReadLimit)));
  if (fileReadLimit > kMaxFileReadLimit) fileReadLimit = kMaxFileReadLimit;

  // Every "packet_error" child is an entry (type default 0, time default 100).
  if (const XmlElement* list = config.FindChild("ts_packets")) {
    packetOptions.clear();
    for (const XmlElement& entry : list->children) {
      if (entry.name != "packet_error") continue;
      PacketOption option;
      option.type = static_cast<uint32_t>(CXml::GetInt(entry.FindChild("type"), 0));
      option.time = static_cast<uint32_t>(CXml::GetInt(entry.FindChild("time"), 100));
      packetOptions.push_back(option);
    }
  }

  configValue1 = CXml::GetInt(config.FindChild("config_val_1"), 0);
  configValue2 = CXml::GetInt(config.FindChild("config_val_2"), 0);
  videoPreview = CXml::GetInt(config.FindChild("video_preview"), 0) == 1;
  showCodec = CXml::GetInt(config.FindChild("show_codec"), 0) == 1;
  playTimeline = CXml::GetInt(config.FindChild("play_timeline"), 1) != 0;

  // A missing title or body counts as empty; one present without text skips the entry.
  // The first entry read replaces the list held in memory.
  if (const XmlElement* list = config.FindChild("sdp_list")) {
    bool first = true;
    for (const XmlElement& sdp : list->children) {
      if (sdp.name != "sdp") continue;
      const XmlElement* title = sdp.FindChild("title");
      const XmlElement* body = sdp.FindChild("body");
      if ((title != nullptr && !title->text) || (body != nullptr && !body->text)) continue;
      if (first) sdpList.clear();
      first = false;
      sdpList.push_back({title != nullptr ? *title->text : std::string(),
                         body != nullptr ? UnescapeSdpBody(*body->text) : std::string()});
    }
  }
}

void CAppParameter::WriteElements(XmlElement& config) const {
  CCommConfig::WriteElements(config);

  config.AddChild("arib_code", aribCode ? "1" : "0");
  config.AddChild("file_read_limit", fileReadLimitEnabled ? "1" : "0");
  config.AddChild("file_read_limit_length", Decimal(fileReadLimit));

  if (!packetOptions.empty()) {
    XmlElement& list = config.AddChild("ts_packets");
    for (const PacketOption& option : packetOptions) {
      if (option.type == 0 && option.time == 0) continue;
      XmlElement& entry = list.AddChild("packet_error");
      entry.AddChild("type", Decimal(option.type));
      entry.AddChild("time", Decimal(option.time));
    }
  }

  if (!sdpList.empty()) {
    XmlElement& list = config.AddChild("sdp_list");
    for (const SdpListEntry& entry : sdpList) {
      XmlElement& sdp = list.AddChild("sdp");
      sdp.AddChild("title", entry.title);
      sdp.AddChild("body", EscapeSdpBody(entry.body));
    }
  }

  config.AddChild("config_val_1", Decimal(configValue1));
  config.AddChild("config_val_2", Decimal(configValue2));
  config.AddChild("video_preview", videoPreview ? "1" : "0");
  config.AddChild("show_codec", showCodec ? "1" : "0");
  if (!playTimeline) config.AddChild("play_timeline", "0");
}

}  // namespace fennik
