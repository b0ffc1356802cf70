// Macroblock layer parsing with CABAC (H.264 7.3.5, 9.3).
#include "base/DebugPrint.h"
#include "codec/video/H264DecodeInternal.h"

namespace fennik {

bool C264_Decode::ParseMacroblockCabac(int, MbParse&) {
  DebugPrint("[H.264] CABAC not supported\n");
  return false;
}

}  // namespace fennik
