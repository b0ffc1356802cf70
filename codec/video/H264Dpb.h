// The decoded-picture buffer of the H.264 decoder: the picture records, reference picture
// marking (sliding window, memory_management_control_operation, IDR pictures, gaps in
// frame_num), reference picture list initialisation and modification, and the output order
// of decoded pictures by bumping (H.264 8.2.4, 8.2.5, C.4.5.3).
//
// Use per picture: IsSecondField / TakePicture / StartPicture, then BuildRefLists per P or B
// slice, then FinishPicture; decoded pictures come out through NextOutput / PopOutput.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/video/CVideoFrame.h"
#include "h264/H264Syntax.h"

namespace fennik {

struct H264Mv {
  int16_t x = 0;
  int16_t y = 0;
};

// Visible area of a decoded picture (frame cropping applied).
using H264Crop = VideoCrop;

// One decoded picture with its reference marking and the motion data that later pictures
// need (co-located motion for direct prediction).
struct H264Picture {
  CVideoFrame frame;
  bool used = false;  // holds a decoded picture
  bool short_ref = false;
  bool long_ref = false;
  bool needed_for_output = false;
  bool queued_for_output = false;
  int32_t poc = 0;
  int32_t poc_top = 0;     // TopFieldOrderCnt
  int32_t poc_bottom = 0;  // BottomFieldOrderCnt
  uint8_t fields = 0;      // decoded fields: 1 top, 2 bottom, 3 both (a frame)
  uint8_t ref_fields = 0;  // fields marked as reference while short_ref or long_ref is set
  bool field_coded = false;  // decoded as field pictures (motion data per field)
  uint32_t frame_num = 0;
  int32_t frame_num_wrap = 0;
  int32_t long_term_frame_idx = 0;
  int32_t serial = -1;  // unique per decoded picture, identifies it in motion data
  uint32_t stream_frame_number = 0;
  H264Crop crop;
  std::vector<H264Mv> mv[2];            // per 4x4 block
  std::vector<int8_t> ref_idx[2];       // per 4x4 block, -1 when the list is unused
  std::vector<int32_t> ref_serial[2];   // per 4x4 block, serial of the referenced picture
  std::vector<uint8_t> mb_intra;        // per macroblock
  std::vector<uint8_t> mb_field;        // per macroblock of an MBAFF frame: a field macroblock
  bool IsRef() const { return short_ref || long_ref; }
  // Motion data of `blocks` 4x4 blocks with no motion and no references, and `macroblocks`
  // intra macroblocks.
  void ClearMotion(size_t blocks, size_t macroblocks);
  // Room for the motion data of a picture about to be decoded, every macroblock marked intra:
  // motion is read only from macroblocks that were decoded, and decoding writes all of it.
  void PrepareMotion(size_t blocks, size_t macroblocks);
};

// The reference picture lists of a slice: per list and index the picture and, in field
// pictures, the field it stands for (1 top, 2 bottom; 0 in frame pictures).
struct H264RefLists {
  H264Picture* pic[2][kMaxRefIdx] = {};
  uint8_t parity[2][kMaxRefIdx] = {};
  int count[2] = {};  // num_ref_idx_lX_active_minus1 + 1 (0 for an unused list)
};

class H264Dpb {
 public:
  // DPB pictures for frames of `frame_mbs` macroblocks: the level's maximum DPB size
  // (Table A-1) over the frame size, at most 32, replaced by the VUI's
  // max_dec_frame_buffering when given; when that gives none, room for every reference frame
  // plus the picture being output.
  static int PicturesFor(const H264Sps* sps, uint32_t frame_mbs);
  // Sizes the buffer for a new sequence of the SPS (`sps` may be null): DPB pictures,
  // num_ref_frames and the number of pictures output may wait for reordering.
  void Configure(const H264Sps* sps, uint32_t frame_mbs);
  // Creates the picture records (their sample memory is allocated by the first user).
  // Pictures queued for output before stay available until taken.
  void Resize(int dpb_pictures, uint32_t num_ref_frames, uint32_t num_reorder);
  // Gives up every record (queued pictures stay until taken).
  void RetireAll();
  // Forgets every picture, its marking and the output queue; the records stay.
  void Reset();

  int Pictures() const { return dpb_pictures_; }

  // A field picture of `field` (1 top, 2 bottom) with this frame_num completes the waiting
  // first field of the opposite parity.
  bool IsSecondField(int field, uint32_t frame_num, bool idr) const;
  // Outputs a first field left without its second one. Returns true when a picture went to
  // output.
  bool ReleasePendingField();
  // 8.2.5.2: each frame_num missing between the previous reference picture and `frame_num`
  // becomes a short-term reference frame (the last max num_ref_frames of them), showing the
  // samples of the last reference picture.
  void FillFrameNumGap(uint32_t frame_num, uint32_t max_frame_num);
  // The record for the next picture: the waiting first field, or a free record (giving up
  // pictures waiting for output when none is free). Null when every record is a reference.
  H264Picture* TakePicture(bool second_field);
  // Makes `pic` the picture being decoded: a frame or first field (field 0, 1 top, 2 bottom)
  // gets its order counts, frame_num, serial and no marking; a second field joins its frame.
  void StartPicture(H264Picture* pic, int field, uint32_t frame_num, int32_t poc_top, int32_t poc_bottom,
                    bool second_field, uint32_t max_frame_num);
  // The initial reference lists of a P or B slice of the current picture (8.2.4.2), then
  // modified by its reordering commands (8.2.4.3). `cur_poc` is the order count of the current
  // frame or field. Entries the stream leaves empty repeat the first one. Returns false when
  // a list is empty.
  bool BuildRefLists(const H264SliceHeader& sh, int slice_kind, int32_t cur_poc, H264RefLists& out);
  // Completes the current picture: marks it with the marking of `sh` (8.2.5), closes the
  // output sequence on an IDR picture or memory_management_control_operation 5 (after which
  // the picture counts from `mmco5_poc` down to 0), and queues it for output unless it is a
  // first field waiting for its second. Returns true when a picture went to output.
  bool FinishPicture(const H264SliceHeader& sh, bool mmco5, int32_t mmco5_poc);
  // Queues pictures waiting for output in order count order while more than the reorder
  // depth wait (all of them with `flush_all`).
  void BumpOutput(bool flush_all);
  // The next picture in output order (null when none), and taking it off the queue.
  H264Picture* NextOutput() const { return output_queue_.empty() ? nullptr : output_queue_.front(); }
  void PopOutput();

 private:
  H264Picture* FindFreePicture();
  void MarkCurrent(const H264SliceHeader& sh);
  void SlidingWindow(const H264Picture* exclude);
  void ApplyMmco(const H264SliceHeader& sh);
  void ApplyMmcoOp(const H264MmcoOp& op, int32_t curr_pic_num);
  H264Picture* FindShortTerm(int32_t pic_num) const;
  // FrameNumWrap of the short-term references other than the current picture (8.2.4.1).
  void SetFrameNumWraps(uint32_t frame_num);
  void GatherReferences(bool for_fields, uint32_t frame_num, std::vector<H264Picture*>& shorts,
                        std::vector<H264Picture*>& longs);
  // Short-term reference frames in initial list order: P by descending FrameNumWrap; B list 0
  // those before the current order count (descending) then those after (ascending), list 1
  // the reverse.
  void OrderShortTerm(int slice_kind, int32_t cur_poc, std::vector<H264Picture*>& shorts,
                      std::vector<H264Picture*> order[2]) const;
  bool ReorderList(const H264SliceHeader& sh, int list, H264RefLists& out) const;
  // The reference a reordering command names by its picture number (long-term or not); the
  // last matching record when several do.
  H264Picture* FindForReordering(bool long_term, int32_t pic_num) const;
  // Field of a picture number in field decoding (the current parity for odd numbers) and
  // the frame it belongs to.
  uint8_t FieldOf(int32_t pic_num) const {
    return static_cast<uint8_t>(!field_ ? 3 : ((pic_num & 1) ? field_ : 3 - field_));
  }
  int32_t FrameKey(int32_t pic_num) const { return field_ ? pic_num >> 1 : pic_num; }

  std::vector<std::unique_ptr<H264Picture>> pool_;
  // Pictures of an earlier picture size still queued for output.
  std::vector<std::unique_ptr<H264Picture>> retired_;
  std::vector<H264Picture*> output_queue_;
  int dpb_pictures_ = 0;
  uint32_t num_ref_frames_ = 1;
  uint32_t num_reorder_ = 0;
  int32_t next_serial_ = 0;
  // The picture being decoded, its structure (0 frame, 1 top field, 2 bottom field) and
  // MaxFrameNum.
  H264Picture* current_ = nullptr;
  int field_ = 0;
  uint32_t max_frame_num_ = 16;
  uint32_t prev_ref_frame_num_ = 0;
  H264Picture* last_ref_ = nullptr;  // the reference picture decoded last
  // The first field of a frame waiting for its second field.
  H264Picture* pending_field_ = nullptr;
};

}  // namespace fennik
