#include "capture/CsvReport.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/TextCodec.h"
#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "capture/RtpTiming.h"
#include "stream/FrameEntry.h"
#include "stream/CodecType.h"

namespace fennik {
namespace {

enum class FrameColumns { kNone, kMpeg4, kH263, kH264 };

FrameColumns ColumnsFor(uint32_t codecType) {
  switch (codecType) {
    case kCodecMpeg4Visual: case kCodecMpeg4VisualAlt: return FrameColumns::kMpeg4;
    case kCodecH263: case kCodecH263Variant7: case kCodecH263Variant8: return FrameColumns::kH263;
    case kCodecH264: case kCodecH264Mp4: case kCodecH264Rtp: return FrameColumns::kH264;
    default: return FrameColumns::kNone;
  }
}

const char* ErrorColumnName(int language) {
  return language == 1 ? "エラー内容" : "Error Description";
}

// Accumulates a line with printf-style pieces.
class Line {
 public:
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char piece[128];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (n > 0) text_.append(piece, static_cast<size_t>(std::min<int>(n, sizeof piece - 1)));
  }
  void Append(const char* s) { text_ += s; }
  void Time(uint64_t ms) {
    char t[32];
    FormatListTime(ms, t, sizeof t);
    text_ += t;
    text_ += ',';
  }
  bool EndsWithComma() const { return !text_.empty() && text_.back() == ','; }
  std::string& Text() { return text_; }

 private:
  std::string text_;
};

void AddFrameFields(Line& line, FrameColumns columns, const FrameEntry& f) {
  switch (columns) {
    case FrameColumns::kMpeg4: {
      static const char* kTypes[] = {",", "I,", "P,", "B,", "S,"};
      uint16_t type = GetCodecFields<M4vFrameFields>(f).flags & 7;
      line.Add("%7u,", f.size);
      line.Append(type < 5 ? kTypes[type] : ",");
      break;
    }
    case FrameColumns::kH263: {
      static const char* kTypes[] = {",", "I,", "P,", "B,", "PB,", "SI,", "SP,"};
      H263FrameFields h = GetCodecFields<H263FrameFields>(f);
      line.Add("%7u,", f.size);
      line.Append((h.flags & 7) < 7 ? kTypes[h.flags & 7] : ",");
      line.Add("%3u", h.temporalReference);
      break;
    }
    case FrameColumns::kH264: {
      static const char* kTypes[] = {",", "I,", "P,", "B,", "SI,", "SP,"};
      static const char* kStructure[] = {"-,", "T,", "B,", "F,"};
      H264FrameFields h = GetCodecFields<H264FrameFields>(f);
      line.Add("%7u,%5u,%5d,", f.size, h.frameNum, h.poc);
      line.Append((h.flags & kH264PictureTypeMask) < 6 ? kTypes[h.flags & kH264PictureTypeMask] : ",");
      line.Append(h.flags & kH264Idr ? "*," : "-,");
      line.Append(h.flags & kH264Reference ? "*," : "-,");
      line.Append(kStructure[(h.flags >> kH264StructureShift) & 3]);
      line.Append(h.flags & kH264SpsBefore ? "*," : "-,");
      line.Append(h.flags & kH264PpsBefore ? "*" : "-");
      break;
    }
    case FrameColumns::kNone:
      break;
  }
}

class ReportWriter {
 public:
  ReportWriter(const CRTP_Parser& capture, const CsvRequest& request, CsvOutput& out)
      : capture_(capture), request_(request), out_(out) {}

  bool Run() {
    if (!Emit(CsvHeader(request_.listKind, request_.language))) return false;
    if (request_.listKind == 0) return WriteCaptureRows();
    return WriteStreamRows();
  }

 private:
  bool Emit(const std::string& utf8) {
    if (request_.language == 1) {
      std::string sjis = Utf8ToShiftJis(utf8);
      return out_.Write(sjis.data(), sjis.size());
    }
    return out_.Write(utf8.data(), utf8.size());
  }

  const RtpStreamEntry* StreamOf(const RtpPacketEntry& e) const {
    const auto& streams = capture_.Streams();
    return e.streamIndex < streams.size() ? &streams[e.streamIndex] : nullptr;
  }

  bool WriteCaptureRows() {
    const CPacketTable& table = capture_.Packets();
    for (int64_t i = request_.start; i <= request_.end; ++i) {
      uint64_t address;
      RtpPacketEntry e{};
      if (i < 0 || !table.Get(static_cast<uint64_t>(i), &address, &e)) continue;
      const RtpStreamEntry* s = StreamOf(e);
      Line line;
      line.Add("%9lld,0x%010llX,%10u,", static_cast<long long>(i),
               static_cast<unsigned long long>(address), e.packetNumber);
      line.Time(e.captureTime);
      line.Add("%8u,", e.sequenceNumber);
      line.Time(s ? RtpTimeMs(e.rtpTimestamp, s->clockRate) : 0);
      line.Add("%s,", s ? s->encodingName : "");
      line.Add("%s,", FormatIpv4(s ? s->sourceAddress : 0).text);
      line.Add("%6u,%8u,", s ? s->sourcePort : 0, e.capturedPayload);
      if (e.errorFlags) line.Append(ErrorText(kErrorCodeSequence, request_.language));
      line.Append("\n");
      if (!Emit(line.Text())) return false;
    }
    return true;
  }

  bool WriteStreamRows() {
    const uint32_t streamId = request_.listKind & 0xFFFF;
    const FrameColumns columns = ColumnsFor(request_.listKind >> 16);
    if (streamId == 0 || streamId > capture_.Streams().size()) return true;
    const RtpStreamEntry& s = capture_.Streams()[streamId - 1];
    const CAvStream* object = capture_.StreamObject(streamId - 1);
    const std::vector<uint64_t> rows = capture_.StreamPacketIndices(streamId - 1);
    bool havePrevious = false;
    uint32_t previousTime = 0, previousTimestamp = 0;
    for (int64_t i = request_.start; i <= request_.end; ++i) {
      if (i < 0 || static_cast<uint64_t>(i) >= rows.size()) continue;
      uint64_t address;
      RtpPacketEntry e{};
      if (!capture_.Packets().Get(rows[static_cast<size_t>(i)], &address, &e)) continue;
      Line line;
      line.Add("%9lld,0x%010llX,%10u,", static_cast<long long>(i),
               static_cast<unsigned long long>(address), e.packetNumber);
      line.Time(e.captureTime);
      if (havePrevious) {
        line.Add("%10lld,", static_cast<long long>(e.captureTime) - previousTime);
      } else {
        line.Append(",");
      }
      line.Add("%8u,", e.sequenceNumber);
      line.Time(RtpTimeMs(e.rtpTimestamp, s.clockRate));
      if (havePrevious) {
        line.Add("%10lld,%10d,",
                 static_cast<long long>(RtpGapMs(e.rtpTimestamp, previousTimestamp, s.clockRate)),
                 e.jitter);
      } else {
        line.Append(",,");
      }
      line.Add("%8u,%10llu,", e.capturedPayload, static_cast<unsigned long long>(e.bitRate) * 8);
      FrameEntry frame;
      if (e.frameIndex != kNoFrame && object != nullptr &&
          object->Frames().Get(e.frameIndex, nullptr, &frame)) {
        AddFrameFields(line, columns, frame);
      }
      if (e.errorFlags) {
        if (!line.EndsWithComma()) line.Append(",");
        line.Append(ErrorText(kErrorCodeSequence, request_.language));
      }
      line.Append("\n");
      if (!Emit(line.Text())) return false;
      havePrevious = true;
      previousTime = e.captureTime;
      previousTimestamp = e.rtpTimestamp;
    }
    return true;
  }

  const CRTP_Parser& capture_;
  const CsvRequest& request_;
  CsvOutput& out_;
};

// Buffers the report and writes it to the file in large pieces.
class FileOutput : public CsvOutput {
 public:
  explicit FileOutput(CAvFile& file) : file_(file) {}
  bool Write(const char* data, size_t size) override {
    buffer_.append(data, size);
    return buffer_.size() < (1u << 16) || Flush();
  }
  bool Flush() {
    bool ok = file_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

 private:
  CAvFile& file_;
  std::string buffer_;
};

}  // namespace

std::string CsvHeader(uint32_t listKind, int language) {
  if (listKind == 0) {
    return std::string("No.,ADDRESS,Packet No.,Cap Time,Seq No.,RTP Time,Type,Src Addr.,Port,"
                       "Payload,") + ErrorColumnName(language) + "\n";
  }
  std::string header =
      "No.,ADDRESS,Packet No.,Cap Time,GAP(ms),Seq No.,RTP Time,GAP(ms),Jitter(ms),Payload,Bitrate,";
  switch (ColumnsFor(listKind >> 16)) {
    case FrameColumns::kMpeg4: header += "SIZE,IPB"; break;
    case FrameColumns::kH263: header += "SIZE,IPB,tr"; break;
    case FrameColumns::kH264: header += "SIZE,FRAME,POC,IPB,IDR,REF,FLD,SPS,PPS"; break;
    case FrameColumns::kNone: break;
  }
  if (header.back() != ',') header += ',';
  return header + ErrorColumnName(language) + "\n";
}

bool WriteCsvReport(const CRTP_Parser& capture, const CsvRequest& request, CsvOutput& out) {
  return ReportWriter(capture, request, out).Run();
}

int WriteCsvFile(const CRTP_Parser& capture, const CsvRequest& request) {
  CAvFile file;
  if (!file.OpenFile(request.fileName, CAvFile::kWrite)) return 0;
  FileOutput out(file);
  bool ok = WriteCsvReport(capture, request, out);
  ok = out.Flush() && ok;
  file.CloseFile();
  return ok ? 1 : 0;
}

}  // namespace fennik
