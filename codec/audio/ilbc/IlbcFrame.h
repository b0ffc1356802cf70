// The transmitted parameters of one iLBC frame (RFC 3951 3.8): a 20 ms frame of 38 bytes or a
// 30 ms frame of 50 bytes, unpacked from its three ULP classes into plain values. Used by the
// decoder and by the stream parser's detail view alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennik::ilbc {

constexpr int kFrameBytes20 = 38;
constexpr int kFrameBytes30 = 50;
constexpr int kMaxSubBlocks = 4;  // 40-sample sub-blocks coded by the adaptive codebook
constexpr int kMaxStateSamples = 58;
constexpr int kStages = 3;  // codebook stages per vector

// 20 or 30: the frame length in milliseconds.
constexpr int FrameBytes(int mode) { return mode == 30 ? kFrameBytes30 : kFrameBytes20; }
constexpr int FrameSamples(int mode) { return mode == 30 ? 240 : 160; }

struct FrameParams {
  int mode = 20;
  // LSF split-VQ indices: one set of three at 20 ms, two sets at 30 ms.
  int lsf[6] = {};
  // Block class: the 80-sample start state begins at sub-block start - 1 (1-3 or 1-5).
  int start = 0;
  // Position of the 22/23 sample segment: 1 when the scalar-coded state part comes first
  // (the segment follows it), 0 when the segment comes first.
  int stateFirst = 0;
  int scaleIndex = 0;                      // scale factor of the state coder (6 bits)
  int state[kMaxStateSamples] = {};        // quantized residual state samples (3 bits each)
  int extraCb[kStages] = {};               // codebook indices of the 22/23 sample block
  int extraGain[kStages] = {};             // and their gains
  int cb[kMaxSubBlocks][kStages] = {};     // codebook indices per sub-block, as transmitted
  int gain[kMaxSubBlocks][kStages] = {};   // gain indices per sub-block
  int emptyFrame = 0;                      // last bit: 1 marks an empty (lost) frame

  int LsfSets() const { return mode == 30 ? 2 : 1; }
  int StateSamples() const { return mode == 30 ? 58 : 57; }
  int SubBlocks() const { return mode == 30 ? 4 : 2; }
  // Whether the block class lies in the range of the mode (else the frame is concealed).
  bool StartValid() const { return start >= 1 && start <= (mode == 30 ? 5 : 3); }
};

// Unpacks a frame of `mode` (20 or 30) from `size` bytes; false (and nothing unpacked)
// when fewer than FrameBytes(mode) bytes are given. Extra bytes are not read.
bool UnpackFrame(const uint8_t* data, size_t size, int mode, FrameParams& params);

// Packs `params` into FrameBytes(params.mode) bytes at `out` (each value taken modulo its
// width); the inverse of UnpackFrame.
void PackFrame(const FrameParams& params, uint8_t* out);

}  // namespace fennik::ilbc
