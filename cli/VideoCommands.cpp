// fennik-cli frames, show --stream ID --frame K and decode --stream ID for video streams:
// the frame list, one frame's summary and syntax tree, every decoded picture as Y4M, or
// one picture (random access) as PPM.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "cli/CaptureSession.h"
#include "cli/DecodeCommand.h"
#include "codec/video/C263_Parser.h"
#include "codec/video/C264_Parser.h"
#include "codec/video/CM4V_Parser.h"
#include "codec/video/H264Views.h"
#include "codec/video/M4VViews.h"
#include "view/CFieldTree.h"
#include "view/NumberFormat.h"

namespace fennik::cli {
namespace {

C264_Parser* AsH264(CAvStream* object) { return dynamic_cast<C264_Parser*>(object); }
CM4V_Parser* AsMpeg4(CAvStream* object) { return dynamic_cast<CM4V_Parser*>(object); }

int PrintMpeg4FramesJson(CM4V_Parser& stream) {
  std::printf("[");
  const uint64_t count = stream.Frames().GetCount();
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t address;
    FrameEntry e;
    stream.Frames().Get(i, &address, &e);
    const M4vFrameFields f = M4vFields(e);
    std::printf("%s\n  {\"index\": %" PRIu64 ", \"address\": %" PRIu64 ", \"size\": %u, \"packet\": %u, "
                "\"timestamp\": %" PRIu64 ", \"type\": \"%s\", \"ref\": %s, \"random_access\": %s, "
                "\"random_access_index\": %u}",
                i == 0 ? "" : ",", i, address + e.frameOffset, e.size, e.packetNumber, e.timestamp,
                M4vPictureTypeText(f.flags), f.flags & kM4vReference ? "true" : "false",
                f.flags & kM4vRandomAccess ? "true" : "false", f.randomAccessIndex);
  }
  std::printf("%s]\n", count == 0 ? "" : "\n");
  return kExitOk;
}

int PrintFramesJson(C264_Parser& stream) {
  std::printf("[");
  const uint64_t count = stream.Frames().GetCount();
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t address;
    FrameEntry e;
    stream.Frames().Get(i, &address, &e);
    const H264FrameFields f = H264Fields(e);
    std::printf("%s\n  {\"index\": %" PRIu64 ", \"address\": %" PRIu64 ", \"size\": %u, \"packet\": %u, "
                "\"timestamp\": %" PRIu64 ", \"frame_num\": %u, \"poc\": %d, \"type\": \"%s\", \"idr\": %s, "
                "\"ref\": %s, \"structure\": \"%s\", \"sps\": %s, \"pps\": %s, \"random_access\": %s, "
                "\"random_access_index\": %u}",
                i == 0 ? "" : ",", i, address + e.frameOffset, e.size, e.packetNumber, e.timestamp, f.frameNum,
                f.poc, H264PictureTypeText(f.flags), f.flags & kH264Idr ? "true" : "false",
                f.flags & kH264Reference ? "true" : "false", H264StructureText(f.flags),
                f.flags & kH264SpsBefore ? "true" : "false", f.flags & kH264PpsBefore ? "true" : "false",
                f.flags & kH264RandomAccess ? "true" : "false", f.randomAccessIndex);
  }
  std::printf("%s]\n", count == 0 ? "" : "\n");
  return kExitOk;
}

// Frame rate for Y4M headers: the SPS's VUI timing, else the stream's own rate.
void FrameRate(C264_Parser& stream, uint32_t& num, uint32_t& den) {
  uint32_t duration = 0;
  stream.GetFrameRate(num, den, duration);
  const H264Sps* sps = stream.Decoder().CurrentSps();
  if (sps != nullptr && sps->vui.timing_info_present_flag && sps->vui.num_units_in_tick != 0 && sps->vui.time_scale != 0) {
    num = sps->vui.time_scale;
    den = 2 * sps->vui.num_units_in_tick;
  }
  const uint32_t g = std::gcd(num, den);
  if (g != 0) num /= g, den /= g;
}

// One picture through the RGB conversion, its visible area as a binary PPM.
bool WritePpm(const std::string& path, const CVideoFrame& frame, const H264Crop& crop) {
  std::vector<uint32_t> rgb(size_t{frame.Width()} * frame.Height());
  frame.ConvertToRgb(rgb.data(), 0);
  std::FILE* out = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  std::fprintf(out, "P6\n%u %u\n255\n", crop.width, crop.height);
  std::vector<uint8_t> row(size_t{crop.width} * 3);
  for (uint32_t y = 0; y < crop.height; ++y) {
    const uint32_t* src = rgb.data() + size_t{crop.top + y} * frame.Width() + crop.left;
    for (uint32_t x = 0; x < crop.width; ++x) {
      row[3 * x] = static_cast<uint8_t>(src[x] >> 16);     // red
      row[3 * x + 1] = static_cast<uint8_t>(src[x] >> 8);  // green
      row[3 * x + 2] = static_cast<uint8_t>(src[x]);       // blue
    }
    std::fwrite(row.data(), 1, row.size(), out);
  }
  const bool ok = !std::ferror(out);
  return (out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0) && ok;
}

C263_Parser* AsH263(CAvStream* object) { return dynamic_cast<C263_Parser*>(object); }

// The H.263 frame list: "No.", "ADDRESS", "SIZE", "IPB", "tr", or one JSON object per frame.
int PrintH263Frames(C263_Parser& stream, bool json) {
  const uint64_t count = stream.Frames().GetCount();
  if (!json) std::printf("%14s%14s%11s%6s%6s\n", "No.", "ADDRESS", "SIZE", "IPB", "tr");
  else std::printf("[");
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t address;
    FrameEntry e;
    stream.Frames().Get(i, &address, &e);
    const H263FrameFields f = GetCodecFields<H263FrameFields>(e);
    if (json) {
      std::printf("%s\n  {\"index\": %" PRIu64 ", \"address\": %" PRIu64 ", \"size\": %u, \"packet\": %u, "
                  "\"timestamp\": %" PRIu64 ", \"type\": \"%s\", \"tr\": %u, \"reference\": %s}",
                  i == 0 ? "" : ",", i, address + e.frameOffset, e.size, e.packetNumber, e.timestamp,
                  H263PictureTypeText(f.flags), f.temporalReference, f.flags & kH263Reference ? "true" : "false");
    } else {
      std::printf("%14s  0x%010llX%11s%6s%6s\n", (std::string(5, ' ') + std::to_string(i)).c_str(),
                  static_cast<unsigned long long>(address + e.frameOffset), FormatDecimalUnsigned(e.size, 9).c_str(),
                  H263PictureTypeText(f.flags), std::to_string(f.temporalReference).c_str());
    }
  }
  if (json) std::printf("%s]\n", count == 0 ? "" : "\n");
  return kExitOk;
}

// Every H.263 picture as Y4M (15 frames per second, the stream's rate), or frame K as PPM.
int DecodeH263(const CliArgs& args, C263_Parser& stream) {
  const auto out = args.Get("-o");
  if (!out) return Fail(kExitUsage, "-o OUT.y4m (or with --frame K, -o OUT.ppm) is required");
  const uint64_t count = stream.Frames().GetCount();
  stream.AttachView(nullptr);
  CVideoFrame frame;
  auto crop = [](const CVideoFrame& f) { return H264Crop{0, 0, f.Width(), f.Height()}; };
  if (args.Has("--frame")) {
    int64_t k = -1;
    if (!args.GetInt("--frame", k)) return Fail(kExitUsage, "--frame K needs a number");
    if (k < 0 || static_cast<uint64_t>(k) >= count) {
      return Fail(kExitFailed, "frame " + *args.Get("--frame") + " does not exist (the stream has " +
                                   std::to_string(count) + " frames)");
    }
    if (!stream.GetFramePicture(static_cast<uint32_t>(k), frame)) return Fail(kExitFailed, "no picture decoded");
    if (!WritePpm(*out, frame, crop(frame))) return Fail(kExitFailed, "Can't write file: " + *out);
    return kExitOk;
  }
  std::FILE* file = *out == "-" ? stdout : std::fopen(out->c_str(), "wb");
  if (file == nullptr) return Fail(kExitFailed, "Can't write file: " + *out);
  Y4mWriter writer(file);
  bool ok = true;
  uint32_t num = 15, den = 1, duration = 0;
  stream.GetFrameRate(num, den, duration);
  const uint32_t g = std::gcd(num, den);
  if (g != 0) num /= g, den /= g;
  for (uint64_t i = 0; i < count; ++i) {
    stream.DecodeFrame(static_cast<uint32_t>(i));
    while (stream.GetNextPicture(frame)) ok = writer.Write(frame, crop(frame), num, den) && ok;
  }
  if (file != stdout) ok = std::fclose(file) == 0 && ok;
  if (!ok) return Fail(kExitFailed, "write failed: " + *out);
  if (writer.Written() == 0) return Fail(kExitFailed, "no picture decoded");
  return kExitOk;
}

}  // namespace

int PrintList(const CListSource& list, int language);

int RunVideoFrames(const CliArgs& args, CAvStream* object, int language) {
  if (C263_Parser* h263 = AsH263(object)) return PrintH263Frames(*h263, args.Has("--json"));
  if (CM4V_Parser* mpeg4 = AsMpeg4(object)) {
    if (args.Has("--json")) return PrintMpeg4FramesJson(*mpeg4);
    CView_Mp4vList list(*mpeg4);
    return PrintList(list, language);
  }
  C264_Parser* stream = AsH264(object);
  if (stream == nullptr) return Fail(kExitFailed, "frame lists of this video codec are not available yet");
  if (args.Has("--json")) return PrintFramesJson(*stream);
  CView_264List list(*stream);
  return PrintList(list, language);
}

int RunVideoShowFrame(CAvStream* object, uint32_t index, int language) {
  CVideo_Stream* stream = AsH264(object);
  if (stream == nullptr) stream = AsH263(object);
  if (stream == nullptr) stream = AsMpeg4(object);
  if (stream == nullptr) return Fail(kExitFailed, "frame fields of this video codec are not available yet");
  CFieldTree tree(language);
  stream->ShowFrameInfo(tree, index);
  stream->ShowFrameDetail(tree, index);
  std::fputs(RenderText(tree.Rows()).c_str(), stdout);
  return kExitOk;
}

// Every picture of the stream in output order as Y4M, or with --frame K the picture of frame
// K (decoded through the random-access walk) as PPM.
int RunVideoDecode(const CliArgs& args, CAvStream* object) {
  if (C263_Parser* h263 = AsH263(object)) return DecodeH263(args, *h263);
  C264_Parser* stream = AsH264(object);
  if (stream == nullptr) return Fail(kExitFailed, "decoding this video codec from captures is not available yet");
  const auto out = args.Get("-o");
  if (!out) return Fail(kExitUsage, "-o OUT.y4m (or with --frame K, -o OUT.ppm) is required");
  const uint64_t count = stream->Frames().GetCount();
  stream->AttachView(nullptr);
  CVideoFrame frame;
  if (args.Has("--frame")) {
    int64_t k = -1;
    if (!args.GetInt("--frame", k)) return Fail(kExitUsage, "--frame K needs a number");
    if (k < 0 || static_cast<uint64_t>(k) >= count) {
      return Fail(kExitFailed, "frame " + *args.Get("--frame") + " does not exist (the stream has " +
                                   std::to_string(count) + " frames)");
    }
    if (!stream->GetFramePicture(static_cast<uint32_t>(k), frame)) return Fail(kExitFailed, "no picture decoded");
    if (!WritePpm(*out, frame, stream->Crop())) return Fail(kExitFailed, "Can't write file: " + *out);
    return kExitOk;
  }
  std::FILE* file = *out == "-" ? stdout : std::fopen(out->c_str(), "wb");
  if (file == nullptr) return Fail(kExitFailed, "Can't write file: " + *out);
  Y4mWriter writer(file);
  bool ok = true;
  uint32_t num = 15, den = 1;
  auto drain = [&] {
    FrameRate(*stream, num, den);
    while (stream->GetNextPicture(frame)) ok = writer.Write(frame, stream->Crop(), num, den) && ok;
  };
  for (uint64_t i = 0; i < count; ++i) {
    stream->DecodeFrame(static_cast<uint32_t>(i));
    drain();
  }
  stream->FlushPictures();
  drain();
  if (file != stdout) ok = std::fclose(file) == 0 && ok;
  if (!ok) return Fail(kExitFailed, "write failed: " + *out);
  if (writer.Skipped() > 0)
    std::fprintf(stderr, "fennik-cli: %u pictures of another size or chroma format left out\n", writer.Skipped());
  if (stream->Decoder().SliceErrors() > 0)
    std::fprintf(stderr, "fennik-cli: %u slices with errors\n", stream->Decoder().SliceErrors());
  if (writer.Written() == 0) return Fail(kExitFailed, "no picture decoded");
  return kExitOk;
}

}  // namespace fennik::cli
