// The macroblock views' read-out of the decoder's per-macroblock records.
#include <cstdio>

#include "codec/video/H264DecodeInternal.h"

namespace fennik {
namespace {

// "L0", "L1" or "Bi" for the lists a partition predicts from (its top-left 4x4 block).
const char* ListsName(const H264MacroblockRecord& r, int block) {
  const bool l0 = r.refIdx[0][block] >= 0;
  const bool l1 = r.refIdx[1][block] >= 0;
  return l0 && l1 ? "Bi" : (l1 ? "L1" : "L0");
}

// The kind name of ITU-T H.264 Tables 7-11, 7-13 and 7-14; B partitions are named by the
// lists their motion data uses.
void SetKindName(int kind, H264MacroblockRecord& r) {
  const char* name = "";
  switch (kind) {
    case kMbI4x4: name = r.transform8x8 ? "Intra_8x8" : "Intra_4x4"; break;
    case kMbI16x16: name = "Intra_16x16"; break;
    case kMbIPCM: name = "PCM"; break;
    case kMbPSkip: name = "P_Skip"; break;
    case kMbP16x16: name = "P_L0_16x16"; break;
    case kMbP16x8: name = "P_L0_L0_16x8"; break;
    case kMbP8x16: name = "P_L0_L0_8x16"; break;
    case kMbP8x8: name = "P_8x8"; break;
    case kMbP8x8Ref0: name = "P_8x8ref0"; break;
    case kMbBSkip: name = "B_Skip"; break;
    case kMbBDirect: name = "B_Direct_16x16"; break;
    case kMbB8x8: name = "B_8x8"; break;
    case kMbB16x16:
      std::snprintf(r.kindName, sizeof r.kindName, "B_%s_16x16", ListsName(r, 0));
      return;
    case kMbB16x8:
      std::snprintf(r.kindName, sizeof r.kindName, "B_%s_%s_16x8", ListsName(r, 0), ListsName(r, 8));
      return;
    case kMbB8x16:
      std::snprintf(r.kindName, sizeof r.kindName, "B_%s_%s_8x16", ListsName(r, 0), ListsName(r, 2));
      return;
    default: break;
  }
  std::snprintf(r.kindName, sizeof r.kindName, "%s", name);
}

}  // namespace

bool C264_Decode::MacroblockRecord(uint32_t mb_addr, H264MacroblockRecord& out) const {
  out = H264MacroblockRecord();
  if (mb_addr >= mbs_.size() || mb_width_ <= 0) return false;
  const int a = static_cast<int>(mb_addr);
  const MbInfo& info = mbs_[mb_addr];
  out.decoded = info.slice >= 0;
  if (!out.decoded) return true;
  out.slice = info.slice;
  if (static_cast<size_t>(info.slice) < slices_.size()) out.sliceKind = slices_[static_cast<size_t>(info.slice)].kind;
  out.intra = IsIntraKind(info.kind);
  out.skip = IsSkipKind(info.kind);
  out.pcm = info.kind == kMbIPCM;
  out.intra4x4 = info.kind == kMbI4x4;
  out.transform8x8 = info.transform_8x8 != 0;
  out.field = info.field != 0 || field_ != 0;
  out.qp = info.qp;
  out.qpc[0] = info.qpc[0];
  out.qpc[1] = info.qpc[1];
  out.cbp = info.cbp;
  out.chromaMode = info.chroma_mode;
  for (int i = 0; i < 16; ++i) {
    out.intraModes[i] = info.intra_modes[i];
    out.totalCoeff[i] = info.total_coeff[i];
  }
  const int stride = mb_width_ * 4;
  const int base = BlockBase(a);
  // The order count of the reference picture (or field) a block names.
  auto ref_poc = [&](int32_t serial) {
    for (const RefEntry& e : picture_refs_)
      if (e.serial == serial) return e.poc;
    return 0;
  };
  for (int l = 0; l < 2; ++l) {
    for (int i = 0; i < 16; ++i) {
      const int idx = base + (i / 4) * stride + i % 4;
      const bool has = !out.intra && ref_idx_[l] != nullptr;
      out.refIdx[l][i] = has ? ref_idx_[l][idx] : -1;
      out.mv[l][i] = has ? mv_[l][idx] : H264Mv();
      out.refPoc[l][i] = has && out.refIdx[l][i] >= 0 ? ref_poc(ref_serial_[l][idx]) : 0;
    }
  }
  SetKindName(info.kind, out);
  return true;
}

}  // namespace fennik
