// The Speex bit-stream (Speex manual, "Bit-stream definition"): the narrowband frame (a
// 0 wideband bit, a 4-bit mode, then that mode's LSP, pitch, gain and innovation fields)
// followed by up to two wideband layers (a 1 wideband bit, a 3-bit mode and the high band's
// LSP and excitation); frames follow one another in an RTP payload (RFC 5574 3.3). Also
// the Ogg/Speex header and comment packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fennik {

struct SpeexSubFrame {
  uint16_t finePitch = 0, pitchGain = 0, innovationGain = 0;  // narrowband
  uint16_t excitationGain = 0;                               // wideband layers
  uint8_t vqCount = 0, vqBits = 0;
  uint16_t vq[16] = {};  // innovation (narrowband) or excitation (wideband) codebook indices
};

struct SpeexLayer {
  uint8_t wideband = 0;  // the layer's first bit
  uint8_t modeId = 0;
  uint8_t lspCount = 0;
  uint16_t lsp[5] = {};  // 6-bit LSP codebook indices
  uint16_t olPitch = 0, olPitchGain = 0, olExcGain = 0;  // narrowband frame fields
  uint8_t subFrames = 0;  // 4 when the mode codes sub-frames
  SpeexSubFrame sub[4];
};

struct SpeexFrameInfo {
  uint8_t layers = 0;  // 1 narrowband, 2 wideband, 3 ultra-wideband
  SpeexLayer layer[3];
  bool terminator = false;  // mode 15: the payload ends here
  bool complete = false;    // every field was inside the payload
};

// Unpacks the frames of a payload, at most `maxFrames`; stops at a terminator, an invalid
// mode or padding (fewer than 5 bits left).
std::vector<SpeexFrameInfo> UnpackSpeexFrames(const uint8_t* data, size_t length, size_t maxFrames);

// The bits of one narrowband frame of a mode (0-8), and of one wideband layer (0-4); 0 for
// other modes. Used to tell a frame's layers apart.
int SpeexNarrowbandBits(int mode);
int SpeexWidebandBits(int mode);

struct SpeexHeader {
  static constexpr size_t kSize = 80;
  char speexString[9] = {};
  char speexVersion[21] = {};
  int32_t versionId = 0, headerSize = 0, rate = 0, mode = 0, modeBitstreamVersion = 0, channels = 0,
          bitrate = 0, frameSize = 0, vbr = 0, framesPerPacket = 0, extraHeaders = 0, reserved1 = 0,
          reserved2 = 0;
};
// Reads an 80-byte header packet; false when shorter.
bool ParseSpeexHeader(const uint8_t* data, size_t length, SpeexHeader& header);

struct SpeexComments {
  std::string vendor;
  std::vector<std::string> comments;
};
// Reads a comment packet that fills exactly `length` bytes (vendor length and string, count,
// and each comment's length and text, 32-bit little-endian lengths); false otherwise.
bool ParseSpeexComments(const uint8_t* data, size_t length, SpeexComments& comments);

}  // namespace fennik
