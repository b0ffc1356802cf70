#include "cli/DecodeCommand.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <numeric>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/MappedRegion.h"
#include "cli/CliArgs.h"
#include "codec/video/C264_Decode.h"
#include "h264/H264Nal.h"

namespace fennik::cli {
namespace {

// Reads the file in one piece when its size is known (no growing copies), else in blocks.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& data) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  struct stat st {};
  size_t n = 0;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    data.resize(static_cast<size_t>(st.st_size));
    n = std::fread(data.data(), 1, data.size(), f);
  }
  data.resize(n);
  // A file that grew meanwhile, or one of unknown size (a pipe): the rest in blocks.
  uint8_t buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof(buf), f)) > 0) data.insert(data.end(), buf, buf + got);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// The bytes of the input file: mapped in place when it is a regular local file (no copy, no
// zero-filled buffer), else read whole.
class InputFile {
 public:
  ~InputFile() {
    region_.Unmap();  // before the file it maps is closed
    if (fd_ >= 0) close(fd_);
  }
  bool Open(const std::string& path) {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && region_.Map(fd_, static_cast<uint64_t>(st.st_size))) {
      data_ = region_.Data();
      size_ = static_cast<size_t>(region_.Readable(0, region_.Size()));
      return true;
    }
    if (!ReadWholeFile(path, copy_)) return false;
    data_ = copy_.data();
    size_ = copy_.size();
    return true;
  }
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  int fd_ = -1;
  CMappedRegion region_;
  std::vector<uint8_t> copy_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// Writes every byte of the pieces, resuming after partial writes and interruptions.
bool WriteAll(int fd, iovec* pieces, size_t count) {
  while (count > 0) {
    const ssize_t n = writev(fd, pieces, static_cast<int>(std::min<size_t>(count, IOV_MAX)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    size_t done = static_cast<size_t>(n);
    for (; count > 0 && done >= pieces->iov_len; ++pieces, --count) done -= pieces->iov_len;
    if (count > 0) {
      pieces->iov_base = static_cast<uint8_t*>(pieces->iov_base) + done;
      pieces->iov_len -= done;
    }
  }
  return true;
}

}  // namespace

void Y4mWriter::Add(const void* data, size_t size) {
  if (!pieces_.empty() && static_cast<const uint8_t*>(pieces_.back().iov_base) + pieces_.back().iov_len == data) {
    pieces_.back().iov_len += size;
    return;
  }
  pieces_.push_back(iovec{const_cast<void*>(data), size});
}

void Y4mWriter::AddRows(const uint8_t* first, size_t stride, size_t width, size_t rows) {
  if (stride == width) {
    Add(first, width * rows);
    return;
  }
  for (size_t y = 0; y < rows; ++y) Add(first + y * stride, width);
}

bool Y4mWriter::Write(const CVideoFrame& frame, const H264Crop& crop, uint32_t fps_num, uint32_t fps_den) {
  text_.clear();
  if (width_ == 0) {
    width_ = crop.width;
    height_ = crop.height;
    format_ = frame.Format();
    const char* chroma = format_ == kPictureYuv444 ? "C444" : format_ == kPictureYuv422 ? "C422" : "C420jpeg";
    char header[96];
    std::snprintf(header, sizeof(header), "YUV4MPEG2 W%u H%u F%u:%u Ip A1:1 %s\n", width_, height_, fps_num, fps_den,
                  chroma);
    text_ = header;
  }
  if (crop.width != width_ || crop.height != height_ || frame.Format() != format_) {
    ++skipped_;
    return true;
  }
  text_ += "FRAME\n";
  pieces_.clear();
  Add(text_.data(), text_.size());
  const size_t ls = static_cast<size_t>(frame.LumaStride()), cs = static_cast<size_t>(frame.ChromaStride());
  AddRows(frame.Y() + crop.top * ls + crop.left, ls, width_, height_);
  const uint32_t sx = format_ == kPictureYuv444 ? 0 : 1;  // chroma subsampling shifts
  const uint32_t sy = format_ == kPictureYuv420 ? 1 : 0;
  const uint32_t cw = (width_ + sx) >> sx, ch = (height_ + sy) >> sy;
  for (const uint8_t* plane : {frame.Cb(), frame.Cr()})
    AddRows(plane + (crop.top >> sy) * cs + (crop.left >> sx), cs, cw, ch);
  ++written_;
  const int fd = fileno(out_);
  return std::fflush(out_) == 0 && fd >= 0 && WriteAll(fd, pieces_.data(), pieces_.size());
}

int DecodeH264ElementaryStream(const std::string& input_path, const std::string& output_path) {
  InputFile input;
  if (!input.Open(input_path)) return Fail(kExitFailed, "Can't open file");
  std::FILE* out = output_path == "-" ? stdout : std::fopen(output_path.c_str(), "wb");
  if (out == nullptr) return Fail(kExitFailed, "Can't open " + output_path);
  auto decoder = std::make_unique<C264_Decode>();
  Y4mWriter writer(out);
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
    // Each picture is written from the decoder's own buffer before it is taken.
    for (const CVideoFrame* frame; (frame = decoder->PeekNextPicture(&crop)) != nullptr; decoder->PopNextPicture())
      write_ok = writer.Write(*frame, crop, num, den) && write_ok;
  };
  for (const NalSpan& unit : SplitAnnexB(input.Data(), input.Size())) {
    decoder->DecodeNalUnit(input.Data() + unit.offset, unit.size);
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
