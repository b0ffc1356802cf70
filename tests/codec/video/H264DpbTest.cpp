// H264Dpb driven directly with hand-made slice headers: reference marking (sliding window,
// memory_management_control_operation 1-6, IDR), frame_num gaps, initial P and B reference
// lists, reordering commands and output order. MaxFrameNum is 16 throughout.
#include <gtest/gtest.h>

#include <vector>

#include "codec/video/H264Dpb.h"

namespace fennik {
namespace {

constexpr uint32_t kMaxFrameNum = 16;

H264SliceHeader Slice(uint32_t frame_num, bool ref = true, bool idr = false) {
  H264SliceHeader sh;
  sh.frame_num = frame_num;
  sh.nal_ref_idc = ref ? 1 : 0;
  sh.nal_unit_type = idr ? 5 : 1;
  return sh;
}

// Adds memory_management_control_operation `op` with its one argument (difference of picture
// numbers minus 1, long-term picture number, long-term frame index or maximum index plus 1).
void AddMmco(H264SliceHeader& sh, uint32_t op, uint32_t arg = 0, uint32_t long_term_frame_idx = 0) {
  H264MmcoOp& m = sh.mmco[sh.mmco_count++];
  m.memory_management_control_operation = op;
  m.difference_of_pic_nums_minus1 = arg;
  m.long_term_pic_num = arg;
  m.max_long_term_frame_idx_plus1 = arg;
  m.long_term_frame_idx = op == 3 ? long_term_frame_idx : arg;
  sh.adaptive_ref_pic_marking_mode_flag = true;
  sh.has_mmco5 = sh.has_mmco5 || op == 5;
}

class H264DpbTest : public ::testing::Test {
 protected:
  // Starts a frame or field (1 top, 2 bottom) picture the way the decoder does.
  H264Picture* Start(const H264SliceHeader& sh, int32_t poc, int field = 0) {
    const bool second = dpb_.IsSecondField(field, sh.frame_num, sh.IsIdr());
    if (!second) dpb_.ReleasePendingField();
    if (!second && !sh.IsIdr()) dpb_.FillFrameNumGap(sh.frame_num, kMaxFrameNum);
    H264Picture* pic = dpb_.TakePicture(second);
    EXPECT_NE(pic, nullptr);
    if (!pic->frame.IsAllocated()) {
      EXPECT_TRUE(pic->frame.Allocate(16, 16, kPictureYuv420));
    }
    dpb_.StartPicture(pic, field, sh.frame_num, poc, poc, second, kMaxFrameNum);
    return pic;
  }
  H264Picture* Decode(const H264SliceHeader& sh, int32_t poc, int field = 0) {
    H264Picture* pic = Start(sh, poc, field);
    dpb_.FinishPicture(sh, sh.has_mmco5, poc);
    return pic;
  }
  // List `list` of a slice of a new picture (decoded with it), as frame_num or POC per entry.
  std::vector<int32_t> List(const H264SliceHeader& sh, int kind, int32_t poc, int list, bool by_poc = false) {
    Start(sh, poc);
    H264RefLists lists;
    EXPECT_TRUE(dpb_.BuildRefLists(sh, kind, poc, lists));
    std::vector<int32_t> out;
    for (int i = 0; i < lists.count[list]; ++i)
      out.push_back(by_poc ? lists.pic[list][i]->poc : static_cast<int32_t>(lists.pic[list][i]->frame_num));
    dpb_.FinishPicture(sh, false, poc);
    return out;
  }
  std::vector<int32_t> TakeOutput() {
    std::vector<int32_t> pocs;
    for (H264Picture* p = dpb_.NextOutput(); p != nullptr; p = dpb_.NextOutput()) {
      pocs.push_back(p->poc);
      dpb_.PopOutput();
    }
    return pocs;
  }
  H264Dpb dpb_;
};

TEST_F(H264DpbTest, SlidingWindowDropsTheLowestFrameNumWrapAcrossTheWrap) {
  dpb_.Resize(6, 3, 0);
  H264Picture* p13 = Decode(Slice(13), 0);
  H264Picture* p14 = Decode(Slice(14), 2);
  H264Picture* p15 = Decode(Slice(15), 4);
  H264Picture* p0 = Decode(Slice(0), 6);
  EXPECT_FALSE(p13->IsRef());
  Decode(Slice(1, false), 7);  // a non-reference picture moves no window
  EXPECT_TRUE(p14->short_ref);
  H264Picture* p1 = Decode(Slice(1), 8);  // frame_num 14 has FrameNumWrap -2: the oldest
  EXPECT_FALSE(p14->IsRef());
  EXPECT_TRUE(p15->short_ref && p0->short_ref && p1->short_ref);
}

TEST_F(H264DpbTest, MmcoUnmarksAndTurnsPicturesLongTerm) {
  dpb_.Resize(8, 4, 0);
  H264Picture* p[6];
  p[0] = Decode(Slice(0, true, true), 0);
  for (uint32_t n = 1; n < 4; ++n) p[n] = Decode(Slice(n), static_cast<int32_t>(2 * n));
  H264SliceHeader sh = Slice(4);
  AddMmco(sh, 1, 2);     // picNumX 4 - 3 = 1: no longer a reference
  AddMmco(sh, 3, 0, 0);  // picNumX 3 becomes long-term index 0
  AddMmco(sh, 6, 1);     // the current picture becomes long-term index 1
  p[4] = Decode(sh, 8);
  EXPECT_FALSE(p[1]->IsRef());
  EXPECT_TRUE(p[3]->long_ref && !p[3]->short_ref && p[3]->long_term_frame_idx == 0);
  EXPECT_TRUE(p[4]->long_ref && !p[4]->short_ref && p[4]->long_term_frame_idx == 1);
  EXPECT_TRUE(p[0]->short_ref && p[2]->short_ref);
  sh = Slice(5);
  AddMmco(sh, 3, 2, 1);  // picNumX 2 takes index 1 from the picture holding it
  AddMmco(sh, 2, 0);     // long-term picture number 0 no longer a reference
  p[5] = Decode(sh, 10);
  EXPECT_TRUE(p[2]->long_ref && p[2]->long_term_frame_idx == 1);
  EXPECT_FALSE(p[4]->IsRef());
  EXPECT_FALSE(p[3]->IsRef());
  sh = Slice(6);
  AddMmco(sh, 4, 1);  // long-term indices from 1 up are dropped
  Decode(sh, 12);
  EXPECT_FALSE(p[2]->IsRef());
  EXPECT_TRUE(p[0]->short_ref && p[5]->short_ref);
}

TEST_F(H264DpbTest, IdrAndMmco5EndTheSequence) {
  dpb_.Resize(8, 4, 3);
  H264Picture* p0 = Decode(Slice(0, true, true), 0);
  H264Picture* p1 = Decode(Slice(1), 8);
  Decode(Slice(2, false), 4);
  EXPECT_TRUE(TakeOutput().empty());  // three pictures fit the reorder depth
  H264SliceHeader sh = Slice(2);
  AddMmco(sh, 5);
  H264Picture* p5 = Decode(sh, 20);
  EXPECT_FALSE(p0->IsRef() || p1->IsRef());
  EXPECT_EQ(p5->frame_num, 0u);
  EXPECT_EQ(p5->poc, 0);
  EXPECT_EQ(TakeOutput(), (std::vector<int32_t>{0, 4, 8}));
  // frame_num restarts at 0 after the operation: 1 follows without a gap.
  H264Picture* p6 = Decode(Slice(1), 2);
  EXPECT_TRUE(p5->short_ref && p6->short_ref);
  // An IDR picture marked long-term drops every other reference; the pictures waiting are
  // still output although no_output_of_prior_pics_flag is set, as reference decoders do.
  sh = Slice(0, true, true);
  sh.long_term_reference_flag = true;
  sh.no_output_of_prior_pics_flag = true;
  H264Picture* idr = Decode(sh, 0);
  EXPECT_FALSE(p5->IsRef() || p6->IsRef());
  EXPECT_TRUE(idr->long_ref && idr->long_term_frame_idx == 0);
  EXPECT_EQ(TakeOutput(), (std::vector<int32_t>{0, 2}));
}

TEST_F(H264DpbTest, PListsShortTermByFrameNumWrapThenLongTermByIndex) {
  dpb_.Resize(8, 5, 0);
  Decode(Slice(14), 0);
  H264SliceHeader sh = Slice(15);
  AddMmco(sh, 3, 0, 1);  // frame_num 14 becomes long-term index 1
  Decode(sh, 2);
  Decode(Slice(0), 4);
  sh = Slice(1);
  AddMmco(sh, 6, 0);  // long-term index 0
  Decode(sh, 6);
  sh = Slice(2);
  sh.num_ref_idx_l0_active_minus1 = 4;  // one entry more than there are references
  EXPECT_EQ(List(sh, kSliceP, 8, 0), (std::vector<int32_t>{0, 15, 1, 14, 0}));
}

TEST_F(H264DpbTest, BListsByOrderCountAroundTheCurrentPicture) {
  dpb_.Resize(8, 4, 4);
  Decode(Slice(0, true, true), 0);
  Decode(Slice(1), 16);
  Decode(Slice(2), 8);
  Decode(Slice(3), 4);
  H264SliceHeader sh = Slice(4, false);
  sh.num_ref_idx_l0_active_minus1 = sh.num_ref_idx_l1_active_minus1 = 3;
  EXPECT_EQ(List(sh, kSliceB, 12, 0, true), (std::vector<int32_t>{8, 4, 0, 16}));
  EXPECT_EQ(List(sh, kSliceB, 12, 1, true), (std::vector<int32_t>{16, 8, 4, 0}));
  // Every reference before the current picture: list 1 would equal list 0, so its first two
  // entries change places.
  EXPECT_EQ(List(sh, kSliceB, 20, 1, true), (std::vector<int32_t>{8, 16, 4, 0}));
}

TEST_F(H264DpbTest, FieldPairsListAndUnmarkFieldByField) {
  dpb_.Resize(8, 4, 4);
  H264Picture* f0 = Decode(Slice(0, true, true), 0, 1);
  EXPECT_EQ(Decode(Slice(0), 1, 2), f0);  // the bottom field joins its frame
  H264Picture* f1 = Decode(Slice(1), 4, 1);
  Decode(Slice(1), 5, 2);
  H264Picture* f2 = Decode(Slice(2), 8, 1);
  EXPECT_EQ(f0->ref_fields, 3);
  // The second (bottom) field: the frames by FrameNumWrap (its own first field included),
  // their fields alternating from the bottom parity; a frame without the parity due is
  // passed over for it.
  H264SliceHeader sh = Slice(2);
  sh.num_ref_idx_l0_active_minus1 = 4;
  EXPECT_EQ(Start(sh, 9, 2), f2);
  H264RefLists lists;
  ASSERT_TRUE(dpb_.BuildRefLists(sh, kSliceP, 9, lists));
  const H264Picture* pics[] = {f1, f2, f0, f1, f0};
  const uint8_t parities[] = {2, 1, 2, 1, 1};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(lists.pic[0][i], pics[i]) << i;
    EXPECT_EQ(lists.parity[0][i], parities[i]) << i;
  }
  // Field picture numbers: CurrPicNum 2 * 2 + 1; frame 0's top field (the other parity) is
  // 2 * 0, so difference_of_pic_nums_minus1 4 unmarks it and leaves the bottom field.
  AddMmco(sh, 1, 4);
  dpb_.FinishPicture(sh, false, 8);
  EXPECT_EQ(f0->ref_fields & f0->fields, 2);
  EXPECT_TRUE(f0->short_ref && f2->short_ref);
}

TEST_F(H264DpbTest, ReorderingCommandsMovePicturesToTheFront) {
  dpb_.Resize(8, 4, 0);
  Decode(Slice(0, true, true), 0);
  H264SliceHeader sh = Slice(1);
  AddMmco(sh, 3, 0, 5);  // frame_num 0 becomes long-term index 5
  Decode(sh, 2);
  Decode(Slice(2), 4);
  Decode(Slice(3), 6);
  sh = Slice(4);
  sh.num_ref_idx_l0_active_minus1 = 3;
  sh.ref_pic_list_reordering_flag[0] = true;
  sh.reordering[0] = {{2, 5},   // long-term picture number 5 first
                      {0, 1},   // then picture number 4 - 2 = 2
                      {0, 9}};  // names no picture in the buffer: passed over
  EXPECT_EQ(List(sh, kSliceP, 8, 0), (std::vector<int32_t>{0, 2, 3, 1}));
}

TEST_F(H264DpbTest, OutputInOrderCountAfterTheReorderDepth) {
  dpb_.Resize(6, 4, 2);
  const int32_t pocs[] = {0, 8, 4, 2, 6, 16, 12};
  const bool ref[] = {true, true, true, false, false, true, false};
  uint32_t frame_num = 0;
  std::vector<int32_t> out;
  for (int i = 0; i < 7; ++i) {
    Decode(Slice(frame_num, ref[i], i == 0), pocs[i]);
    if (ref[i]) frame_num = (frame_num + 1) % kMaxFrameNum;
    const std::vector<int32_t> now = TakeOutput();
    EXPECT_EQ(now.size(), i < 2 ? 0u : 1u) << "picture " << i;
    out.insert(out.end(), now.begin(), now.end());
  }
  dpb_.BumpOutput(true);
  const std::vector<int32_t> rest = TakeOutput();
  out.insert(out.end(), rest.begin(), rest.end());
  EXPECT_EQ(out, (std::vector<int32_t>{0, 2, 4, 6, 8, 12, 16}));
}

TEST_F(H264DpbTest, FrameNumGapBecomesShortTermFrames) {
  dpb_.Resize(8, 3, 0);
  H264Picture* idr = Decode(Slice(0, true, true), 0);
  EXPECT_EQ(List(Slice(3), kSliceP, 6, 0), (std::vector<int32_t>{2}));  // 1 and 2 filled
  // Only the last num_ref_frames missing frames are filled, none of them for output.
  H264SliceHeader sh = Slice(10);
  sh.num_ref_idx_l0_active_minus1 = 2;
  const std::vector<int32_t> list = List(sh, kSliceP, 20, 0);
  EXPECT_EQ(list, (std::vector<int32_t>{9, 8, 7}));
  EXPECT_FALSE(idr->IsRef());
  EXPECT_EQ(TakeOutput(), (std::vector<int32_t>{0, 6, 20}));
}

}  // namespace
}  // namespace fennik
