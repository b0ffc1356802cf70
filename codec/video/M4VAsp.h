// State the Advanced Simple tools of the MPEG-4 Visual VOP decoder keep between VOPs: what
// B-VOPs need of their backward reference's macroblocks (direct mode, the skipped-macroblock
// rule), the VOP times behind the direct-mode vector scaling, and the GMC warp of the S-VOP
// being decoded.
#pragma once

#include <cstdint>
#include <vector>

#include "codec/video/M4VGmc.h"

namespace fennik {

// One macroblock of the newest I, P or S VOP as the B-VOPs after it see it.
struct M4vColocated {
  bool skipped = false;    // not coded in a P-VOP: the B-VOP's macroblock is skipped too
  bool fourMv = false;
  bool field = false;      // field-predicted: field direct mode
  int16_t mv[4][2] = {};   // per luminance block (0 for intra macroblocks)
  int16_t fieldMv[2][2] = {};
  uint8_t fieldRef[2] = {};
};

struct M4vAspState {
  std::vector<M4vColocated> colocated;
  // VOP times in ticks of vop_time_increment_resolution.
  int64_t timeBase = 0, lastTimeBase = 0, referenceTime = 0;
  int64_t ppTime = 0, pbTime = 0, frameTime = 0;  // TRD, TRB, the frame period seen first
  int ppFieldTime = 4, pbFieldTime = 2;             // the same in field periods
  M4vGmcParams gmc;
  // Motion vector predictors of B-VOP macroblocks: [direction][field][x/y], reset at the start of
  // every macroblock row and video packet.
  int pred[2][2][2] = {};
  uint32_t predPacket = ~0u;
};

}  // namespace fennik
