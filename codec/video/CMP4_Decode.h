// The MPEG-4 Visual VOP decoder (ISO/IEC 14496-2) for rectangular video objects: the VOP,
// video packet, macroblock and block layers of I and P VOPs with intra DC/AC prediction and
// scan switching, H.263 and MPEG quantisation (default and loaded matrices, mismatch
// control), one and four motion vectors with unrestricted vectors and f_code ranges,
// half-sample motion compensation with vop_rounding_type, not-coded macroblocks, resync
// markers with the prediction boundaries of video packets, and short-video-header pictures
// (H.263 baseline, decoded by C263_Decode). Pictures leave in display order: an I or P VOP
// is held back until the next one when the VOL allows B-VOPs.
//
// The Advanced Simple tools (B-VOPs with direct mode, quarter-sample motion, interlaced
// coding, data partitioning with reversible VLCs, GMC S-VOPs) plug into the hooks declared
// under "Advanced Simple tools"; until they are there such VOPs are refused with a debug line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/BitReader.h"
#include "codec/video/CVideoFrame.h"
#include "codec/video/M4VAsp.h"
#include "codec/video/M4VHeaders.h"

namespace fennik {

class C263_Decode;

// Macroblock types: MCBPC's types of I/P/S VOPs, the B-VOP types, a not-coded macroblock.
enum M4vMbType : uint8_t {
  kM4vMbInter = 0,
  kM4vMbInterQ = 1,
  kM4vMbInter4V = 2,
  kM4vMbIntra = 3,
  kM4vMbIntraQ = 4,
  kM4vMbInter4VQ = 5,
  kM4vMbNotCoded = 6,
  kM4vMbDirect = 7,       // B-VOP mb_type
  kM4vMbInterpolate = 8,
  kM4vMbBackward = 9,
  kM4vMbForward = 10,
};

// Which reference(s) a macroblock's prediction uses.
enum class M4vPrediction : uint8_t {
  kForward,        // past reference (P and S VOPs, B forward)
  kBackward,       // future reference
  kBidirectional,  // average of both (B interpolate and direct)
  kGmc,            // global motion compensation of S-VOPs
};

// Scan of a block's coefficients.
enum M4vScan : uint8_t { kM4vScanZigzag = 0, kM4vScanHorizontal = 1, kM4vScanVertical = 2 };

// One macroblock of the VOP decoded last: the decoding state later macroblocks predict from and
// everything the macroblock view shows. Vectors are in the VOL's units (half samples, quarter
// samples with quarter_sample), [direction 0 forward / 1 backward][block].
struct M4vMacroblock {
  uint32_t serial = 0;   // VOP serial when decoded (0: not decoded in any VOP)
  uint32_t packet = 0;   // video packet within the VOP
  uint8_t type = kM4vMbNotCoded;
  uint8_t quant = 0;     // quantiser used
  int8_t dquant = 0;
  int8_t dbquant = 0;
  uint8_t cbp = 0;       // bit 5 block 0 .. bit 0 block 5
  uint8_t mcbpc = 0, cbpy = 0, cbpb = 0, modb = 0, mb_type = 0;
  bool intra = false;
  bool not_coded = false;
  bool ac_pred = false;
  bool mcsel = false;
  bool dct_type = false;          // field DCT
  bool field_prediction = false;
  bool field_ref[2][2] = {};      // [direction][top/bottom field] reference field
  bool four_mv = false;
  int16_t mv[2][4][2] = {};       // frame vectors per luminance block
  int16_t field_mv[2][2][2] = {}; // [direction][top/bottom][x/y]
  uint8_t scan[6] = {};           // M4vScan per block
  int16_t coef[6][64] = {};       // dequantised coefficients, raster order
};

// What B-VOPs need of the co-located macroblock of their backward reference (direct mode,
// skipped macroblocks): kept from the I, P or S VOP decoded last.
struct M4vReferenceMotion {
  bool intra = true;
  bool not_coded = false;
  bool four_mv = false;
  bool field_prediction = false;
  bool field_ref[2] = {};       // forward top/bottom field reference
  int16_t mv[4][2] = {};        // forward vectors per luminance block
  int16_t field_mv[2][2] = {};  // forward top/bottom field vectors
};

class CMP4_Decode {
 public:
  CMP4_Decode();
  virtual ~CMP4_Decode();
  CMP4_Decode(const CMP4_Decode&) = delete;
  CMP4_Decode& operator=(const CMP4_Decode&) = delete;

  // Decodes the VOP at `data` (its vop_start_code first; `size` bytes up to the frame's end)
  // under `vol`. 1 with a decoded picture, 0 when nothing was decoded.
  int DecodeVop(const uint8_t* data, size_t size, const M4vVol& vol, uint32_t frameNumber);
  // Decodes a short-video-header picture (short_video_start_marker first). 1 with a picture.
  int DecodeShortHeader(const uint8_t* data, size_t size, uint32_t frameNumber);
  // Forgets the references and the pictures waiting for output.
  void ResetPictures();

  // The picture decoded last (null before the first one).
  const CVideoFrame* CurrentPicture() const { return current_; }
  // The next picture in display order, once; null when none is ready.
  const CVideoFrame* TakeOutput();
  // End of the stream: the reference held back for display order becomes ready.
  void FlushOutput();

  const M4vVop& LastVop() const { return vop_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t MacroblockCount() const { return mbCount_; }
  uint32_t MacroblocksPerRow() const { return mbWidth_; }
  // Macroblock `index` of the VOP decoded last (null outside the picture or before a VOP).
  const M4vMacroblock* Macroblock(uint32_t index) const;
  // VOPs whose macroblock data had an error (the rest of the packet was concealed).
  uint32_t ErrorCount() const { return errors_; }

 protected:
  // Per-block predictors of intra DC/AC prediction: the DC as reconstructed (F[0][0]) and the
  // quantised first row and column after prediction.
  struct IntraPredictor {
    int16_t dc = 1024;
    int16_t row[8] = {};
    int16_t col[8] = {};
  };

  // Drops the references and waiting pictures (not the short-video-header decoder's).
  void ForgetPictures();
  // Picture set-up for the VOL size; false when the pictures cannot be allocated.
  bool Prepare(const M4vVol& vol);
  // Macroblock data of a whole VOP (combined motion-texture coding), following video packets.
  bool DecodeVopData(BitReader& br);
  // A video packet header at the current position (after its stuffing); moves `mb` and the
  // quantiser. False when none is there.
  bool ReadVideoPacketHeader(BitReader& br, uint32_t& mb, int& quant);
  bool ResyncMarkerAhead(const BitReader& br) const;
  // Macroblock layer of I and P VOPs.
  bool DecodeMacroblockIP(BitReader& br, uint32_t mb, int& quant);
  // Motion vector data of one vector (f_code range) around the predictor.
  bool ReadMotionVector(BitReader& br, int fcode, int px, int py, int& mvx, int& mvy);
  // Median prediction of block `block`'s (0..3; 0 for one vector) vector, direction `dir`.
  void PredictVector(uint32_t mb, int block, int dir, int& px, int& py) const;
  // Texture of one block: the intra DC (when `intra` and the DC VLC is used), the coefficient
  // codes when `coded`, intra prediction and dequantisation into m.coef[block].
  bool DecodeBlock(BitReader& br, uint32_t mb, int block, bool intra, bool coded, M4vMacroblock& m);
  // The coefficient codes of one block (escape methods of 7.4.1.3) in scan order from `start`.
  bool ReadCoefficients(BitReader& br, bool intra, int start, const uint8_t* scan, int16_t coef[64]);
  // Intra DC: dct_dc_size and dct_dc_differential. False on an invalid code.
  bool ReadIntraDc(BitReader& br, int block, int& diff);
  // DC/AC prediction direction of a block: true when predicted from the block above.
  bool IntraPredictFromAbove(uint32_t mb, int block) const;
  // Applies DC (and, with ac_pred, AC) prediction to the quantised block and records the
  // predictors; `fromAbove` is the direction chosen.
  void IntraPredict(uint32_t mb, int block, bool fromAbove, bool acPred, int quant, int16_t qf[64]);
  // Dequantisation (7.4.4) of a quantised block, with mismatch control for MPEG quantisation.
  void Dequantise(int16_t coef[64], bool intra, int block, int quant) const;
  // Prediction of macroblock `mb` into the current picture from the reference(s) `mode`
  // names, with the macroblock's vectors.
  void MotionCompensate(uint32_t mb, const M4vMacroblock& m, M4vPrediction mode);
  // Prediction (inter) plus residual, or the intra blocks, of macroblock `mb`.
  void Reconstruct(uint32_t mb, const M4vMacroblock& m, M4vPrediction mode);
  // A macroblock the data did not reach: copied from the past reference (or left black).
  void Conceal(uint32_t mb);
  bool MacroblockAvailable(int mbx, int mby) const;
  static int DcScaler(int block, int quant);

  // Advanced Simple tools (CMP4_DecodeAsp.cpp). Each answers false after a debug line when
  // it does not decode the VOP.
  bool DecodeBVop(BitReader& br);
  bool DecodeSVop(BitReader& br);
  bool DecodePartitionedVop(BitReader& br);
  // Whether the VOL's quarter-sample and interlaced tools can be decoded.
  bool SupportsQuarterSample() const;
  bool SupportsInterlaced() const;
  // Interlaced, S- and B-VOP macroblocks go through DecodeMacroblockAsp.
  bool AspMacroblocks() const;
  bool DecodeMacroblockAsp(BitReader& br, uint32_t mb, int& quant);
  bool DecodeMacroblockB(BitReader& br, uint32_t mb, int& quant);
  // A B-VOP macroblock whose co-located one was skipped: it has no bits, so a resync marker
  // ahead belongs to a later macroblock.
  bool SkippedInReference(uint32_t mb) const;
  // Quarter-sample, field and GMC prediction (the rest goes through MotionCompensate).
  void MotionCompensateAsp(uint32_t mb, const M4vMacroblock& m, M4vPrediction mode);
  // After every decoded VOP: the reference's macroblocks and times for the B-VOPs that follow.
  void FinishVopAsp();
  M4vAspState asp_;

  // VOL and VOP in effect.
  M4vVol vol_;
  M4vVop vop_;
  uint32_t width_ = 0, height_ = 0;
  uint32_t mbWidth_ = 0, mbHeight_ = 0, mbCount_ = 0;
  int mbNumberBits_ = 1;
  // Quantiser matrices in raster order.
  uint8_t intraMatrix_[64] = {};
  uint8_t interMatrix_[64] = {};

  // Picture pool and references.
  CVideoFrame pictures_[4];
  CVideoFrame* past_ = nullptr;     // forward reference
  CVideoFrame* future_ = nullptr;   // backward reference (the newest I/P VOP)
  CVideoFrame* cur_ = nullptr;      // picture being decoded
  CVideoFrame* current_ = nullptr;  // picture decoded last
  CVideoFrame* held_ = nullptr;     // reference waiting for display order
  CVideoFrame* ready_ = nullptr;    // next picture for output
  CVideoFrame* forwardRef_ = nullptr;   // references of the VOP being decoded
  CVideoFrame* backwardRef_ = nullptr;

  // Per-VOP state.
  std::vector<M4vMacroblock> mbs_;
  std::vector<IntraPredictor> predictors_;  // 6 per macroblock
  std::vector<M4vReferenceMotion> futureMotion_;  // per macroblock of future_
  uint32_t serial_ = 0;
  uint32_t packet_ = 0;
  int dcVlcThreshold_ = 99;
  int rounding_ = 0;
  int fcodeForward_ = 1;
  int fcodeBackward_ = 1;
  int resyncZeros_ = 16;     // zeros of the resync marker before its 1
  bool useDcVlc_ = true;     // intra DC coded with dct_dc_size (intra_dc_vlc_thr)
  uint32_t errors_ = 0;

  std::unique_ptr<C263_Decode> shortHeader_;
};

}  // namespace fennik
