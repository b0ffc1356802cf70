// libFuzzer target for the H.264 RTP path: RTP payloads through C264_RtpParser (open,
// frame-list building in two batches, frame details and their views) and through the
// decoder by the random-access walk, as the analysis and the views drive them.
// Input: records of a 2-byte big-endian payload length and the payload; a length with the
// top bit set marks a packet lost before this one (the sequence number jumps).
// Pictures are bounded at 396 macroblocks (352x288, four times the seeds' 176x144), as in
// fuzz_h264: a few bytes of parameter set can declare any size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/video/C264_Parser.h"
#include "codec/video/H264Views.h"
#include "view/CFieldTree.h"

namespace {

struct Packet {
  size_t offset;
  uint32_t size;
  uint16_t sequence;
};

// Serves the frame bytes the way the capture's loader does for codec type 11: payloads of
// consecutive packets from the addressed one, each preceded by its 4-byte length, a zero
// length before a sequence gap.
class Loader : public fennik::CAvLoadStream {
 public:
  Loader(const uint8_t* data, const std::vector<Packet>& packets) : data_(data), packets_(packets) {}
  uint32_t Read(uint8_t* buffer, uint32_t capacity, uint32_t wanted, uint64_t address) override {
    uint32_t written = 0, gathered = 0;
    for (size_t i = address; i < packets_.size() && gathered < wanted; ++i) {
      const Packet& p = packets_[i];
      const bool gap = i > address && p.sequence != static_cast<uint16_t>(packets_[i - 1].sequence + 1);
      if (uint64_t{written} + 8 + p.size > capacity) return kTooLarge;
      if (gap) {
        std::memset(buffer + written, 0, 4);
        written += 4;
      }
      buffer[written] = 0, buffer[written + 1] = 0;
      buffer[written + 2] = static_cast<uint8_t>(p.size >> 8), buffer[written + 3] = static_cast<uint8_t>(p.size);
      std::memcpy(buffer + written + 4, data_ + p.offset, p.size);
      written += 4 + p.size;
      gathered += p.size;
    }
    return written;
  }

 private:
  const uint8_t* data_;
  const std::vector<Packet>& packets_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Packet> packets;
  uint16_t sequence = 100;
  for (size_t pos = 0; pos + 2 <= size;) {
    const uint32_t field = (uint32_t{data[pos]} << 8) | data[pos + 1];
    const uint32_t length = field & 0x7FFF;
    pos += 2;
    if (length == 0 || length > size - pos) break;
    if (field & 0x8000) sequence = static_cast<uint16_t>(sequence + 3);
    packets.push_back({pos, length, sequence++});
    pos += length;
  }
  if (packets.empty()) return 0;

  fennik::CAnarizeBuffer buffer(1);
  fennik::CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  fennik::C264_RtpParser stream;
  stream.Decoder().SetMaxPictureMacroblocks(396);
  stream.SetStreamId(1);
  Loader loader(data, packets);
  stream.SetSource(&loader);
  // Two batches, as the analysis hands over payloads whenever the RTP timestamp changes.
  const size_t half = packets.size() / 2;
  for (size_t i = 0; i < packets.size(); ++i) {
    const Packet& p = packets[i];
    fennik::AnarizePacket entry{i, 0, 0, static_cast<uint32_t>(i), p.size, 1};
    entry.sequence = p.sequence;
    buffer.Append(data + p.offset, p.size, entry);
    if (i + 1 == half || i + 1 == packets.size()) {
      stream.OpenDescriptor(1, descriptor, fennik::kCodecH264Rtp);
      buffer.Consume(stream.Parse(1, descriptor));
    }
  }
  stream.AttachView(nullptr);
  const uint32_t frames = static_cast<uint32_t>(stream.Frames().GetCount());
  fennik::CVideoFrame picture;
  for (uint32_t k = 0; k < frames && k < 8; ++k) {
    fennik::CFieldTree tree;
    stream.ShowFrameInfo(tree, k);
    stream.ShowFrameDetail(tree, k);
    stream.GetVideoFrame(k, picture);
  }
  if (frames > 2) stream.GetFramePicture(frames / 2, picture);
  stream.FlushPictures();
  while (stream.GetNextPicture(picture)) {
  }
  return 0;
}
