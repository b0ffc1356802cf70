// fennik-cli frames, show --stream ID --frame K and decode --stream ID for video streams:
// the frame list, one frame's summary and syntax tree, every decoded picture as Y4M, or
// one picture (random access) as PPM.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <functional>
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

// A video stream's frame list as JSON: per frame the fields every frame entry has, then the
// codec's own (`codecFields` returns them as `"name": value` pairs, each led by ", ").
int PrintFramesJson(CVideo_Stream& stream, const std::function<std::string(const FrameEntry&)>& codecFields) {
  std::printf("[");
  const uint64_t count = stream.Frames().GetCount();
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t address;
    FrameEntry e;
    stream.Frames().Get(i, &address, &e);
    std::printf("%s\n  {\"index\": %" PRIu64 ", \"address\": %" PRIu64 ", \"size\": %u, \"packet\": %u, "
                "\"timestamp\": %" PRIu64 "%s}",
                i == 0 ? "" : ",", i, address + e.frameOffset, e.size, e.packetNumber, e.timestamp,
                codecFields(e).c_str());
  }
  std::printf("%s]\n", count == 0 ? "" : "\n");
  return kExitOk;
}

std::string Bool(bool value) { return value ? "true" : "false"; }
std::string Text(const char* value) { return std::string("\"") + value + "\""; }

std::string Mpeg4JsonFields(const FrameEntry& e) {
  const M4vFrameFields f = M4vFields(e);
  return ", \"type\": " + Text(M4vPictureTypeText(f.flags)) + ", \"ref\": " + Bool(f.flags & kM4vReference) +
         ", \"random_access\": " + Bool(f.flags & kM4vRandomAccess) +
         ", \"random_access_index\": " + std::to_string(f.randomAccessIndex);
}

std::string H264JsonFields(const FrameEntry& e) {
  const H264FrameFields f = H264Fields(e);
  return ", \"frame_num\": " + std::to_string(f.frameNum) + ", \"poc\": " + std::to_string(f.poc) +
         ", \"type\": " + Text(H264PictureTypeText(f.flags)) + ", \"idr\": " + Bool(f.flags & kH264Idr) +
         ", \"ref\": " + Bool(f.flags & kH264Reference) + ", \"structure\": " + Text(H264StructureText(f.flags)) +
         ", \"sps\": " + Bool(f.flags & kH264SpsBefore) + ", \"pps\": " + Bool(f.flags & kH264PpsBefore) +
         ", \"random_access\": " + Bool(f.flags & kH264RandomAccess) +
         ", \"random_access_index\": " + std::to_string(f.randomAccessIndex);
}

std::string H263JsonFields(const FrameEntry& e) {
  const H263FrameFields f = GetCodecFields<H263FrameFields>(e);
  return ", \"type\": " + Text(H263PictureTypeText(f.flags)) + ", \"tr\": " + std::to_string(f.temporalReference) +
         ", \"reference\": " + Bool(f.flags & kH263Reference);
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

// The H.263 frame list: "No.", "ADDRESS", "SIZE", "IPB", "tr".
int PrintH263Frames(C263_Parser& stream) {
  const uint64_t count = stream.Frames().GetCount();
  std::printf("%14s%14s%11s%6s%6s\n", "No.", "ADDRESS", "SIZE", "IPB", "tr");
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t address;
    FrameEntry e;
    stream.Frames().Get(i, &address, &e);
    const H263FrameFields f = GetCodecFields<H263FrameFields>(e);
    std::printf("%14s  0x%010llX%11s%6s%6s\n", (std::string(5, ' ') + std::to_string(i)).c_str(),
                static_cast<unsigned long long>(address + e.frameOffset), FormatDecimalUnsigned(e.size, 9).c_str(),
                H263PictureTypeText(f.flags), std::to_string(f.temporalReference).c_str());
  }
  return kExitOk;
}

// How a codec's pictures are written: the visible area of a picture and the Y4M frame rate.
struct PictureOutput {
  std::function<H264Crop(const CVideoFrame&)> crop;
  std::function<void(uint32_t&, uint32_t&)> frameRate;
};

// Every picture of the stream in output order as Y4M, or with --frame K the picture of frame
// K (decoded through the random-access walk) as PPM.
int DecodePictures(const CliArgs& args, CVideo_Stream& stream, const PictureOutput& output) {
  const auto out = args.Get("-o");
  if (!out) return Fail(kExitUsage, "-o OUT.y4m (or with --frame K, -o OUT.ppm) is required");
  const uint64_t count = stream.Frames().GetCount();
  stream.AttachView(nullptr);
  CVideoFrame frame;
  if (args.Has("--frame")) {
    int64_t k = -1;
    if (!args.GetInt("--frame", k)) return Fail(kExitUsage, "--frame K needs a number");
    if (k < 0 || static_cast<uint64_t>(k) >= count) {
      return Fail(kExitFailed, "frame " + *args.Get("--frame") + " does not exist (the stream has " +
                                   std::to_string(count) + " frames)");
    }
    if (!stream.GetFramePicture(static_cast<uint32_t>(k), frame)) return Fail(kExitFailed, "no picture decoded");
    if (!WritePpm(*out, frame, output.crop(frame))) return Fail(kExitFailed, "Can't write file: " + *out);
    return kExitOk;
  }
  std::FILE* file = *out == "-" ? stdout : std::fopen(out->c_str(), "wb");
  if (file == nullptr) return Fail(kExitFailed, "Can't write file: " + *out);
  Y4mWriter writer(file);
  bool ok = true;
  uint32_t num = 15, den = 1;
  auto drain = [&] {
    output.frameRate(num, den);
    while (stream.GetNextPicture(frame)) ok = writer.Write(frame, output.crop(frame), num, den) && ok;
  };
  for (uint64_t i = 0; i < count; ++i) {
    stream.DecodeFrame(static_cast<uint32_t>(i));
    drain();
  }
  stream.FlushPictures();
  drain();
  if (file != stdout) ok = std::fclose(file) == 0 && ok;
  if (!ok) return Fail(kExitFailed, "write failed: " + *out);
  if (writer.Skipped() > 0)
    std::fprintf(stderr, "fennik-cli: %u pictures of another size or chroma format left out\n", writer.Skipped());
  if (writer.Written() == 0) return Fail(kExitFailed, "no picture decoded");
  return kExitOk;
}

}  // namespace

int PrintList(const CListSource& list, int language);

int RunVideoFrames(const CliArgs& args, CAvStream* object, int language) {
  if (C263_Parser* h263 = AsH263(object)) {
    return args.Has("--json") ? PrintFramesJson(*h263, H263JsonFields) : PrintH263Frames(*h263);
  }
  if (CM4V_Parser* mpeg4 = AsMpeg4(object)) {
    if (args.Has("--json")) return PrintFramesJson(*mpeg4, Mpeg4JsonFields);
    CView_Mp4vList list(*mpeg4);
    return PrintList(list, language);
  }
  C264_Parser* stream = AsH264(object);
  if (stream == nullptr) return Fail(kExitFailed, "frame lists of this video codec are not available yet");
  if (args.Has("--json")) return PrintFramesJson(*stream, H264JsonFields);
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
  CVideo_Stream* whole = AsH263(object);
  if (whole == nullptr) whole = AsMpeg4(object);
  if (whole != nullptr) {
    // H.263 and MPEG-4 Visual: the whole picture, at the stream's rate (15 per second when it
    // has none).
    return DecodePictures(args, *whole,
                          {[](const CVideoFrame& f) { return H264Crop{0, 0, f.Width(), f.Height()}; },
                           [whole](uint32_t& num, uint32_t& den) {
                             uint32_t duration = 0;
                             whole->GetFrameRate(num, den, duration);
                             const uint32_t g = std::gcd(num, den);
                             if (g != 0) num /= g, den /= g;
                           }});
  }
  C264_Parser* stream = AsH264(object);
  if (stream == nullptr) return Fail(kExitFailed, "decoding this video codec from captures is not available yet");
  const int status = DecodePictures(args, *stream,
                                    {[stream](const CVideoFrame&) { return stream->Crop(); },
                                     [stream](uint32_t& num, uint32_t& den) { FrameRate(*stream, num, den); }});
  if (stream->Decoder().SliceErrors() > 0)
    std::fprintf(stderr, "fennik-cli: %u slices with errors\n", stream->Decoder().SliceErrors());
  return status;
}

}  // namespace fennik::cli
