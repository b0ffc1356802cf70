#include "codec/video/H264Cabac.h"

#include <algorithm>

namespace fennik {

void CabacEngine::InitContexts(bool kind_i, int cabac_init_idc, int slice_qp) {
  const int qp = std::clamp(slice_qp, 0, 51);
  const int8_t(*table)[2] = kind_i ? kCabacInitI : kCabacInitPB[std::clamp(cabac_init_idc, 0, 2)];
  for (int i = 0; i < kCabacContextCount; ++i) {
    const int pre = std::clamp(((table[i][0] * qp) >> 4) + table[i][1], 1, 126);
    state_[i] = pre <= 63 ? static_cast<uint8_t>((63 - pre) << 1) : static_cast<uint8_t>(((pre - 64) << 1) | 1);
  }
}

void CabacEngine::InitEngine(BitReader* br) {
  br_ = br;
  range_ = 510;
  offset_ = br_->Read(9);
}

}  // namespace fennik
