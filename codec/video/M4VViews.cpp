#include "codec/video/M4VViews.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "view/NumberFormat.h"

namespace fennik {
namespace {

const char* Pick(const char* const* names, size_t count, uint32_t value) {
  return value < count && names[value] != nullptr ? names[value] : "";
}
template <size_t N>
const char* Pick(const char* const (&names)[N], uint32_t value) {
  return Pick(names, N, value);
}

const char* ValueName(M4vValueKind kind, uint32_t v) {
  static const char* const kVisualType[] = {nullptr, "video ID", "still texture ID", "mesh ID", "FBA ID", "3D mesh ID"};
  static const char* const kVideoFormat[] = {"component", "PAL", "NTSC", "SECAM", "MAC", "Unspecified video format"};
  static const char* const kPrimaries[] = {nullptr,      "ITU-R BT.709", "Unspecified Video", nullptr,
                                           "ITU-R BT.470-2 System M", "ITU-R BT.470-2 System B,G",
                                           "SMPTE 170M", "SMPTE 240M", "Generic Film"};
  static const char* const kTransfer[] = {nullptr,
                                          "ITU-R BT.709",
                                          "Unspecified Video",
                                          nullptr,
                                          "ITU-R BT.470-2 System M",
                                          "ITU-R BT.470-2 System B,G",
                                          "SMPTE 170M",
                                          "SMPTE 240M",
                                          "Linear transfer characteristics",
                                          "Logarithmic transfer characteristic (100:1)",
                                          "Logarithmic transfer characteristic (316.22777:1 range)"};
  static const char* const kMatrix[] = {nullptr, "ITU-R BT.709", "Unspecified Video", nullptr, "FCC",
                                        "ITU-R BT.470-2 System B,G", "SMPTE 170M", "SMPTE 240M"};
  static const char* const kObjectType[] = {nullptr,
                                            "Simple Object Type",
                                            "Simple Scalable Object Type",
                                            "Core Object Type",
                                            "Main Object Type",
                                            "N-bit Object Type",
                                            "Basic Anim. 2D Texture",
                                            "Anim. 2D Mesh",
                                            "Simple Face",
                                            "Still Scalable Texture",
                                            "Advanced Real Time Simple",
                                            "Core Scalable",
                                            "Advanced Coding Efficiency",
                                            "Advanced Scalable Texture",
                                            "Simple FBA"};
  static const char* const kAspect[] = {"Forbidden",
                                        "1:1 (Square)",
                                        "12:11 (625-type for 4:3 picture)",
                                        "10:11 (525-type for 4:3 picture)",
                                        "16:11 (625-type stretched for 16:9 picture)",
                                        "40:33 (525-type stretched for 16:9 picture)",
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        "extended PAR"};
  static const char* const kShape[] = {"rectangular", "binary", "binary only", "grayscale"};
  static const char* const kSprite[] = {"sprite not used", "static", "GMC"};
  static const char* const kWarping[] = {"Stationary", "Translation", "Affine", "Affine", "Perspective"};
  static const char* const kCoding[] = {"intra-coded (I)", "predictive-coded (P)",
                                        "bidirectionally-predictive-coded (B)", "sprite (S)"};
  static const char* const kDcThr[] = {"Use Intra DC VLC for entire VOP",
                                       "Switch to Intra AC VLC at running Qp >=13",
                                       "Switch to Intra AC VLC at running Qp >=15",
                                       "Switch to Intra AC VLC at running Qp >=17",
                                       "Switch to Intra AC VLC at running Qp >=19",
                                       "Switch to Intra AC VLC at running Qp >=21",
                                       "Switch to Intra AC VLC at running Qp >=23",
                                       "Use Intra AC VLC for entire VOP"};
  static const char* const kChroma[] = {nullptr, "4:2:0"};
  switch (kind) {
    case M4vValueKind::kProfileLevel: return M4vProfileLevelName(v);
    case M4vValueKind::kVisualObjectType: return Pick(kVisualType, v);
    case M4vValueKind::kVideoFormat: return Pick(kVideoFormat, v);
    case M4vValueKind::kColourPrimaries: return Pick(kPrimaries, v);
    case M4vValueKind::kTransfer: return Pick(kTransfer, v);
    case M4vValueKind::kMatrix: return Pick(kMatrix, v);
    case M4vValueKind::kObjectType: return Pick(kObjectType, v);
    case M4vValueKind::kAspectRatio: return Pick(kAspect, v);
    case M4vValueKind::kShape: return Pick(kShape, v);
    case M4vValueKind::kSpriteEnable: return Pick(kSprite, v);
    case M4vValueKind::kWarpingPoints: return Pick(kWarping, v);
    case M4vValueKind::kVopCodingType: return Pick(kCoding, v);
    case M4vValueKind::kIntraDcVlcThr: return Pick(kDcThr, v);
    case M4vValueKind::kChromaFormat: return Pick(kChroma, v);
    case M4vValueKind::kPlain:
    case M4vValueKind::kTimeCode: break;
  }
  return "";
}

void PrintElements(const std::vector<M4vElement>& elements, CFieldTree& tree) {
  for (const M4vElement& e : elements) {
    const int level = e.level;
    if (e.kind == M4vValueKind::kTimeCode) {
      tree.FieldText(level, e.name, e.bits, colour::kField,
                     Printf("%u:%u:%u", e.value >> 13, (e.value >> 7) & 63, e.value & 63));
    } else if (e.bits > 32 || std::string_view(e.name).find("quant_mat") != std::string_view::npos ||
               std::string_view(e.name) == "vop_complexity_estimation") {
      // Elements longer than a register (matrices, complexity estimates): length and count.
      tree.Field(level, e.name, e.bits > 0 ? kBitsUnknown : 0, kModeDecimal, colour::kField, 0, e.value);
    } else if (std::string_view(e.name).rfind("warping_mv_", 0) == 0) {
      tree.Field(level, e.name, e.bits, kModeDecimal, colour::kField, 0, static_cast<int32_t>(e.value));
    } else {
      tree.Field(level, e.name, e.bits, e.bits >= 32 ? kModeHex : kModeDecimal, colour::kField, e.value, e.value,
                 ValueName(e.kind, e.value));
    }
  }
}

}  // namespace

const char* M4vPictureTypeText(uint16_t flags) {
  static const char* const kTypes[] = {"", "I", "P", "B", "S"};
  const uint16_t t = flags & kM4vCodingTypeMask;
  return t < 5 ? kTypes[t] : "";
}

int M4vRowColour(uint16_t flags) {
  switch (flags & kM4vCodingTypeMask) {
    case 1: return 26;
    case 2: return 27;
    case 3: return 25;
    case 4: return 28;
    default: return colour::kField;
  }
}

// ISO/IEC 14496-2 Annex G, Table G-1.
const char* M4vProfileLevelName(uint32_t v) {
  struct Entry {
    uint32_t value;
    const char* name;
  };
  static const Entry kNames[] = {
      {0x01, "Simple Profile/Level 1"}, {0x02, "Simple Profile/Level 2"}, {0x03, "Simple Profile/Level 3"},
      {0x04, "Simple Profile/Level 4a"}, {0x05, "Simple Profile/Level 5"}, {0x06, "Simple Profile/Level 6"},
      {0x08, "Simple Profile/Level 0"}, {0x09, "Simple Profile/Level 0b"},
      {0x11, "Simple Scalable Profile/Level 1"}, {0x12, "Simple Scalable Profile/Level 2"},
      {0x21, "Core Profile/Level 1"}, {0x22, "Core Profile/Level 2"},
      {0x32, "Main Profile/Level 2"}, {0x33, "Main Profile/Level 3"}, {0x34, "Main Profile/Level 4"},
      {0x42, "N-bit Profile/Level 2"}, {0x51, "Scalable Texture Profile/Level 1"},
      {0x61, "Simple Face Animation Profile/Level 1"}, {0x62, "Simple Face Animation Profile/Level 2"},
      {0x63, "Simple FBA Profile/Level 1"}, {0x64, "Simple FBA Profile/Level 2"},
      {0x71, "Basic Animated Texture Profile/Level 1"}, {0x72, "Basic Animated Texture Profile/Level 2"},
      {0x81, "Hybrid Profile/Level 1"}, {0x82, "Hybrid Profile/Level 2"},
      {0x91, "Advanced Real Time Simple Profile/Level 1"}, {0x92, "Advanced Real Time Simple Profile/Level 2"},
      {0x93, "Advanced Real Time Simple Profile/Level 3"}, {0x94, "Advanced Real Time Simple Profile/Level 4"},
      {0xA1, "Core Scalable Profile/Level1"}, {0xA2, "Core Scalable Profile/Level2"},
      {0xA3, "Core Scalable Profile/Level3"},
      {0xB1, "Advanced Coding Efficiency Profile/Level 1"}, {0xB2, "Advanced Coding Efficiency Profile/Level 2"},
      {0xB3, "Advanced Coding Efficiency Profile/Level 3"}, {0xB4, "Advanced Coding Efficiency Profile/Level 4"},
      {0xC1, "Advanced Core Profile/Level 1"}, {0xC2, "Advanced Core Profile/Level 2"},
      {0xD1, "Advanced Scalable Texture/Level1"}, {0xD2, "Advanced Scalable Texture/Level2"},
      {0xD3, "Advanced Scalable Texture/Level3"},
      {0xF0, "Advanced Simple Profile/Level 0"}, {0xF1, "Advanced Simple Profile/Level 1"},
      {0xF2, "Advanced Simple Profile/Level 2"}, {0xF3, "Advanced Simple Profile/Level 3"},
      {0xF4, "Advanced Simple Profile/Level 4"}, {0xF5, "Advanced Simple Profile/Level 5"},
      {0xF7, "Advanced Simple Profile/Level 3b"},
  };
  for (const Entry& e : kNames)
    if (e.value == v) return e.name;
  return "";
}

void CView_Mp4vList::CodecCells(const FrameEntry& e, std::vector<std::string>& cells, int& colour) const {
  const M4vFrameFields f = M4vFields(e);
  cells.push_back(M4vPictureTypeText(f.flags));
  colour = M4vRowColour(f.flags);
}

void PrintM4vFrameSummary(const M4vHeaders& h, CFieldTree& tree) {
  static const char* const kPicture[] = {"I picture", "P picture", "B picture", "S picture"};
  tree.Title("MPEG-4 VISUAL INFORMATION");
  tree.FieldText(0, "Video Format Type", 0, colour::kField, "MPEG-4 Video");
  if (h.vop.valid) tree.FieldText(0, "Picture type", 0, colour::kField, kPicture[h.vop.vop_coding_type & 3]);
  tree.FieldText(0, "Chroma format", 0, colour::kField, h.vol.chroma_format == 1 ? "4:2:0" : "");
  tree.FieldText(0, "Frame/Field", 0, colour::kField, h.vol.interlaced ? "Top Field" : "Frame picture");
  tree.FieldText(0, "Image Size (x,y)", 0, colour::kField, Printf("%u x %u", h.vol.width, h.vol.height));
  tree.FieldText(0, "Aspect Ratio", 0, colour::kField,
                 h.vol.aspect_ratio_info == 15 ? Printf("%u:%u", h.vol.par_width, h.vol.par_height)
                                               : ValueName(M4vValueKind::kAspectRatio, h.vol.aspect_ratio_info));
  if (h.vos.valid) tree.FieldText(0, "Profile & Level", 0, colour::kField, M4vProfileLevelName(h.vos.profile_and_level_indication));
}

void PrintM4vSyntax(const M4vHeaders& h, CFieldTree& tree) {
  if (h.vos.valid) {
    tree.Title("Visual Object Sequence");
    PrintElements(h.vos.elements, tree);
  }
  if (h.vo.valid) {
    tree.Title("Visual Object");
    PrintElements(h.vo.elements, tree);
  }
  if (!h.vol.elements.empty()) {
    tree.Title("Video Object Layer");
    PrintElements(h.vol.elements, tree);
  }
  if (h.gov.valid) {
    tree.Title("Group of Video Object Plane");
    PrintElements(h.gov.elements, tree);
  }
  if (h.vop.valid) {
    tree.Title("Video Object Plane");
    PrintElements(h.vop.elements, tree);
  }
  if (h.packet.valid) {
    tree.Title("Video Packet Header");
    tree.Field(0, "Video packets", 0, kModeDecimal, colour::kField, 0, h.packet.count + 1);
    PrintElements(h.packet.elements, tree);
  }
}

void PrintM4vMacroblock(const M4vMacroblock* mb, uint32_t index, uint32_t mbPerRow, const M4vVol& vol,
                        const M4vVop& vop, CFieldTree& tree) {
  static const char* const kTypes[] = {"INTER",     "INTER+Q", "INTER4V",  "INTRA",     "INTRA+Q", "INTER4V+Q",
                                       "not coded", "DIRECT",  "INTERPOLATE", "BACKWARD", "FORWARD"};
  static const char* const kScan[] = {"zigzag", "alternate horizontal", "alternate vertical"};
  tree.Title("MACRO BLOCK INFORMATION");
  tree.Field(0, "Number of macro block", 0, kModeDecimal, colour::kField, 0, index);
  const uint32_t perRow = mbPerRow == 0 ? 1 : mbPerRow;
  tree.FieldText(0, "Macro block Position (x,y)", 0, colour::kField, Printf("(%u, %u)", index % perRow, index / perRow));
  if (mb == nullptr) {
    tree.FieldText(0, "Macro block type", 0, colour::kField, "not decoded");
    return;
  }
  tree.FieldText(0, "Macro block type", 0, colour::kField, Pick(kTypes, mb->type));
  tree.Field(0, "Quantiser scale", 0, kModeDecimal, colour::kField, 0, mb->quant);
  const uint32_t type = vop.vop_coding_type;
  const bool bVop = type == 2;
  auto flag = [&](const char* name, bool value) { tree.Field(0, name, 1, kModeBinary, colour::kField, value, value); };
  auto number = [&](const char* name, int bits, int value) {
    tree.Field(0, name, bits, bits > 0 ? kModeBinary : kModeDecimal, colour::kField, static_cast<uint64_t>(value), value);
  };
  if (bVop) {
    number("modb", 0, mb->modb);
  } else if (type != 0) {
    flag("not_coded", mb->not_coded);
  }
  const bool coded = !mb->not_coded;
  if (coded && !bVop) {
    if (type == 3 && !mb->intra) flag("mcsel", mb->mcsel);
    number("mcbpc", 0, mb->mcbpc);
    if (mb->intra) flag("ac_pred_flag", mb->ac_pred);
    number("cbpy", 4, mb->cbpy);
    number("cbpc", 2, mb->cbp & 3);
    number("dquant", 0, mb->dquant);
  } else if (coded) {
    number("mb_type", 0, mb->mb_type);
    number("cbpb", 6, mb->cbpb);
    number("dbquant", 0, mb->dbquant);
  }
  if (coded && vol.interlaced) {
    flag("dct_type", mb->dct_type);
    if (!mb->intra) {
      flag("field_prediction", mb->field_prediction);
      if (mb->field_prediction) {
        flag("forward_top_field_reference", mb->field_ref[0][0]);
        flag("forward_bottom_field_reference", mb->field_ref[0][1]);
        if (bVop) {
          flag("backward_top_field_reference", mb->field_ref[1][0]);
          flag("backward_bottom_field_reference", mb->field_ref[1][1]);
        }
      }
    }
  }
  if (!mb->intra && type != 0) {
    tree.FieldText(0, "MOTION VECTOR", 0, colour::kField, "");
    const double unit = vol.quarter_sample ? 4.0 : 2.0;
    const bool forward = !bVop || mb->type != kM4vMbBackward;
    const bool backward = bVop && (mb->type == kM4vMbBackward || mb->type == kM4vMbInterpolate || mb->type == kM4vMbDirect);
    for (int dir = 0; dir < 2; ++dir) {
      if ((dir == 0 && !forward) || (dir == 1 && !backward)) continue;
      const char* name = dir == 0 ? "motion forward" : "motion backward";
      if (mb->field_prediction) {
        for (int f = 0; f < 2; ++f)
          tree.FieldText(1, Printf("%s(%s)", name, f == 0 ? "top" : "bottom"), 0, colour::kField,
                         Printf("(%3.1f, %3.1f) %s", mb->field_mv[dir][f][0] / unit, mb->field_mv[dir][f][1] / unit,
                                mb->field_ref[dir][f] ? "bottom" : "top"));
      } else {
        for (int b = 0; b < (mb->four_mv ? 4 : 1); ++b)
          tree.FieldText(1, name, 0, colour::kField, Printf("(%3.1f, %3.1f)", mb->mv[dir][b][0] / unit, mb->mv[dir][b][1] / unit));
      }
    }
  }
  for (int b = 0; b < 6; ++b) {
    if (b == 0 || b >= 4) tree.FieldText(0, b < 4 ? "Macroblock (Y)" : b == 4 ? "Macroblock (Cb)" : "Macroblock (Cr)", 0, colour::kField, "");
    const bool blockCoded = coded && ((mb->cbp >> (5 - b)) & 1);
    tree.FieldText(1, Printf("DCT%d", b), 0, colour::kField, blockCoded ? "coded" : "not coded");
    tree.FieldText(2, "SCAN TYPE", 0, colour::kField, Pick(kScan, mb->scan[b]));
    tree.FieldText(2, "DCT x Quant", 0, colour::kField, "");
    for (int r = 0; r < 8; ++r) {
      std::string row;
      for (int c = 0; c < 8; ++c) row += Printf("%6d", mb->coef[b][r * 8 + c]);
      tree.FieldText(3, "", 0, colour::kField, row);
    }
  }
}

}  // namespace fennik
