// The Advanced Simple tools of the MPEG-4 Visual VOP decoder: B-VOPs, GMC S-VOPs, data
// partitioning, quarter-sample motion and interlaced coding. Not decoded yet: each VOP that
// needs them is refused with a debug line and leaves the references untouched.
#include "base/DebugPrint.h"
#include "codec/video/CMP4_Decode.h"

namespace fennik {

bool CMP4_Decode::DecodeBVop(BitReader& br) {
  (void)br;
  DebugPrint("[MPEG4] B-VOP %u not decoded: B-VOPs not supported\n", cur_->frame_number);
  return false;
}

bool CMP4_Decode::DecodeSVop(BitReader& br) {
  (void)br;
  DebugPrint("[MPEG4] S-VOP %u not decoded: GMC not supported\n", cur_->frame_number);
  return false;
}

bool CMP4_Decode::DecodePartitionedVop(BitReader& br) {
  (void)br;
  DebugPrint(vop_.vop_coding_type == 0 ? "[MPEG4] data_partitioned_i_vop()\n" : "[MPEG4] data_partitioned_p_vop()\n");
  DebugPrint("[MPEG4] VOP %u not decoded: data partitioning not supported\n", cur_->frame_number);
  return false;
}

bool CMP4_Decode::SupportsQuarterSample() const { return false; }
bool CMP4_Decode::SupportsInterlaced() const { return false; }

}  // namespace fennik
