#include "capture/H264PictureSize.h"

#include <vector>

#include "h264/H264Nal.h"
#include "h264/H264Syntax.h"

namespace fennik {

bool H264PictureSize(const uint8_t* nal, size_t length, uint32_t& width, uint32_t& height) {
  if (length < 4 || NalTypeOf(nal[0]) != kNalSps) return false;
  std::vector<uint8_t> rbsp(length - 1);
  rbsp.resize(UnescapeRbsp(nal + 1, length - 1, rbsp.data(), rbsp.size()));
  H264Sps sps;
  if (!ParseSps(rbsp.data(), rbsp.size(), sps) || sps.VisibleWidth() == 0 || sps.VisibleHeight() == 0) return false;
  width = sps.VisibleWidth();
  height = sps.VisibleHeight();
  return true;
}

bool H264PictureSizeInStream(const uint8_t* data, size_t length, uint32_t& width, uint32_t& height) {
  for (const NalSpan& unit : SplitAnnexB(data, length)) {
    if (unit.size > 0 && NalTypeOf(data[unit.offset]) == kNalSps &&
        H264PictureSize(data + unit.offset, unit.size, width, height))
      return true;
  }
  return false;
}

}  // namespace fennik
