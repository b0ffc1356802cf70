// The H.264 decoder: parameter-set stores and stream callbacks (C264_DecodeHeader), and the
// decoding of coded pictures into CVideoFrame pictures (C264_Decode) following ITU-T H.264
// clause 8 with CAVLC and CABAC entropy decoding (clause 9). 8-bit pictures of Baseline
// (without slice groups), Main, High, High 4:2:2 and High 4:4:4 Predictive streams are
// decoded: monochrome (output with grey chroma), 4:2:0, 4:2:2 and 4:4:4 (colour planes coded
// together), with lossless transform bypass; frames, field pictures (PAFF) and
// macroblock-adaptive frame/field frames (MBAFF). Separately coded colour planes, bit depths
// above 8, slice groups and SP/SI slices are reported as unsupported.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/BitReader.h"
#include "codec/video/CVideoFrame.h"
#include "codec/video/H264Cabac.h"
#include "codec/video/H264Dpb.h"
#include "codec/video/H264Transform.h"
#include "h264/H264Rtp.h"
#include "h264/H264Syntax.h"
#include "codec/video/MacroblockPosition.h"

namespace fennik {

// Parameter-set stores, the picture order count state and the callbacks into the owning
// stream (all answering 1 by default).
class C264_DecodeHeader {
 public:
  C264_DecodeHeader();
  virtual ~C264_DecodeHeader();

  // Parse one unescaped SPS / PPS RBSP (without the NAL header byte) and keep it.
  bool StoreSps(const uint8_t* rbsp, size_t size);
  bool StorePps(const uint8_t* rbsp, size_t size);
  const H264Sps* FindSps(uint32_t id) const;
  const H264Pps* FindPps(uint32_t id) const;
  // The SPS stored last (none before the first one).
  const H264Sps* CurrentSps() const { return current_sps_ < 0 ? nullptr : sps_[current_sps_].get(); }
  // Forgets every stored parameter set.
  void ClearParameterSets();

  virtual int OnSeiParsed(const H264SeiMessage&) { return 1; }
  virtual int OnOpenDescriptor(const void*) { return 1; }
  virtual int OnFrameStart(uint32_t) { return 1; }
  virtual int OnAudParsed(const H264Aud&) { return 1; }
  virtual int OnSpsParsed(const H264Sps&) { return 1; }
  virtual int OnPpsParsed(const H264Pps&) { return 1; }
  virtual int OnSliceHeaderParsed(const H264SliceHeader&) { return 1; }

 protected:
  // By seq_parameter_set_id / pic_parameter_set_id, each allocated when its id is first
  // stored (a decoder costs little to make) and then overwritten in place, so pointers to a
  // stored set stay valid.
  std::array<std::unique_ptr<H264Sps>, 32> sps_;
  std::array<std::unique_ptr<H264Pps>, 256> pps_;
  int current_sps_ = -1;
};

// What the decoder recorded of one macroblock of the picture decoded last, for the
// macroblock views.
struct H264MacroblockRecord {
  bool decoded = false;     // the macroblock was reached by a slice of the picture
  int slice = -1;           // slice number within the picture
  int sliceKind = 0;        // slice_type % 5 of its slice (0 P, 1 B, 2 I, 3 SP, 4 SI)
  char kindName[24] = {};   // macroblock kind ("Intra_4x4", "P_L0_16x16", "B_Skip", ...)
  bool intra = false;
  bool skip = false;
  bool pcm = false;
  bool intra4x4 = false;    // Intra_4x4 or Intra_8x8: intraModes hold the block modes
  bool transform8x8 = false;
  bool field = false;       // a field macroblock (field picture or MBAFF field pair)
  int qp = 0;               // QPY
  int qpc[2] = {};          // QPc of Cb and Cr
  int cbp = 0;              // coded_block_pattern (luma bits 0..3, chroma in bits 4..5)
  int chromaMode = 0;       // intra_chroma_pred_mode
  uint8_t intraModes[16] = {};  // Intra4x4PredMode by raster 4x4 position
  uint8_t totalCoeff[16] = {};  // luma TotalCoeff (CAVLC) by raster 4x4 position
  int8_t refIdx[2][16] = {};    // per list and raster 4x4 block; -1 unused
  H264Mv mv[2][16];             // quarter samples
  int32_t refPoc[2][16] = {};   // POC of the referenced picture
};

struct H264MotionField;
struct DeblockRawMotion;

class C264_Decode : public C264_DecodeHeader {
 public:
  C264_Decode();
  ~C264_Decode() override;

  // Length-prefixed input (4-byte big-endian lengths) instead of start codes.
  void SetLengthPrefixed(bool on) { length_prefixed_ = on; }

  // Decodes one frame's bytes (one access unit). Returns the bytes consumed when an
  // end-of-stream unit ends the call early or nothing could be decoded for lack of an SPS,
  // else 0.
  uint32_t Decode(const uint8_t* data, uint32_t length, uint32_t frame_number);
  // Decodes one NAL unit (escaped, starting with its header byte).
  void DecodeNalUnit(const uint8_t* nal, size_t size);
  // Completes the picture being decoded: deblocking, reference marking, output ordering.
  void FinishPicture();
  // End of the stream: every picture still waiting goes to output.
  void Flush();
  // Takes the next picture in output order. Returns false when none is ready.
  bool GetNextPicture(CVideoFrame& out, H264Crop* crop = nullptr);
  // The next picture in output order left in the decoder (null when none is ready), for
  // reading it without a copy: valid until the next call that decodes, flushes or takes a
  // picture. PopNextPicture takes it off the output queue.
  const CVideoFrame* PeekNextPicture(H264Crop* crop = nullptr);
  void PopNextPicture();
  // The picture finished last, whatever its output order (for a field, the frame holding the
  // fields decoded so far). Returns false when there is none.
  bool GetCurrentPicture(CVideoFrame& out, H264Crop* crop = nullptr);

  // Makes the picture records for a picture size (DPB sized by level; each record's samples
  // are allocated when it is first used). Returns false and leaves decoding off for a size
  // or format no picture can hold.
  bool InitPictureBuffers(uint32_t width, uint32_t height, uint32_t format);
  // Clears pictures and output state; parameter sets are kept.
  void ResetDecoder();
  // Pictures of more macroblocks than `count` are not decoded (0, the default: any size the
  // level allows). For runs where the input may declare any size, as fuzzing.
  void SetMaxPictureMacroblocks(uint32_t count) { max_picture_mbs_ = count; }

  // Macroblock numbering of the picture decoded last (for the macroblock views): its size,
  // macroblock count (of a field for a field picture) and whether it is an MBAFF frame.
  MacroblockGeometry PictureGeometry() const {
    return MacroblockGeometry{static_cast<uint32_t>(mb_width_ * 16), static_cast<uint32_t>(mb_height_ * 16),
                              static_cast<uint32_t>(mb_count_), mbaff_};
  }
  // The record of macroblock `mb_addr` of the picture decoded last; false when the
  // address lies outside it.
  bool MacroblockRecord(uint32_t mb_addr, H264MacroblockRecord& out) const;
  int DpbPictures() const { return dpb_.Pictures(); }
  uint32_t PicturesDecoded() const { return pictures_decoded_; }
  uint32_t SliceErrors() const { return slice_errors_; }

  // Internal records, defined in H264DecodeInternal.h.
  struct MbInfo;
  struct SliceInfo;
  struct MbParse;
  struct SyntaxSource;
  struct CabacSource;

 private:

  // Picture management (C264_Decode.cpp).
  bool EnsureBuffers(const H264Sps& sps);
  bool StartPicture(const H264SliceHeader& sh, const H264Sps& sps, const H264Pps& pps);
  void ComputeWeights();
  void DecodeSlice(const H264SliceHeader& sh, const uint8_t* rbsp, size_t size);
  // Black samples for the macroblocks of a frame picture no slice reached.
  void FillMissingMacroblocks();
  // One NAL unit that is no RTP aggregation or fragmentation packet.
  void DecodeSingleNalUnit(const uint8_t* nal, size_t size);

  // Macroblock layer (H264Macroblock.cpp).
  bool DecodeSliceData(BitReader& br, const uint8_t* rbsp, size_t size);
  bool ParseMacroblockCavlc(BitReader& br, int mb_addr, MbParse& mb);
  bool ParseMacroblockCabac(int mb_addr, MbParse& mb);
  int DecodeSkipFlag(int mb_addr);
  int DecodeFieldFlag(int mb_addr);
  void SetPairField(int mb_addr, bool field);
  bool InferredPairField(int mb_addr) const;
  void BeginMacroblock(int mb_addr);
  bool ParseResidualCavlc(BitReader& br, int mb_addr, MbParse& mb);
  bool ParseLumaLikeCavlc(BitReader& br, int mb_addr, MbParse& mb, int plane);
  bool ParseChromaCavlc(BitReader& br, int mb_addr, MbParse& mb);
  bool ParseResidualCabac(int mb_addr, MbParse& mb);
  bool ParseLumaLikeCabac(int mb_addr, MbParse& mb, int plane);
  bool ParseChromaCabac(int mb_addr, MbParse& mb);
  bool ReadCavlcBlock(BitReader& br, int nc, int max_coeff, int32_t* levels, int& total);
  // A 4x4-based block of ctxBlockCat `cat` (0..4) of component `plane` (Cb and Cr of 4:4:4
  // pictures use their own contexts for categories 0..2). The level of scan position i goes
  // to out[scan[i]], scaled with the factors `scale` (H264LevelScales) unless null; `out` is
  // cleared when the block is coded and left as it was otherwise.
  int CabacResidualBlock(int cat, int plane, int ctx_inc_cbf, int max_coeff, const uint8_t* scan,
                         const int32_t* scale, int32_t* out);
  // QP'C of chroma component c (0 Cb, 1 Cr) at the current QP'Y.
  int ChromaQp(int c) const;
  // condTermFlagN of coded_block_flag for neighbouring macroblock n (-1: not available) and
  // the bit of its block in MbInfo::cbf.
  int NeighbourCbf(int n, uint64_t bit, bool intra) const;
  // The coded_block_flag bits next to the 4x4 blocks of `plane` (0..2 luma-like, 3 + c chroma AC
  // of component c), for the contexts: on a grid of (cols + 1) x (rows + 1) bits, block (x, y) at
  // bit (y + 1) * (cols + 1) + x + 1, the neighbours' blocks in column 0 and row 0.
  uint32_t CbfEdges(int mb_addr, int plane, bool intra) const;
  void SetupSkip(int mb_addr, MbParse& mb);
  bool ParseIntraModes(int mb_addr, MbParse& mb, SyntaxSource& src);
  bool Transform8x8Allowed(const MbParse& mb) const;
  // Returns the number of non-zero levels, -1 on an error; with `cbf_inc` >= 0 (4:4:4
  // pictures) the block's coded_block_flag is decoded first.
  int CabacResidualBlock8x8(int plane, int cbf_inc, const uint8_t* scan, const int32_t* scale, int32_t* out);
  bool ParseInterPred(int mb_addr, MbParse& mb, SyntaxSource& src);
  // The macroblock holding 4x4 block (bx, by) of a macroblock (-1 left or above, not both
  // for chroma) and that block's raster index in it; -1 when not available. Chroma blocks
  // are those of 4:2:0 (2x2) and 4:2:2 (2x4) macroblocks.
  int LumaNeighbour(int mb_addr, int bx, int by, int& blk) const {
    if (bx >= 0 && by >= 0) {
      blk = by * 4 + bx;
      return mb_addr;
    }
    if (mb_addr != nb_addr_) return OuterLumaNeighbour(mb_addr, bx, by, blk);
    blk = (by & 3) * 4 + (bx & 3);
    return nb_[bx < 0 ? (by < 0 ? 3 : 0) : 1];
  }
  int ChromaNeighbour(int mb_addr, int bx, int by, int& blk) const {
    const int cols = mb_cw_ / 4, rows = mb_ch_ / 4;
    if (bx >= 0 && by >= 0) {
      blk = by * cols + bx;
      return mb_addr;
    }
    if (mb_addr != nb_addr_) return OuterChromaNeighbour(mb_addr, bx, by, blk);
    blk = (by & (rows - 1)) * cols + (bx & (cols - 1));
    return nb_[bx < 0 ? 0 : 1];
  }
  // The same for a block outside the macroblock, without FindNeighbours.
  int OuterLumaNeighbour(int mb_addr, int bx, int by, int& blk) const;
  int OuterChromaNeighbour(int mb_addr, int bx, int by, int& blk) const;
  // The macroblock A, B, C or D (which 0..3) next to mb_addr, -1 when not available.
  int NeighbourMb(int mb_addr, int which) const {
    return mb_addr == nb_addr_ ? nb_[which] : OuterNeighbourMb(mb_addr, which);
  }
  int OuterNeighbourMb(int mb_addr, int which) const;
  // Frame and field pictures (not MBAFF): the macroblocks A, B, C and D next to mb_addr and
  // its first 4x4 block in the motion data, found once per macroblock (nb_addr_ names it).
  void FindNeighbours(int mb_addr);
  // Index in the motion data of the 4x4 block (bx, by) next to or inside the macroblock of
  // FindNeighbours (bx -1..4, by -1..3 in 4x4 blocks), -1 when not available (cur_order as
  // NeighbourAvailable takes it).
  int NeighbourBlock(int bx, int by, int cur_order) const {
    int n;
    if (by >= 0) {
      if (bx >= 4) return -1;
      if (bx >= 0) return blk_order_[by * 4 + bx] < cur_order ? nb_base_ + by * mb_width_ * 4 + bx : -1;
      n = nb_[0];
    } else {
      n = nb_[bx < 0 ? 3 : (bx < 4 ? 1 : 2)];
    }
    return n >= 0 ? nb_base_ + by * mb_width_ * 4 + bx : -1;
  }

  // Motion vectors and direct prediction (H264Motion.cpp).
  void PredictMv(int mb_addr, int list, int bx, int by, int bw, int ref_idx, int shape, H264Mv& mvp);
  void PSkipMotion(int mb_addr);
  // Direct motion of the 8x8 sub-macroblocks in the mask `subs` (bit s for sub-macroblock s).
  void DirectMotion(int mb_addr, unsigned subs) {
    if (subs == 0xF && sh_.direct_spatial_mv_pred_flag) DirectSpatialMb(mb_addr);
    else DirectSubsMotion(mb_addr, subs);
  }
  void DirectSubsMotion(int mb_addr, unsigned subs);
  void DirectSpatialRefs(int mb_addr, int ref[2], H264Mv mvp[2]);
  // The 4x4 blocks in the motion data next to the whole macroblock, A (left), B (above) and C
  // (above right, else D above left), -1 when not available, and their macroblocks.
  void MbNeighbourBlocks(int mb_addr, int idx[3], int nb[3]) const {
    if (mb_addr != nb_addr_) return MbaffMbNeighbourBlocks(mb_addr, idx, nb);
    const int above = nb_base_ - mb_width_ * 4;
    idx[0] = nb_[0] >= 0 ? nb_base_ - 1 : -1;
    idx[1] = nb_[1] >= 0 ? above : -1;
    idx[2] = nb_[2] >= 0 ? above + 4 : (nb_[3] >= 0 ? above - 1 : -1);
    nb[0] = nb[1] = nb[2] = mb_addr;  // looked at in MBAFF frames only
  }
  void MbaffMbNeighbourBlocks(int mb_addr, int idx[3], int nb[3]) const;
  // Direct prediction (8.4.1.2): the co-located picture's layout against the macroblock, the
  // co-located block's motion, and the spatial and temporal derivation of one 4x4 block.
  struct Colocated;
  struct ColocatedMotion;
  Colocated ColocatedOf(int mb_addr) const;
  ColocatedMotion ColocatedBlock(const Colocated& c, int mb_addr, int cx, int cy) const;
  void DirectSubMotion(int mb_addr, int sub, const Colocated& c, bool spatial);
  // Direct motion of the size x size 4x4 blocks at (bx, by) that share co-located motion m.
  void DirectSpatialBlock(int mb_addr, int bx, int by, int size, bool col_zero);
  bool ColZero(const Colocated& c, const ColocatedMotion& m) const;
  int DirectTemporalRef0(int mb_addr, bool cur_field, int32_t col_ref_serial) const;
  void DirectTemporalBlock(int mb_addr, int bx, int by, int size, const Colocated& c, ColocatedMotion m);
  void StoreMotion(int mb_addr, int list, int bx, int by, int bw, int bh, int ref_idx, H264Mv mv);
  // Both lists' motion of a whole macroblock.
  void StoreMbMotion(int mb_addr, const int ref_idx[2], const H264Mv mv[2]);
  // Spatial direct motion of a whole macroblock (B_Skip, B_Direct_16x16).
  void DirectSpatialMb(int mb_addr);
  // colZeroFlag of the four corner blocks of a frame macroblock over a frame; false for
  // other layouts (ColocatedBlock finds their co-located blocks).
  bool ColocatedCornersZero(int mb_addr, bool zero[4]) const;
  // Only the reference index (the contexts of later partitions' ref_idx look at it).
  void StoreRefIdx(int mb_addr, int list, int bx, int by, int bw, int bh, int ref_idx);
  // Index of the 4x4 block holding the neighbouring luma location (xn, yn) in the motion
  // data and its macroblock, -1 when not available; and its reference index and vector.
  int NeighbourIndex(int mb_addr, int xn, int yn, int cur_order, int& nb_mb) const {
    nb_mb = mb_addr;
    if (mb_addr == nb_addr_) return NeighbourBlock(xn >> 2, yn >> 2, cur_order);
    return MbaffNeighbourIndex(mb_addr, xn, yn, cur_order, nb_mb);
  }
  // The general way, through the neighbouring location (MBAFF frames).
  int MbaffNeighbourIndex(int mb_addr, int xn, int yn, int cur_order, int& nb_mb) const;
  void NeighbourRef(int mb_addr, int nb_mb, int list, int idx, int& ref, H264Mv& mv) const {
    ref = ref_idx_[list][idx];
    mv = ref >= 0 ? mv_[list][idx] : H264Mv();
    if (!mbaff_) return;
    // Scaled through copies, so that the caller's variables need no address of their own.
    int scaled_ref = ref;
    H264Mv scaled_mv = mv;
    ScaleNeighbourMotion(mb_addr, nb_mb, scaled_ref, scaled_mv);
    ref = scaled_ref;
    mv = scaled_mv;
  }
  // Spatial direct motion when no list has reference 0 with a non-zero predictor: the
  // co-located blocks do not matter. Returns false when they do.
  bool DirectSpatialShared(int mb_addr, unsigned subs);
  // First 4x4 block of a macroblock in the motion data (the one of FindNeighbours without a
  // division).
  int MotionBase(int a) const { return a == nb_addr_ ? nb_base_ : BlockBase(a); }
  // The 4x4 block holding the neighbouring luma location (xn, yn) of a macroblock, available
  // when decoded (cur_order: decoding order of the current block inside the macroblock).
  bool NeighbourAvailable(int mb_addr, int xn, int yn, int cur_order, int& nb_mb, int& nb_blk) const;
  // A neighbour's reference index and vector as a macroblock of the other kind sees them in
  // MBAFF frames (field: half the vertical vector, twice the index; frame: the reverse).
  void ScaleNeighbourMotion(int mb_addr, int nb_mb, int& ref, H264Mv& mv) const;

  // Reconstruction and deblocking (H264Reconstruct.cpp).
  void ReconstructMacroblock(int mb_addr, MbParse& mb);
  void PredictIntraMb(int mb_addr, MbParse& mb);
  void PredictInterMb(int mb_addr);
  // Inter prediction of a macroblock's block of uniform motion (in 4x4 blocks), the sample
  // prediction from one list, and the prediction written from one or both lists (weighted
  // sample prediction, 8.4.2.3).
  struct InterMb;
  struct InterRef;
  struct InterBlock;
  void PredictInterBlock(const InterMb& m, int bx, int by, int bw, int bh);
  bool WholeSampleSources(const InterMb& m, const int refs[2], InterBlock& b) const;
  const InterRef& InterRefOf(const InterMb& m, int list, int ref_idx) const;
  template <bool kBi>
  void PredictFromList(const InterMb& m, int list, int ref_idx, InterBlock& b);
  // Asks the cache for the reference samples the next macroblocks will probably read.
  void PrefetchReference(const InterMb& m, int list);
  int ImplicitBiWeight(const InterMb& m, const int refs[2]) const;
  void WriteBiPrediction(const InterMb& m, const int refs[2], InterBlock& b);
  void WriteUniPrediction(const InterMb& m, int list, int ref_idx, InterBlock& b);
  void AddResidual(int mb_addr, MbParse& mb);
  void PredictIntraPlane(int mb_addr, MbParse& mb, int plane);
  void AddLumaLikeResidual(int mb_addr, MbParse& mb, int plane);
  void AddChromaResidual(int mb_addr, MbParse& mb);
  // Sample plane (0 Y, 1 Cb, 2 Cr) of the picture being decoded: a field is every other row
  // of its frame.
  uint8_t* PlaneBase(int plane) { return plane_base_[plane]; }
  int PlaneStride(int plane) const { return plane_stride_[plane]; }
  int FrameStride(int plane) const { return plane == 0 ? cur_->frame.LumaStride() : cur_->frame.ChromaStride(); }
  // Identifies a reference picture (a frame, or one field of it) in the motion data.
  int32_t RefId(int list, int ref_idx) const {
    const H264Picture* p = refs_.pic[list][ref_idx];
    return p ? p->serial * 4 + refs_.parity[list][ref_idx] : -1;
  }
  // Picture order count of a reference entry (the field's own in field pictures) and of the
  // picture being decoded.
  int32_t RefPoc(int list, int ref_idx) const {
    const H264Picture* p = refs_.pic[list][ref_idx];
    const int parity = refs_.parity[list][ref_idx];
    return parity == 1 ? p->poc_top : (parity == 2 ? p->poc_bottom : p->poc);
  }
  int32_t CurPoc() const { return field_ == 1 ? cur_poc_.top : (field_ == 2 ? cur_poc_.bottom : cur_->poc); }
  // Macroblock position in macroblocks (MBAFF frames number their macroblocks in pairs).
  int MbX(int a) const { return mbaff_ ? (a >> 1) % mb_width_ : a % mb_width_; }
  int MbY(int a) const { return mbaff_ ? (a >> 1) / mb_width_ * 2 + (a & 1) : a / mb_width_; }
  // Index of a macroblock's first 4x4 block in the motion data.
  int BlockBase(int a) const { return MbY(a) * 16 * mb_width_ + MbX(a) * 4; }
  bool FieldMb(int a) const;
  // First sample of macroblock a in a plane and the row step inside it (a field macroblock of
  // an MBAFF frame has every other row of its pair).
  uint8_t* MbPixels(int plane, int a, int& stride) {
    if (mbaff_) return MbaffPixels(plane, a, stride);
    stride = plane_stride_[plane];
    return plane_base_[plane] + mb_origin_[a][plane != 0];
  }
  uint8_t* MbaffPixels(int plane, int a, int& stride);
  // Sets plane_base_, plane_stride_ and mb_origin_ for the picture being decoded.
  void SetPictureLayout();
  // 6.4.12: the macroblock holding the neighbouring location (xN, yN) of macroblock a in a
  // plane of w x h macroblocks, and the location inside it; -1 when not available.
  int NeighbourLocation(int a, int xN, int yN, int w, int h, int& xW, int& yW) const;
  // The reference picture and field named by a macroblock's reference index: field
  // macroblocks of MBAFF frames count each frame of the list as two fields, the one of their
  // own parity first.
  const H264Picture* RefOf(int a, int list, int r, int& parity) const;
  int RefCount(int a, int list) const { return refs_.count[list] * (FieldMb(a) ? 2 : 1); }
  // Deblocking (H264DeblockStrength.cpp).
  void DeblockPicture();
  // Deblocks the macroblock row above the one mb_addr completes, while its data is still in
  // the cache (frame macroblocks only; every earlier row must be complete and deblocked).
  void DeblockRowAbove(int mb_addr);
  void DeblockMacroblock(int mb_addr);
  struct DeblockSamples;
  DeblockSamples DeblockSamplesOf(int mb_addr);
  void DeblockMacroblock(int mb_addr, const DeblockSamples& px);
  // A whole macroblock row of a picture without MBAFF pairs, from its first macroblock.
  void DeblockFrameRow(int first);
  struct DeblockNeighbours;
  DeblockNeighbours DeblockNeighboursOf(int mb_addr) const;
  // DeblockNeighboursOf in a picture without MBAFF pairs, x: the macroblock's column.
  DeblockNeighbours FrameDeblockNeighbours(int mb_addr, int x) const;
  // Whether the edge between macroblock q and its decoded neighbour nb (-1: none) is filtered.
  bool DeblockAcross(const MbInfo& q, int nb) const;
  // EdgeStrengths of an inter macroblock without coefficients whose 16 blocks move alike as
  // m, the first one at `base` (no MBAFF pairs): only its left and top edges can have
  // strengths. left_alike: the blocks of the left macroblock all move as m too.
  unsigned OuterEdgeStrengths(const H264MotionField& f, int mb_addr, int base, const DeblockNeighbours& n,
                              const DeblockRawMotion& m, bool left_alike, uint32_t bs[2][4]) const;
  // Filters the edges of a macroblock with the strengths of EdgeStrengths.
  void DeblockEdges(int mb_addr, const DeblockNeighbours& n, unsigned edges, const uint32_t bs[2][4],
                    const DeblockSamples& px);
  // The boundary strengths of a macroblock's edges: bs[dir][edge], byte k for lines
  // 4k..4k+3 (dir 0: vertical edges, 1: horizontal). Returns the edges with a strength above
  // 0 (bit dir * 4 + edge); bs is filled only when there are any.
  unsigned EdgeStrengths(int mb_addr, const DeblockNeighbours& n, uint32_t bs[2][4]) const;
  static unsigned DeblockLumaEdges(bool transform_8x8);
  unsigned DeblockChromaEdges(bool transform_8x8) const;
  // MBAFF edges between frame and field macroblocks, filtered line by line.
  void DeblockMixedLeft(int mb_addr, int left, const DeblockSamples& px);
  void DeblockTopPerField(int mb_addr, int top, const DeblockSamples& px);
  void GatherIntraNeighbours(int mb_addr, int plane, int x, int y, int w, int h, int blk_w, struct IntraNeighbours& n);
  bool MbAvailable(int mb_addr, int nb) const;

  bool length_prefixed_ = false;
  std::vector<uint8_t> rbsp_;     // unescaped NAL unit
  CH264Depacketizer depacketizer_;  // RTP payloads of length-prefixed input
  bool continuous_ = true;          // no packet lost before the next payload
  H264Picture* last_picture_ = nullptr;  // the picture finished last

  // Picture buffers.
  H264Dpb dpb_;
  uint32_t buf_width_mbs_ = 0, buf_height_mbs_ = 0;
  uint32_t buf_format_ = kPictureYuv420;
  bool buffers_ready_ = false;
  uint32_t max_picture_mbs_ = 0;
  uint32_t pictures_decoded_ = 0;
  uint32_t slice_errors_ = 0;
  uint32_t frame_number_ = 0;

  // The picture being decoded.
  H264Picture* cur_ = nullptr;
  H264SliceHeader cur_sh_;  // first slice of the picture
  H264Sps cur_sps_;
  H264PocState poc_state_;
  H264PocState::Result cur_poc_;
  bool cur_has_mmco5_ = false;
  int mb_width_ = 0, mb_height_ = 0, mb_count_ = 0;
  // ChromaArrayType of the picture (0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4), the chroma
  // macroblock size (MbWidthC x MbHeightC) and the number of components coded like luma.
  int chroma_format_ = 1;
  int mb_cw_ = 8, mb_ch_ = 8;
  int luma_planes_ = 1;
  bool bypass_allowed_ = false;  // qpprime_y_zero_transform_bypass_flag
  // Structure of the picture being decoded: 0 frame, 1 top field, 2 bottom field. A field is
  // decoded into its rows of the frame's picture record; its macroblock data (mbs_, the
  // motion views below) covers the field only.
  int field_ = 0;
  int frame_mb_height_ = 0;
  // MbaffFrameFlag of the picture: macroblocks in vertical pairs, each pair frame or field
  // coded (MbInfo::field).
  bool mbaff_ = false;
  // The macroblock being decoded is a field macroblock (of a field picture or an MBAFF frame).
  bool mb_field_ = false;
  int next_skip_ = -1;  // MBAFF CABAC: mb_skip_flag of a bottom macroblock read ahead
  // Coefficient scans of the picture (zig-zag for frames, field scans for fields).
  const uint8_t* scan4x4_ = nullptr;
  const uint8_t* scan8x8_ = nullptr;
  // Motion data of the picture being decoded (the frame's arrays, or a field's half).
  H264Mv* mv_[2] = {};
  int8_t* ref_idx_[2] = {};
  int32_t* ref_serial_[2] = {};
  uint8_t* mb_intra_ = nullptr;
  // Sample planes of the picture being decoded (a field's first row and row step in its
  // frame), and each macroblock's first luma and chroma sample in them as a frame macroblock.
  uint8_t* plane_base_[3] = {};
  int plane_stride_[3] = {};
  std::vector<std::array<uint32_t, 2>> mb_origin_;
  std::array<int, 6> mb_origin_key_ = {};  // the layout mb_origin_ was made for
  std::vector<MbInfo> mbs_;
  std::vector<SliceInfo> slices_;
  int mbs_decoded_ = 0;  // macroblocks of the picture with a record (slice >= 0)

  // The slice being decoded.
  H264SliceHeader sh_;
  const H264Pps* pps_cur_ = nullptr;
  int slice_kind_ = 0;
  int slice_num_ = 0;
  int qp_ = 0;
  bool prev_qp_delta_nonzero_ = false;
  H264RefLists refs_;
  // The motion data's view of each reference index, made once per slice: per list, kind of
  // macroblock (0 frame or field picture, 1 top and 2 bottom field macroblock of an MBAFF
  // frame) and index, the referenced picture's RefId and order count; -1 and 0 past the
  // list's end.
  struct RefEntry {
    int32_t serial = -1;
    int32_t poc = 0;
  };
  RefEntry ref_entry_[2][3][2 * kMaxRefIdx];
  // Every reference picture (or field) the slices of the picture (or field) being decoded
  // name, for the order counts of the macroblock records.
  std::vector<RefEntry> picture_refs_;
  void FillRefEntries();
  // Inter prediction's view of each reference index, made once per slice (FillInterRefs), by
  // list, kind of macroblock and index as ref_entry_: the first sample of each plane of the
  // frame or field (plane[0] null: no decoded picture), for 4:2:0 fields the correction of
  // the vertical chroma vector into the field of the other parity, in eighths, and whether
  // its explicit weights (if the slice has them) change a single prediction.
  struct InterRef {
    const uint8_t* plane[3] = {};
    int chroma_dy = 0;
    bool weighted = false;
  };
  InterRef inter_ref_[2][3][2 * kMaxRefIdx];
  void FillInterRefs();
  bool DefaultWeights(int list, int ref_idx) const;
  // Weighted prediction: per list and ref_idx (explicit), or per ref pair (implicit).
  int weight_mode_ = 0;  // 0 default, 1 explicit, 2 implicit
  int implicit_w_[kMaxRefIdx][kMaxRefIdx] = {};
  CabacEngine cabac_;
  // Dequantisation factors of the slice's scaling lists.
  H264LevelScales level_scales_;
  // Spatial direct predictors of the macroblock direct_cache_mb_ of picture
  // direct_cache_serial_.
  int direct_cache_mb_ = -1;
  int32_t direct_cache_serial_ = -1;
  int direct_cache_ref_[2] = {-1, -1};
  H264Mv direct_cache_mv_[2];
  // Temporary per-macroblock decoding order of its 4x4 blocks (for neighbour availability).
  uint8_t blk_order_[16] = {};
  // FindNeighbours' macroblock (-1: none, MBAFF), its neighbours A..D and first 4x4 block.
  int nb_addr_ = -1;
  int nb_[4] = {-1, -1, -1, -1};
  int nb_base_ = 0;
  int nb_slice_ = -1;        // the slice it was found for
  int nb_x_ = 0, nb_y_ = 0;  // its position in macroblocks
};

}  // namespace fennik
