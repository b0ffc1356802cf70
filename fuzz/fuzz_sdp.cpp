// libFuzzer target for the SDP parser: the input is the text from "v=0" to the end of a
// datagram, as the packet decoder hands it over. Exercises the description list as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sdp/MediaDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size copy, so that any read past `size` is caught by AddressSanitizer.
  std::vector<uint8_t> text(data, data + size);
  fennik::MediaDescriptionList list;
  list.Parse(text.data(), text.size());
  list.Parse(text.data(), text.size() / 2);
  for (size_t i = 0; i < list.Size(); ++i) {
    const fennik::MediaDescription& d = list.At(i);
    if (d.formatCount == 0 || d.formatCount > fennik::kMaxMediaFormats) std::abort();
    for (uint32_t f = 0; f < d.formatCount; ++f) {
      if (d.formats[f].encodingName[15] != '\0') std::abort();
    }
    const fennik::MediaDescription* found =
        list.FindForStream(d.connectionAddress, 0, static_cast<uint16_t>(d.mediaPort), 0);
    if (d.connectionAddress != 0 && found == nullptr) std::abort();
  }
  return 0;
}
