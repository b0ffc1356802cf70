#include "codec/video/H263Views.h"

#include <cstdio>
#include <iterator>
#include <string>

#include "view/CFieldTree.h"
#include "view/NumberFormat.h"
#include "view/ViewRow.h"

namespace fennik {

int H263RowColour(uint16_t flags) {
  static constexpr int kColours[] = {colour::kListRow, 26, 27, 25, 28, 26, 27};
  const unsigned type = flags & kH263PictureTypeMask;
  return type < std::size(kColours) ? kColours[type] : colour::kListRow;
}

void CView_263List::CodecCells(const FrameEntry& e, std::vector<std::string>& cells, int& colour) const {
  const H263FrameFields f = GetCodecFields<H263FrameFields>(e);
  cells.push_back(H263PictureTypeText(f.flags));
  cells.push_back(Printf("%3d", f.temporalReference));
  colour = H263RowColour(f.flags);
}

namespace {

const char* OnOff(bool on) { return on ? "ON" : "OFF"; }

const char* SourceFormatName(int f) {
  static const char* kNames[8] = {"Forbidden", "sub-QCIF", "QCIF", "CIF", "4CIF", "16CIF", "Reserved", "extended PTYPE"};
  return kNames[f & 7];
}

const char* PlusSourceFormatName(int f) {
  static const char* kNames[8] = {"Reserved", "sub-QCIF", "QCIF", "CIF", "4CIF", "16CIF", "Custom Source Format", "Reserved"};
  return kNames[f & 7];
}

const char* PictureTypeCodeName(int t) {
  static const char* kNames[8] = {"I-picture (INTRA)", "P-picture (INTER)", "Improved PB-frame", "B-picture",
                                  "EI-picture", "EP-picture", "Reserved", "Reserved"};
  return kNames[t & 7];
}

const char* ParName(int par) {
  switch (par) {
    case 0: return "Forbidden";
    case 1: return "1:1 (Square)";
    case 2: return "12:11 (CIF for 4:3 picture)";
    case 3: return "10:11 (525-type for 4:3 picture)";
    case 4: return "16:11 (CIF stretched for 16:9 picture)";
    case 5: return "40:33 (525-type stretched for 16:9 picture)";
    case 15: return "Extended PAR";
    default: return "Reserved";
  }
}

void Flag(CFieldTree& tree, int level, const char* name, bool on) {
  tree.Field(level, name, 1, kModeBinary, colour::kField, on ? 1 : 0, on ? 1 : 0, OnOff(on));
}

void PrintSorenson(const H263PictureHeader& h, CFieldTree& tree) {
  static const char* kSizes[8] = {"custom, 1 byte", "custom, 2 bytes", "CIF (352x288)", "QCIF (176x144)",
                                  "SQCIF (128x96)", "320x240", "160x120", "Reserved"};
  static const char* kTypes[4] = {"intra frame", "inter frame", "disposable inter frame", "Reserved"};
  tree.Field(1, "PictureStartCode", 17, kModeBinary, colour::kField, h.psc, h.psc);
  tree.Field(1, "Version", 5, kModeDecimal, colour::kField, h.version, h.version);
  tree.Field(1, "TemporalReference", 8, kModeDecimal, colour::kField, h.tr, h.tr);
  tree.Field(1, "PictureSize", 3, kModeDecimal, colour::kField, h.picture_size, h.picture_size, kSizes[h.picture_size & 7]);
  if (h.picture_size <= 1) {
    const int bits = h.picture_size == 0 ? 8 : 16;
    tree.Field(1, "CustomWidth", bits, kModeDecimal, colour::kField, h.width, h.width);
    tree.Field(1, "CustomHeight", bits, kModeDecimal, colour::kField, h.height, h.height);
  }
  tree.Field(1, "PictureType", 2, kModeDecimal, colour::kField, h.sorenson_type, h.sorenson_type, kTypes[h.sorenson_type & 3]);
  tree.Field(1, "DeblockingFlag", 1, kModeBinary, colour::kField, h.deblocking_flag, h.deblocking_flag);
  tree.Field(1, "Quantizer", 5, kModeDecimal, colour::kField, h.pquant, h.pquant);
  tree.Field(1, "ExtraInformationFlag", 1, kModeBinary, colour::kField, h.pei_count != 0, h.pei_count != 0);
  if (h.pei_count != 0) tree.Field(1, "ExtraInformation", 0, kModeDecimal, colour::kField, 0, h.pei_count, "", "bytes");
}

}  // namespace

void PrintH263PictureHeader(const H263PictureHeader& h, bool ok, CFieldTree& tree) {
  tree.Title("Picture layer");
  if (h.codec_type == kCodecTypeSorenson) {
    PrintSorenson(h, tree);
  } else {
    tree.Field(1, "Picture Start Code (PSC)", 22, kModeBinary, colour::kField, h.psc, h.psc);
    tree.Field(1, "Temporal Reference (TR)", 8, kModeDecimal, colour::kField, h.tr & 0xFF, h.tr & 0xFF);
    tree.FieldText(1, "Type Information (PTYPE)", 8, colour::kField, "");
    tree.Field(2, "Reserved", 2, kModeBinary, colour::kField, h.ptype_marker, h.ptype_marker);
    Flag(tree, 2, "Split screen indicator", h.split_screen);
    Flag(tree, 2, "Document camera indicator", h.document_camera);
    Flag(tree, 2, "Full Picture Freeze Release", h.freeze_release);
    tree.Field(2, "Source Format", 3, kModeBinary, colour::kField, h.source_format, h.source_format, SourceFormatName(h.source_format));
    if (!h.plusptype) {
      tree.Field(2, "Picture Coding Type", 1, kModeBinary, colour::kField, h.ptype_coding_type, h.ptype_coding_type,
                 h.ptype_coding_type ? "INTER (P-picture)" : "INTRA (I-picture)");
      Flag(tree, 2, "Optional Unrestricted Motion Vector mode", h.ptype_umv);
      Flag(tree, 2, "Optional Syntax-based Arithmetic Coding mode", h.ptype_sac);
      Flag(tree, 2, "Optional Advanced Prediction mode", h.ptype_ap);
      tree.Field(2, "Optional PB-frames mode", 1, kModeBinary, colour::kField, h.ptype_pb, h.ptype_pb,
                 h.ptype_pb ? "PB-frame" : "normal I- or P-picture");
    } else {
      const H263Opptype& o = h.opptype;
      tree.FieldText(1, "Plus PTYPE (PLUSPTYPE)", 0, colour::kField, "");
      tree.Field(2, "Update Full Extended PTYPE (UFEP)", 3, kModeBinary, colour::kField, h.ufep, h.ufep);
      if (h.ufep == 1) {
        tree.FieldText(2, "Optional Part of PLUSPTYPE (OPPTYPE)", 18, colour::kField, "");
        tree.Field(3, "Source Format", 3, kModeBinary, colour::kField, o.source_format, o.source_format, PlusSourceFormatName(o.source_format));
        tree.Field(3, "Optional Custom PCF", 1, kModeBinary, colour::kField, o.custom_pcf, o.custom_pcf, o.custom_pcf ? "PCF" : "CIF");
        Flag(tree, 3, "Optional Unrestricted Motion Vector (UMV) mode", o.umv);
        Flag(tree, 3, "Optional Syntax-based Arithmetic Coding (SAC) mode", o.sac);
        Flag(tree, 3, "Optional Advanced Prediction (AP) mode", o.ap);
        Flag(tree, 3, "Optional Advanced INTRA Coding (AIC) mode", o.aic);
        Flag(tree, 3, "Optional Deblocking Filter (DF) mode", o.df);
        Flag(tree, 3, "Optional Slice Structured (SS) mode", o.ss);
        Flag(tree, 3, "Optional Reference Picture Selection (RPS) mode", o.rps);
        Flag(tree, 3, "Optional Independent Segment Decoding (ISD) mode", o.isd);
        Flag(tree, 3, "Optional Alternative INTER VLC (AIV) mode", o.aiv);
        Flag(tree, 3, "Optional Modified Quantization (MQ) mode", o.mq);
        tree.Field(3, "Reserved", 4, kModeBinary, colour::kField, o.reserved, o.reserved);
      }
      tree.FieldText(2, "Mandatory part of PLUSPTYPE when PLUSPTYPE present (MPPTYPE)", 9, colour::kField, "");
      tree.Field(3, "Picture Type Code", 3, kModeBinary, colour::kField, h.mpptype_type, h.mpptype_type, PictureTypeCodeName(h.mpptype_type));
      Flag(tree, 3, "Optional Reference Picture Resampling (RPR) mode", h.rpr);
      Flag(tree, 3, "Optional Reduced-Resolution Update (RRU) mode", h.rru);
      tree.Field(3, "Rounding Type (RTYPE)", 1, kModeBinary, colour::kField, h.rtype, h.rtype);
      tree.Field(3, "Reserved", 3, kModeBinary, colour::kField, h.mpptype_reserved, h.mpptype_reserved);
      Flag(tree, 1, "Continuous Presence Multipoint (CPM)", h.cpm);
      if (h.cpm) tree.Field(1, "Picture Sub-Bitstream Indicator (PSBI)", 2, kModeDecimal, colour::kField, h.psbi, h.psbi);
      if (h.ufep == 1 && o.source_format == 6) {
        tree.Field(1, "Pixel Aspect Ratio Code", 4, kModeBinary, colour::kField, o.par, o.par, ParName(o.par));
        tree.Field(1, "Picture Width Indication", 9, kModeDecimal, colour::kField, o.pwi, o.pwi,
                   std::to_string((o.pwi + 1) * 4) + " pixels");
        tree.Field(1, "Reserved", 1, kModeBinary, colour::kField, 1, 1);
        tree.Field(1, "Picture Height Indication", 9, kModeDecimal, colour::kField, o.phi, o.phi,
                   std::to_string(o.phi * 4) + " lines");
        if (o.par == 15) {
          tree.Field(1, "Extended Pixel Aspect Ratio (EPAR)", 16, kModeHex, colour::kField,
                     (uint64_t{o.epar_width} << 8) | o.epar_height, (int64_t{o.epar_width} << 8) | o.epar_height,
                     std::to_string(o.epar_width) + ":" + std::to_string(o.epar_height));
        }
      }
      if (h.ufep == 1 && o.custom_pcf) {
        const uint32_t code = (o.clock_conversion ? 0x80u : 0u) | o.clock_divisor;
        tree.Field(1, "Custom Picture Clock Frequency Code (CPCFC)", 8, kModeBinary, colour::kField, code, code,
                   o.clock_divisor ? std::to_string(1800000.0 / ((o.clock_conversion ? 1001 : 1000) * o.clock_divisor)).substr(0, 6) + " Hz" : "");
      }
      if (h.has_etr) tree.Field(1, "Extended Temporal Reference (ETR)", 2, kModeDecimal, colour::kField, h.etr, h.etr);
      if (h.ufep == 1 && o.umv)
        tree.Field(1, "Unlimited Unrestricted Motion Vectors Indicator (UUI)", o.uui == 1 ? 1 : 2, kModeBinary, colour::kField,
                   o.uui == 1 ? 1 : 1, o.uui, o.uui == 1 ? "limited" : "unlimited");
      if (h.ufep == 1 && o.ss) tree.Field(1, "Slice Structured Submode bits (SSS)", 2, kModeBinary, colour::kField, o.sss, o.sss);
    }
    tree.Field(1, "Quantizer_Information (PQUANT)", 5, kModeDecimal, colour::kField, h.pquant, h.pquant);
    if (!h.plusptype) {
      Flag(tree, 1, "Continuous Presence Multipoint (CPM)", h.cpm);
      if (h.cpm) tree.Field(1, "Picture Sub-Bitstream Indicator (PSBI)", 2, kModeDecimal, colour::kField, h.psbi, h.psbi);
    }
    if (h.pb) {
      tree.Field(1, "Temporal Reference for B-pictures in PB (TRB)", 3, kModeDecimal, colour::kField, h.trb, h.trb);
      tree.Field(1, "Quantization information for B-pictures in PB (DBQUANT)", 2, kModeDecimal, colour::kField, h.dbquant, h.dbquant);
    }
    tree.Field(1, "Extra Insertion Information (PEI)", 1, kModeBinary, colour::kField, h.pei_count != 0, h.pei_count != 0,
               h.pei_count ? std::to_string(h.pei_count) + " PSUPP bytes" : "");
  }
  if (!ok) tree.FieldText(1, "Picture header", 0, colour::kField, "invalid or incomplete");
}

void PrintH263Macroblock(const H263MacroblockInfo& mb, uint32_t index, uint32_t mbPerRow, CFieldTree& tree) {
  static const char* kTypes[7] = {"INTER", "INTER+Q", "INTER4V", "INTRA", "INTRA+Q", "INTER4V+Q", "not coded"};
  tree.Title("MACRO BLOCK INFORMATION");
  tree.Field(0, "Number of macro block", 0, kModeDecimal, colour::kField, 0, index);
  const uint32_t perRow = mbPerRow == 0 ? 1 : mbPerRow;
  tree.FieldText(0, "Macro block Position (x,y)", 0, colour::kField,
                 "(" + std::to_string(index % perRow) + ", " + std::to_string(index / perRow) + ")");
  if (!mb.decoded) {
    tree.FieldText(0, "Macro block type", 0, colour::kField, "not decoded");
    return;
  }
  tree.FieldText(0, "Macro block type", 0, colour::kField, kTypes[mb.mb_type < 7 ? mb.mb_type : 6]);
  tree.Field(0, "Quantiser scale", 0, kModeDecimal, colour::kField, 0, mb.quant);
  const bool coded = mb.mb_type != kH263MbNotCoded;
  const bool intra = mb.mb_type == kH263MbIntra || mb.mb_type == kH263MbIntraQ;
  if (coded) {
    tree.FieldText(0, "MCBPC", 0, colour::kField, "");
    tree.Field(1, "- MB Type", 0, kModeDecimal, colour::kField, 0, mb.mb_type);
    tree.Field(1, "- CBPC", 2, kModeBinary, colour::kField, mb.cbpc, mb.cbpc);
    tree.Field(0, "CBPY", 4, kModeBinary, colour::kField, mb.cbpy, mb.cbpy);
    tree.Field(0, "DQUANT", 0, kModeDecimal, colour::kField, 0, mb.dquant);
  }
  if (!intra) {
    tree.FieldText(0, "MOTION VECTOR", 0, colour::kField, "");
    char text[64];
    for (int b = 0; b < (mb.mb_type == kH263MbInter4V || mb.mb_type == kH263MbInter4VQ ? 4 : 1); ++b) {
      std::snprintf(text, sizeof text, "(%3.1f, %3.1f)", mb.mv[b][0] / 2.0, mb.mv[b][1] / 2.0);
      tree.FieldText(1, "motion forward", 0, colour::kField, text);
    }
  }
  static const char* kScan[3] = {"zigzag", "alternate horizontal", "alternate vertical"};
  for (int b = 0; b < 6; ++b) {
    if (b == 0 || b >= 4) tree.FieldText(0, b < 4 ? "Macroblock (Y)" : b == 4 ? "Macroblock (Cb)" : "Macroblock (Cr)", 0, colour::kField, "");
    const bool blockCoded = coded && (((mb.cbpy << 2) | mb.cbpc) >> (5 - b) & 1);
    tree.FieldText(1, "DCT" + std::to_string(b), 0, colour::kField, blockCoded ? "coded" : "not coded");
    tree.FieldText(2, "SCAN TYPE", 0, colour::kField, kScan[mb.intra_mode < 3 ? mb.intra_mode : 0]);
    tree.FieldText(2, "DCT x Quant", 0, colour::kField, "");
    for (int r = 0; r < 8; ++r) {
      std::string row;
      char cell[16];
      for (int c = 0; c < 8; ++c) {
        std::snprintf(cell, sizeof cell, "%6d", mb.coef[b][r * 8 + c]);
        row += cell;
      }
      tree.FieldText(3, "", 0, colour::kField, row);
    }
  }
}

}  // namespace fennik
