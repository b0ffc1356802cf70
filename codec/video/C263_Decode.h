// The H.263 picture decoder: ITU-T H.263 baseline with Unrestricted Motion Vectors (Annex D,
// including the reversible codes of PLUSPTYPE streams), Advanced Prediction with OBMC (F),
// Advanced INTRA Coding (I), the Deblocking Filter (J), Slice Structured mode without
// rectangular slices (K), Alternative INTER VLC (S), Modified Quantization (T), custom picture
// formats and clock frequencies, and the Sorenson H.263 variant. Pictures using other modes
// (SAC, PB-frames, RPS, RPR, RRU, B/EI/EP pictures) are recognised and refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/BitReader.h"
#include "codec/video/CVideoFrame.h"
#include "codec/video/H263Kernels.h"
#include "codec/video/H263Syntax.h"

namespace fennik {

// Macroblock types as MCBPC gives them, plus a not-coded (COD = 1) macroblock.
enum H263MbType : uint8_t {
  kH263MbInter = 0,
  kH263MbInterQ = 1,
  kH263MbInter4V = 2,
  kH263MbIntra = 3,
  kH263MbIntraQ = 4,
  kH263MbInter4VQ = 5,
  kH263MbNotCoded = 6,
};

// What the macroblock view shows of one decoded macroblock.
struct H263MacroblockInfo {
  bool decoded = false;
  uint8_t mb_type = kH263MbNotCoded;
  uint8_t cbpc = 0;
  uint8_t cbpy = 0;
  int8_t dquant = 0;      // change of QUANT (Modified Quantization: new QUANT - old)
  uint8_t quant = 0;      // QUANT used by the macroblock
  uint8_t intra_mode = 0; // Advanced INTRA Coding prediction mode (0 DC, 1 vertical, 2 horizontal)
  int16_t mv[4][2] = {};  // luminance block vectors in half pixels (all four equal for one vector)
  int16_t coef[6][64] = {};  // dequantised coefficients per block, raster order
};

class C263_Decode {
 public:
  explicit C263_Decode(int codec_type = kCodecTypeH263);
  virtual ~C263_Decode();
  C263_Decode(const C263_Decode&) = delete;
  C263_Decode& operator=(const C263_Decode&) = delete;

  void SetCodecType(int codec_type) { codec_type_ = codec_type; }
  int CodecType() const { return codec_type_; }

  // Decodes one picture (its bytes from the picture start code on). Returns 1 with a decoded
  // picture, 0 when nothing could be decoded (no header, an unsupported mode, no reference).
  int DecodePicture(const uint8_t* data, size_t size, uint32_t frame_number);
  // Forgets the reference pictures and the kept PLUSPTYPE modes.
  void ResetDecoder();

  // The picture decoded last (null before the first one).
  const CVideoFrame* GetCurrentPicture() const { return have_output_ ? output_ : nullptr; }
  const H263PictureHeader& LastHeader() const { return header_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t MacroblockCount() const { return mb_count_; }
  const H263MacroblockInfo* Macroblock(uint32_t index) const {
    return index < mb_info_.size() ? &mb_info_[index] : nullptr;
  }

 private:
  struct MbState;
  struct AicBlock;
  bool Prepare(const H263PictureHeader& h);
  bool ReadSegmentHeader(BitReader& br, uint32_t& mb, int& quant);
  bool DecodeMacroblock(BitReader& br, uint32_t mb, int& quant);
  bool ReadBlock(BitReader& br, int block, bool intra, bool coded, int quant, const uint8_t* scan, int16_t coef[64]);
  void PredictMotion(uint32_t mb, int block, int& px, int& py) const;
  bool ReadMotionVector(BitReader& br, int px, int py, int& mvx, int& mvy);
  void AicPredict(uint32_t mb, int block, int mode, int16_t coef[64]);
  void Reconstruct(uint32_t mb);
  void Conceal(uint32_t mb);
  void Deblock();

  int codec_type_;
  H263PictureHeader header_;
  H263Opptype kept_modes_;
  uint32_t width_ = 0, height_ = 0;
  uint32_t mb_w_ = 0, mb_h_ = 0, mb_count_ = 0;
  uint32_t rows_per_gob_ = 1;
  CVideoFrame frames_[3];
  CVideoFrame* ref_ = nullptr;     // reference picture (null when none)
  CVideoFrame* cur_ = nullptr;     // picture being decoded
  CVideoFrame* output_ = nullptr;  // picture decoded last
  bool have_output_ = false;
  std::vector<MbState> mb_;
  std::vector<H263MacroblockInfo> mb_info_;
  std::vector<AicBlock> aic_;  // 4 luma + 2 chroma predictors per macroblock
  int segment_ = 0;
  uint32_t picture_serial_ = 0;
  // Picture modes in effect.
  bool aic_mode_ = false, aiv_ = false, mq_ = false, df_ = false, ss_ = false, obmc_ = false;
  bool umv_ = false, umv_plus_ = false;
  int rounding_ = 0;
};

}  // namespace fennik
