// libFuzzer target for the SDP parser: the input is the text from "v=0" to the end of a
// datagram, as the packet decoder hands it over, or a user's text (with the rtpmap short
// form). Exercises the per-media split, fmtp parameters, the description list and the
// user-SDP text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "sdp/MediaDescription.h"

namespace {

void CheckDescription(const fennik::MediaDescription& d) {
  if (d.formatCount > fennik::kMaxMediaFormats) std::abort();
  for (uint32_t f = 0; f < d.formatCount; ++f) {
    const fennik::MediaFormat& format = d.formats[f];
    if (format.encodingName[15] != '\0') std::abort();
    if (format.hasRtpmap && format.clockRate == 0) std::abort();
    for (const fennik::FmtpParameter& p : format.fmtp) {
      // Every parameter is found by its own name (the first of that name answers).
      if (!format.Fmtp(p.name).has_value()) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past `size` is caught by AddressSanitizer.
  std::vector<uint8_t> text(data, data + size);
  for (const fennik::MediaDescription& d : fennik::ParseMediaDescriptions(text.data(), text.size())) {
    CheckDescription(d);
  }
  fennik::MediaDescriptionList list;
  list.Parse(text.data(), text.size());
  list.Parse(text.data(), text.size() / 2);
  const std::string_view body(reinterpret_cast<const char*>(text.data()), text.size());
  // The text made for a user's stream: its last medium names that stream and carries a
  // format whenever the body has one.
  const std::string user = fennik::MakeUserSdpText(body, 0x0A000001, 4000);
  const auto userMedia =
      fennik::ParseMediaDescriptions(reinterpret_cast<const uint8_t*>(user.data()), user.size());
  const fennik::MediaDescription& last = userMedia.back();
  if (last.connectionAddress != 0x0A000001 || last.mediaPort != 4000) std::abort();
  bool bodyHasFormat = false;
  for (const fennik::MediaDescription& d : userMedia) bodyHasFormat |= &d != &last && d.formatCount > 0;
  if (bodyHasFormat && last.formatCount == 0) std::abort();
  list.Parse(user);
  for (size_t i = 0; i < list.Size(); ++i) {
    const fennik::MediaDescription& d = list.At(i);
    if (d.formatCount == 0) std::abort();
    CheckDescription(d);
    const fennik::MediaDescription* found =
        list.FindForStream(d.connectionAddress, 0, static_cast<uint16_t>(d.mediaPort), 0);
    if (d.connectionAddress != 0 && found == nullptr) std::abort();
  }
  if (const auto s = fennik::ParseRtpmapShorthand(body)) {
    if (s->payloadType > 127 || s->clockRate == 0 || s->encodingName.empty()) std::abort();
  }
  return 0;
}
