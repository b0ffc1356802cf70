// An IMA-ADPCM encoder for the tests, writing RTP "DVI4" frames (RFC 3551 4.5.1): the
// 4-byte header carries the encoder's predictor and step index at the start of the frame,
// then two codes per byte, high nibble first. The encoder tracks its own reconstruction
// (what a decoder must output) and the largest quantisation error it made.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/audio/ImaAdpcmTables.h"

namespace fennik::testdata {

class ImaAdpcmTestEncoder {
 public:
  // Encodes samples.size() (even) samples into one frame.
  std::vector<uint8_t> EncodeFrame(const int16_t* samples, size_t count) {
    std::vector<uint8_t> frame = {static_cast<uint8_t>(predictor_ >> 8),
                                  static_cast<uint8_t>(predictor_), static_cast<uint8_t>(index_),
                                  0};
    for (size_t i = 0; i + 1 < count; i += 2) {
      const uint8_t high = EncodeSample(samples[i]);
      const uint8_t low = EncodeSample(samples[i + 1]);
      frame.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return frame;
  }

  const std::vector<int16_t>& Reconstruction() const { return reconstruction_; }
  int MaxError() const { return maxError_; }
  int Clamps() const { return clamps_; }

 private:
  uint8_t EncodeSample(int16_t x) {
    const int step = kImaStepSize[index_];
    int diff = x - predictor_;
    uint8_t code = 0;
    if (diff < 0) {
      code = 8;
      diff = -diff;
    }
    // Successive approximation of diff / step in three bits, rounding down.
    int delta = step >> 3;
    if (diff >= step) {
      code |= 4;
      diff -= step;
      delta += step;
    }
    if (diff >= step >> 1) {
      code |= 2;
      diff -= step >> 1;
      delta += step >> 1;
    }
    if (diff >= step >> 2) {
      code |= 1;
      delta += step >> 2;
    }
    int next = (code & 8) ? predictor_ - delta : predictor_ + delta;
    if (next > 32767 || next < -32768) {
      ++clamps_;
      next = std::clamp(next, -32768, 32767);
    }
    predictor_ = next;
    index_ = std::clamp(index_ + kImaIndexAdjust[code], 0, kImaMaxStepIndex);
    reconstruction_.push_back(static_cast<int16_t>(next));
    maxError_ = std::max(maxError_, std::abs(x - next));
    return code;
  }

  int predictor_ = 0;
  int index_ = 0;
  std::vector<int16_t> reconstruction_;
  int maxError_ = 0;
  int clamps_ = 0;
};

}  // namespace fennik::testdata
