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

// Bits of MbInfo::cbf (CABAC coded_block_flag of each block): the 4x4 blocks of the three
// colour components by raster position (luma 0..15, Cb 16..31, Cr 32..47; the chroma AC
// blocks of 4:2:0 and 4:2:2 pictures use the first 4 or 8 of their component), then the DC
// blocks.
inline uint64_t CbfBlock(int plane, int blk) { return uint64_t{1} << (plane * 16 + blk); }
inline uint64_t CbfDc(int plane) { return uint64_t{1} << (48 + plane); }
inline uint64_t CbfChromaAc(int comp, int blk) { return CbfBlock(comp + 1, blk); }
constexpr uint64_t kCbfLumaDc = uint64_t{1} << 48;
constexpr uint64_t kCbfCbDc = uint64_t{1} << 49;
constexpr uint64_t kCbfCrDc = uint64_t{1} << 50;
constexpr uint64_t kCbfAll = (uint64_t{1} << 51) - 1;

struct C264_Decode::MbInfo {
  int16_t slice = -1;  // slice number within the picture; -1 not decoded
  uint8_t kind = 0;
  uint8_t cbp = 0;
  int8_t qp = 0;        // QPY (0 for I_PCM, as the deblocking filter takes it)
  int8_t qpc[2] = {};   // QPc of Cb and Cr
  uint8_t chroma_mode = 0;
  uint8_t qp_delta_nonzero = 0;
  uint8_t intra_modes[16] = {};   // Intra4x4PredMode by raster 4x4 position
  // CAVLC TotalCoeff by raster 4x4 position: luma 0..15, Cb 16..31, Cr 32..47 (the chroma AC
  // blocks of 4:2:0 and 4:2:2 pictures use the first 4 or 8 of their component).
  uint8_t total_coeff[48] = {};
  uint64_t cbf = 0;
  // Luma 4x4 blocks (raster) with non-zero coefficients, for the deblocking filter (the Cb
  // and Cr blocks of 4:4:4 pictures do not count).
  uint16_t nonzero = 0;
  uint16_t direct = 0;            // 4x4 blocks predicted in direct mode
  uint8_t mvd[2][16][2] = {};     // |mvd| per 4x4 block, capped at 127 (CABAC contexts)
  uint8_t transform_8x8 = 0;      // transform_size_8x8_flag
  uint8_t field = 0;              // mb_field_decoding_flag (MBAFF frames)
  uint8_t deblocked = 0;          // passed by the deblocking filter (filtered or not)
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
  // Levels of the components coded like luma: luma, and Cb and Cr of 4:4:4 pictures.
  int32_t luma[3][16][16];       // by 4x4 block (blkIdx) at raster positions
  int32_t luma_dc[3][16];        // Intra16x16 DC levels, raster
  int32_t luma8x8[3][4][64];     // 8x8 blocks' levels at raster positions (transform_size_8x8_flag)
  uint16_t luma_coded[3] = {};   // blocks (blkIdx) with any level
  uint8_t luma8x8_coded[3] = {}; // 8x8 blocks with any level
  bool luma_dc_coded[3] = {};
  // Chroma of 4:2:0 and 4:2:2 pictures: DC levels in parse order and AC blocks (raster
  // 4x4 positions of the 8x8 or 8x16 component).
  int32_t chroma_dc[2][8];
  int32_t chroma_ac[2][8][16];
  uint16_t chroma_coded = 0;     // bit comp * 8 + blk
  bool chroma_dc_coded[2] = {};
  uint8_t pcm[768];
  bool transform_8x8 = false;
  // The coded blocks hold scaled coefficients (factors of H264LevelScales) instead of levels;
  // the DC arrays always hold levels.
  bool scaled = false;

  // Clears the syntax fields; the coefficient arrays are written by the residual parsers
  // before they are read (blocks they skip are marked uncoded).
  void Reset() {
    kind = i16_mode = cbp = chroma_mode = 0;
    for (int i = 0; i < 4; ++i) {
      sub_type[i] = part_pred[i] = 0;
      ref[0][i] = ref[1][i] = 0;
    }
    for (int p = 0; p < 3; ++p) {
      luma_coded[p] = 0;
      luma8x8_coded[p] = 0;
      luma_dc_coded[p] = false;
    }
    chroma_coded = 0;
    transform_8x8 = false;
    scaled = false;
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

// Implicit bi-prediction weight w1 of list 1 (8.4.2.3.1) for the order counts of the
// current picture (or field) and the two references.
int ImplicitWeight(int32_t cur_poc, int32_t poc0, int32_t poc1);

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
