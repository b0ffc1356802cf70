// libFuzzer target for MPEG-4 Visual streams: RTP payloads (MP4V-ES) through CM4V_Parser
// (SDP config=, open, frame-list building in two batches, frame details and their views) as
// the analysis and the views drive them, and the header readers on the raw input.
// Input: a first byte whose low bit selects the open with the first payloads (1) or with a
// config= taken from the first record (0), then records of a 2-byte big-endian payload
// length and the payload.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codec/video/CM4V_Parser.h"
#include "codec/video/M4VViews.h"
#include "sdp/MediaFormat.h"
#include "view/CFieldTree.h"

namespace {

struct Packet {
  size_t offset;
  uint32_t size;
};

// Serves frame bytes as the capture's loader does for MP4V-ES: the payloads of consecutive
// packets from the addressed one.
class Loader : public fennik::CAvLoadStream {
 public:
  Loader(const uint8_t* data, const std::vector<Packet>& packets) : data_(data), packets_(packets) {}
  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted, uint64_t address) override {
    uint32_t written = 0;
    for (size_t i = address; i < packets_.size() && written < wanted; ++i) {
      const Packet& p = packets_[i];
      const uint32_t n = std::min(p.size, wanted - written);
      if (uint64_t{written} + n > capacity) return kTooLarge;
      std::memcpy(buffer + written, data_ + p.offset, n);
      written += n;
    }
    return written;
  }

 private:
  const uint8_t* data_;
  const std::vector<Packet>& packets_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool openInBand = data[0] & 1;
  std::vector<Packet> packets;
  for (size_t pos = 1; pos + 2 <= size;) {
    const uint32_t length = (uint32_t{data[pos]} << 8) | data[pos + 1];
    pos += 2;
    if (length == 0 || length > size - pos) break;
    packets.push_back({pos, length});
    pos += length;
  }
  if (packets.empty()) return 0;

  // The header readers straight on the whole input.
  fennik::M4vHeaders headers;
  fennik::ReadM4vFrameHeaders(data, size, headers);

  fennik::CM4V_Parser stream;
  if (!openInBand) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string config;
    for (uint32_t i = 0; i < packets[0].size; ++i) {
      config += kHex[data[packets[0].offset + i] >> 4];
      config += kHex[data[packets[0].offset + i] & 15];
    }
    fennik::MediaFormat format;
    std::memcpy(format.encodingName, "MP4V-ES", 8);
    format.fmtp.push_back({"config", config, true});
    stream.SetMediaFormat(format);
  }
  fennik::CAnarizeBuffer buffer(1);
  fennik::CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  stream.SetStreamId(1);
  Loader loader(data, packets);
  const size_t half = packets.size() / 2;
  bool open = false;
  for (size_t i = 0; i < packets.size(); ++i) {
    const Packet& p = packets[i];
    fennik::AnarizePacket entry{i, 0, 0, static_cast<uint32_t>(i), p.size, 1};
    buffer.Append(data + p.offset, p.size, entry);
    if (i + 1 == half || i + 1 == packets.size()) {
      if (!open) {
        open = stream.Open(buffer.Data() + buffer.Consumed(), buffer.Pending(), fennik::kCodecMpeg4Visual) != 0;
        if (open) stream.SetSource(&loader);
      }
      buffer.Consume(stream.Parse(1, descriptor));
    }
  }
  stream.SetSource(&loader);
  stream.AttachView(nullptr);
  const uint32_t frames = static_cast<uint32_t>(stream.Frames().GetCount());
  for (uint32_t k = 0; k < frames && k < 8; ++k) {
    fennik::CFieldTree tree;
    stream.ShowFrameInfo(tree, k);
    stream.ShowFrameDetail(tree, k);
    fennik::CRowLine line;
    int colour = 0;
    fennik::CView_Mp4vList(stream).ItemRow(k, line, colour);
  }
  return 0;
}
