// iLBC (codec type 116) for the stream object: the frame mode (20 or 30 ms) of the stream,
// the unpacked parameters of the last decoded payload for the information view, and decoding
// through the codec module xcilbc_x64.so (our own RFC 3951 decoder). Without the module,
// payloads are still unpacked and shown; decoding yields no samples.
//
// The frame mode follows the SDP's "a=fmtp:<pt> mode=20|30" (RFC 3952 5). Without it, the
// payload size decides: a payload of whole 38-byte frames is 20 ms, one of whole 50-byte
// frames 30 ms (a 30 ms stream taken as 20 ms would decode to noise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/audio/CModuleDecoder.h"
#include "codec/audio/ilbc/IlbcFrame.h"

namespace fennik {

class CiLBC_Decode : public CModuleDecoder<ilbc::FrameParams> {
 public:
  static constexpr int32_t kCodecType = 116;
  // Frames unpacked for display from one payload (RFC 3952 3.2 allows several per packet).
  static constexpr size_t kMaxShownFrames = 16;

  CiLBC_Decode();

  // The stream's media description; the last argument carries the frame mode in ms (20 or
  // 30; any other value keeps the mode and sets the frame size 0). The bits are always 16.
  void SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, int32_t mode);

  int FrameMode() const { return mode_; }
  // Fixes the frame mode as the session description gives it; payload sizes then no longer
  // change it.
  void SetSignalledMode(int mode);
  bool ModeSignalled() const { return modeSignalled_; }
  // Decides the mode from a payload of `length` bytes unless the SDP fixed it (see above).
  void FollowPayloadSize(size_t length);
  // Samples per stream frame from a payload of `length` bytes (whole frames of the mode; an
  // empty or cut payload stands for one lost frame).
  void CountSamples(size_t length);

  // Unpacks every complete frame of the payload (the records) and decodes the payload
  // through the module; an empty payload is a lost frame, which the module conceals. Returns
  // the PCM bytes written (0 without the module or without room).
  size_t Decode(const uint8_t* in, size_t length, int16_t* out, size_t capacityBytes);

 private:
  void SetMode(int mode);

  int mode_ = 20;
  bool modeSignalled_ = false;
};

}  // namespace fennik
