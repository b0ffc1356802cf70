#include "codec/video/H264Cabac.h"

#include <algorithm>

namespace fennik {
namespace {

// The residual contexts of the Cb and Cr components of 4:4:4 pictures (ctxIdx 460..1023)
// start from the same (m, n) values as the luma contexts of the same syntax element and
// block category; returns that luma ctxIdx.
int MirroredLumaContext(int ctx) {
  struct Range {
    int first, count, luma;
  };
  static const Range kRanges[] = {
      {460, 12, 85},   {472, 12, 85},    // coded_block_flag, Cb / Cr (categories like luma 0..2)
      {484, 44, 105},  {528, 44, 105},   // significant_coeff_flag, frame coded
      {572, 44, 166},  {616, 44, 166},   // last_significant_coeff_flag, frame coded
      {660, 15, 402},  {675, 15, 436},   // Cb 8x8 significant_coeff_flag, frame / field
      {690, 9, 417},   {699, 9, 451},    // Cb 8x8 last_significant_coeff_flag, frame / field
      {708, 10, 426},                    // Cb 8x8 coeff_abs_level_minus1
      {718, 15, 402},  {733, 15, 436},   // Cr 8x8, as Cb
      {748, 9, 417},   {757, 9, 451},
      {766, 10, 426},
      {776, 44, 277},  {820, 44, 277},   // significant_coeff_flag, field coded
      {864, 44, 338},  {908, 44, 338},   // last_significant_coeff_flag, field coded
      {952, 30, 227},  {982, 30, 227},   // coeff_abs_level_minus1
      {1012, 4, 93},   {1016, 4, 93},  {1020, 4, 93},  // coded_block_flag of 8x8 blocks
  };
  for (const Range& r : kRanges)
    if (ctx >= r.first && ctx < r.first + r.count) return r.luma + ctx - r.first;
  return ctx;
}

}  // namespace

void CabacEngine::InitContexts(bool kind_i, int cabac_init_idc, int slice_qp) {
  const int qp = std::clamp(slice_qp, 0, 51);
  const int8_t(*table)[2] = kind_i ? kCabacInitI : kCabacInitPB[std::clamp(cabac_init_idc, 0, 2)];
  for (int i = 0; i < kCabacContextCount; ++i) {
    const int k = i < kCabacLumaContextCount ? i : MirroredLumaContext(i);
    const int pre = std::clamp(((table[k][0] * qp) >> 4) + table[k][1], 1, 126);
    state_[i] = pre <= 63 ? static_cast<uint8_t>((63 - pre) << 1) : static_cast<uint8_t>(((pre - 64) << 1) | 1);
  }
}

void CabacEngine::InitEngine(BitReader* br) {
  br_ = br;
  core_.data = br->Data();
  core_.size = br->Size();
  core_.pos = br->BitPosition() / 8;
  core_.value = 0;
  core_.count = 0;
  core_.range = 510;
  core_.Refill();
  core_.count -= 9;  // codIOffset: the first 9 bits
}

BitReader* CabacEngine::Reader() {
  const size_t consumed = core_.BitsConsumed();
  if (consumed > br_->BitPosition()) br_->Skip(consumed - br_->BitPosition());
  return br_;
}

}  // namespace fennik
