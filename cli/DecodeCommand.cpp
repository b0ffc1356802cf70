#include "cli/DecodeCommand.h"

#include <cstdio>
#include <numeric>
#include <memory>
#include <vector>

#include "cli/CliArgs.h"
#include "codec/video/C264_Decode.h"
#include "h264/H264Nal.h"

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
