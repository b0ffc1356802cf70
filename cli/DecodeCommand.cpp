#include "cli/DecodeCommand.h"

#include <cstdio>
#include <numeric>
#include <memory>
#include <vector>

#include "cli/CliArgs.h"
#include "codec/video/C264_Decode.h"
#include "codec/video/H264Nal.h"

namespace fennik::cli {
namespace {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) data.insert(data.end(), buf, buf + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Writes the visible area of decoded pictures as Y4M frames in the pictures' own chroma
// format (4:2:0, 4:2:2 or 4:4:4; monochrome pictures carry flat 4:2:0 chroma).
class Y4mWriter {
 public:
  explicit Y4mWriter(std::FILE* out) : out_(out) {}
  bool Write(const CVideoFrame& frame, const H264Crop& crop, uint32_t fps_num, uint32_t fps_den) {
    if (width_ == 0) {
      width_ = crop.width;
      height_ = crop.height;
      format_ = frame.Format();
      const char* chroma = format_ == kPictureYuv444 ? "C444" : format_ == kPictureYuv422 ? "C422" : "C420jpeg";
      std::fprintf(out_, "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 %s\n", width_, height_, fps_num, fps_den, chroma);
    }
    if (crop.width != width_ || crop.height != height_ || frame.Format() != format_) {
      ++skipped_;
      return true;
    }
    std::fputs("FRAME\n", out_);
    const int ls = frame.LumaStride(), cs = frame.ChromaStride();
    for (uint32_t y = 0; y < height_; ++y) std::fwrite(frame.Y() + (crop.top + y) * ls + crop.left, 1, width_, out_);
    const uint32_t sx = format_ == kPictureYuv444 ? 0 : 1;  // chroma subsampling shifts
    const uint32_t sy = format_ == kPictureYuv420 ? 1 : 0;
    const uint32_t cw = (width_ + sx) >> sx, ch = (height_ + sy) >> sy;
    for (const uint8_t* plane : {frame.Cb(), frame.Cr()})
      for (uint32_t y = 0; y < ch; ++y)
        std::fwrite(plane + ((crop.top >> sy) + y) * cs + (crop.left >> sx), 1, cw, out_);
    ++written_;
    return !std::ferror(out_);
  }
  uint32_t Written() const { return written_; }
  uint32_t Skipped() const { return skipped_; }

 private:
  std::FILE* out_;
  uint32_t width_ = 0, height_ = 0, format_ = 0;
  uint32_t written_ = 0, skipped_ = 0;
};

}  // namespace

int DecodeH264ElementaryStream(const std::string& input_path, const std::string& output_path) {
  std::vector<uint8_t> data;
  if (!ReadWholeFile(input_path, data)) return Fail(kExitFailed, "Can't open file");
  std::FILE* out = output_path == "-" ? stdout : std::fopen(output_path.c_str(), "wb");
  if (out == nullptr) return Fail(kExitFailed, "Can't open " + output_path);
  auto decoder = std::make_unique<C264_Decode>();
  Y4mWriter writer(out);
  CVideoFrame frame;
  H264Crop crop;
  bool write_ok = true;
  auto drain = [&]() {
    uint32_t num = 25, den = 1;
    const H264Sps* sps = decoder->CurrentSps();
    if (sps != nullptr && sps->vui.timing_info_present_flag && sps->vui.num_units_in_tick != 0 &&
        sps->vui.time_scale != 0) {
      num = sps->vui.time_scale;
      den = 2 * sps->vui.num_units_in_tick;
      const uint32_t g = std::gcd(num, den);
      num /= g;
      den /= g;
    }
    while (decoder->GetNextPicture(frame, &crop)) write_ok = writer.Write(frame, crop, num, den) && write_ok;
  };
  for (const NalSpan& unit : SplitAnnexB(data.data(), data.size())) {
    decoder->DecodeNalUnit(data.data() + unit.offset, unit.size);
    drain();
  }
  decoder->Flush();
  drain();
  if (out != stdout) write_ok = std::fclose(out) == 0 && write_ok;
  if (!write_ok) return Fail(kExitFailed, "write error on " + output_path);
  if (writer.Skipped() > 0)
    std::fprintf(stderr, "fennik-cli: %u pictures of another size or chroma format left out\n", writer.Skipped());
  if (decoder->SliceErrors() > 0)
    std::fprintf(stderr, "fennik-cli: %u slices with errors\n", decoder->SliceErrors());
  if (writer.Written() == 0) return Fail(kExitFailed, "no picture decoded");
  return kExitOk;
}

int RunDecodeStream(const CliArgs& args);

int RunDecode(const CliArgs& args) {
  if (args.Has("--stream")) return RunDecodeStream(args);
  if (args.Positional().size() != 1 || !args.Has("-o")) {
    return Fail(kExitUsage, "usage: fennik-cli decode FILE.264 -o OUT.y4m");
  }
  return DecodeH264ElementaryStream(args.Positional()[0], *args.Get("-o"));
}

}  // namespace fennik::cli
