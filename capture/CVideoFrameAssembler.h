// Gathers the payloads of a video stream's RTP packets into one frame until the packet with
// the marker bit. H.264 payloads (RFC 6184) are turned into an Annex B byte stream: every
// NAL unit preceded by the start code 00 00 00 01, FU-A fragments joined into their NAL
// unit, STAP-A packets split into theirs. Other codecs' payloads are appended as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "h264/H264Rtp.h"

namespace fennik {

class CVideoFrameAssembler {
 public:
  static constexpr uint32_t kMaxFrame = 64u << 20;  // bytes gathered without a marker bit

  explicit CVideoFrameAssembler(int32_t codecType) : h264_(codecType == 11) {}

  // Adds one packet's payload; false when the frame would grow past kMaxFrame (the
  // payload is then not added).
  bool Add(const uint8_t* payload, uint32_t length);
  const std::vector<uint8_t>& Frame() const { return frame_; }
  // An H.264 frame holding an IDR slice (nal_unit_type 5); for other codecs every frame.
  bool KeyFrame() const { return h264_ ? idr_ : true; }
  // Empties the frame (after it was written); a FU-A NAL unit left open is closed, so its
  // further fragments are dropped.
  void Clear();
  // NAL units and FU-A fragments dropped because they were malformed or their start was missing.
  uint32_t Dropped() const { return depacketizer_.Discarded(); }

 private:
  bool AddH264(const uint8_t* payload, uint32_t length);
  bool AppendNal(const uint8_t* nal, size_t length);
  bool Room(uint64_t bytes) const { return frame_.size() + bytes <= kMaxFrame; }

  bool h264_;
  bool idr_ = false;
  CH264Depacketizer depacketizer_;
  std::vector<uint8_t> frame_;
};

}  // namespace fennik
