// fennik-cli extract: one or two streams' payloads between two packet numbers into a raw
// payload file or an AVI file.
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/CStreamExtractor.h"
#include "cli/CaptureSession.h"

namespace fennik::cli {
namespace {

// "ID" or "ID,ID2": decimal stream ids. Returns false on any other text.
bool ParseStreamIds(const std::string& text, uint32_t ids[2]) {
  size_t pos = 0;
  for (int i = 0; i < 2 && pos <= text.size(); ++i) {
    const size_t comma = text.find(',', pos);
    const std::string part = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    ids[i] = static_cast<uint32_t>(std::strtoul(part.c_str(), nullptr, 10));
    if (comma == std::string::npos) return true;
    pos = comma + 1;
  }
  return false;  // a third id, or a trailing comma
}

}  // namespace

int RunExtract(const CliArgs& args) {
  const auto out = args.Get("-o");
  if (!out || out->empty()) return Fail(kExitUsage, "-o OUT is required");
  ExtractionRequest request;
  const std::string format = args.Get("--format").value_or("raw");
  if (format == "raw") {
    request.method = 0;
  } else if (format == "avi") {
    request.method = 1;
  } else {
    return Fail(kExitUsage, "--format must be raw or avi");
  }
  const auto streamText = args.Get("--stream");
  if (!streamText) return Fail(kExitUsage, "--stream ID[,ID2] is required");
  if (!ParseStreamIds(*streamText, request.streamIds)) {
    return Fail(kExitUsage, "--stream needs one or two stream ids: ID[,ID2]");
  }

  CaptureSession session;
  if (int status = OpenCaptureSession(args, session)) return status;
  CRTP_Parser& capture = *session.capture;
  const size_t streamCount = capture.Streams().size();
  for (uint32_t id : request.streamIds) {
    if (id != kNoStreamId && (id == 0 || id > streamCount)) {
      return Fail(kExitFailed, "unknown stream id " + std::to_string(id) + " (the capture has " +
                                   std::to_string(streamCount) + " streams)");
    }
  }

  // Default range: every packet (the end packet itself is not included).
  int64_t start = 1, end = 0;
  const uint64_t packets = capture.Packets().GetCount();
  if (packets == 0) return Fail(kExitFailed, "the capture holds no RTP packets");
  const RtpPacketEntry* lastEntry = capture.Packets().GetEntry(packets - 1, nullptr);
  end = lastEntry != nullptr ? int64_t{lastEntry->packetNumber} + 1 : 0;
  if (!args.GetInt("--start", start) || !args.GetInt("--end", end)) {
    return Fail(kExitUsage, "--start and --end need numbers");
  }
  if (start < INT32_MIN || start > INT32_MAX || end < INT32_MIN || end > INT32_MAX || start >= end) {
    return Fail(kExitFailed, "Start position or end position is wrong");
  }
  request.start = static_cast<int32_t>(start);
  request.end = static_cast<int32_t>(end);
  request.fileName = *out;
  request.replace = true;

  CStreamExtractor extractor(capture);
  const ExtractionResult result = extractor.Extract(request, nullptr);
  switch (result.status) {
    case ExtractStatus::kOk:
      break;
    case ExtractStatus::kNoPacketInRange:
      return Fail(kExitFailed, "no RTP packet at or after packet " + std::to_string(start));
    case ExtractStatus::kNotForAvi:
      return Fail(kExitFailed, "AVI holds one audio stream with a WAVE format tag (G.711, G.722, "
                               "L16) and one video stream with a FourCC (H.264, MPEG-4 Visual); "
                               "these streams do not fit");
    case ExtractStatus::kCreateFailed:
      return Fail(kExitFailed, "Can't create file: " + *out + " (" + std::strerror(result.systemError) + ")");
    case ExtractStatus::kWriteFailed:
      return Fail(kExitFailed, "write failed: " + *out);
    default:
      return Fail(kExitFailed, ExtractStatusText(result.status));
  }
  if (result.unreadPackets != 0) {
    std::fprintf(stderr, "fennik-cli: %" PRIu64 " packets of the range could not be read again\n",
                 result.unreadPackets);
  }
  std::printf("%" PRIu64 " packets, %" PRIu64 " payload bytes", result.packets, result.bytes);
  if (result.videoFrames != 0) std::printf(", %" PRIu64 " video frames", result.videoFrames);
  std::printf(" written to %s\n", out->c_str());
  return kExitOk;
}

}  // namespace fennik::cli
