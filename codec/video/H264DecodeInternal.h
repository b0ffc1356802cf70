// Internal records of C264_Decode shared by its source files: per-macroblock state of the
// picture being decoded, per-slice deblocking parameters and one macroblock's parsed syntax.
#pragma once

#include <cstdint>

#include "codec/video/C264_Decode.h"

namespace fennik {

// Macroblock kinds (mb_type of Tables 7-11, 7-13 and 7-14 grouped by how they decode).
enum H264MbKind : uint8_t {
  kMbI4x4,
  kMbI16x16,
  kMbIPCM,
  kMbPSkip,
  kMbP16x16,
  kMbP16x8,
  kMbP8x16,
  kMbP8x8,
  kMbP8x8Ref0,
  kMbBSkip,
  kMbBDirect,
  kMbB16x16,
  kMbB16x8,
  kMbB8x16,
  kMbB8x8,
};

inline bool IsIntraKind(int kind) { return kind <= kMbIPCM; }
inline bool IsSkipKind(int kind) { return kind == kMbPSkip || kind == kMbBSkip; }

// Bits of MbInfo::cbf (CABAC coded_block_flag of each block).
constexpr uint32_t kCbfLumaDc = 1u << 24;
constexpr uint32_t kCbfCbDc = 1u << 25;
constexpr uint32_t kCbfCrDc = 1u << 26;
inline uint32_t CbfChromaAc(int comp, int blk) { return 1u << (16 + comp * 4 + blk); }

struct C264_Decode::MbInfo {
  int16_t slice = -1;  // slice number within the picture; -1 not decoded
  uint8_t kind = 0;
  uint8_t cbp = 0;
  int8_t qp = 0;        // QPY (0 for I_PCM, as the deblocking filter takes it)
  int8_t qpc[2] = {};   // QPc of Cb and Cr
  uint8_t chroma_mode = 0;
  uint8_t qp_delta_nonzero = 0;
  uint8_t intra_modes[16] = {};   // Intra4x4PredMode by raster 4x4 position
  uint8_t total_coeff[24] = {};   // CAVLC TotalCoeff: luma raster 0..15, Cb 16..19, Cr 20..23
  uint32_t cbf = 0;
  uint16_t nonzero = 0;           // luma 4x4 blocks (raster) with non-zero coefficients
  uint16_t direct = 0;            // 4x4 blocks predicted in direct mode
  uint8_t mvd[2][16][2] = {};     // |mvd| per 4x4 block, capped at 127 (CABAC contexts)
  uint8_t transform_8x8 = 0;      // transform_size_8x8_flag
};

struct C264_Decode::SliceInfo {
  int disable_deblocking_filter_idc = 0;
  int filter_offset_a = 0;
  int filter_offset_b = 0;
  int kind = 0;
};

struct C264_Decode::MbParse {
  int kind = 0;
  int i16_mode = 0;
  int cbp = 0;
  int chroma_mode = 0;
  int sub_type[4] = {};   // sub_mb_type for P_8x8 / B_8x8
  int part_pred[4] = {};  // per partition or sub-macroblock: bit 0 list 0, bit 1 list 1, 4 direct
  int ref[2][4] = {};
  int32_t luma[16][16];       // coefficient levels by 4x4 block (blkIdx) at raster positions
  int32_t luma_dc[16];        // Intra16x16 DC levels, raster
  int32_t chroma_dc[2][4];
  int32_t chroma_ac[2][4][16];
  uint16_t luma_coded = 0;    // blocks (blkIdx) with any level
  uint8_t chroma_coded = 0;   // bit comp * 4 + blk
  bool luma_dc_coded = false;
  bool chroma_dc_coded[2] = {};
  uint8_t pcm[384];
  bool transform_8x8 = false;
  int32_t luma8x8[4][64];     // 8x8 blocks' levels at raster positions (transform_size_8x8_flag)
  uint8_t luma8x8_coded = 0;  // 8x8 blocks with any level

  // Clears the syntax fields; the coefficient arrays are written by the residual parsers
  // before they are read (blocks they skip are marked uncoded).
  void Reset() {
    kind = i16_mode = cbp = chroma_mode = 0;
    for (int i = 0; i < 4; ++i) {
      sub_type[i] = part_pred[i] = 0;
      ref[0][i] = ref[1][i] = 0;
    }
    luma_coded = 0;
    chroma_coded = 0;
    transform_8x8 = false;
    luma8x8_coded = 0;
    luma_dc_coded = false;
    chroma_dc_coded[0] = chroma_dc_coded[1] = false;
  }
};

}  // namespace fennik

namespace fennik {

// Where ParseIntraModes / ParseInterPred take their syntax elements from (CAVLC or CABAC).
struct C264_Decode::SyntaxSource {
  virtual ~SyntaxSource() = default;
  // prev_intra4x4_pred_mode_flag and, when it is 0, rem_intra4x4_pred_mode.
  virtual void IntraMode(int& prev_flag, int& rem) = 0;
  virtual int ChromaPredMode(int mb_addr) = 0;
  virtual int SubMbType(bool b_slice) = 0;
  // ref_idx_lX of the partition whose top-left 4x4 block is (bx, by); max = num_ref_idx - 1.
  virtual int RefIdx(int mb_addr, int list, int bx, int by, int max) = 0;
  virtual void Mvd(int mb_addr, int list, int bx, int by, int& x, int& y) = 0;
  virtual bool Ok() const = 0;
};

// Classifies mb_type, numbered as the slice type numbers it (P types 0..4 and B types
// 0..22 followed by the I types of Table 7-11), into a kind with its fixed properties:
// Intra_16x16 prediction mode and coded_block_pattern, partition prediction flags.
bool ClassifyMbType(int slice_kind, int mb_type, int& kind, int& i16_mode, int& cbp, int part_pred[4]);

// Partition prediction of B macroblock types 1..21 (Table 7-14): bit 0 list 0, bit 1 list 1.
extern const uint8_t kBMbPartPred[22][2];
// B sub-macroblock types (Table 7-18): prediction bits (4 = direct) and partition shape
// (0 8x8, 1 8x4, 2 4x8, 3 4x4).
extern const uint8_t kBSubPred[13];
extern const uint8_t kBSubShape[13];

}  // namespace fennik
