// fennik-cli info, streams and csv.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "capture/CsvReport.h"
#include "capture/ErrorList.h"
#include "cli/CaptureSession.h"

namespace fennik::cli {
namespace {

// "a.b.c.d:port", or "[v6 address]:port".
std::string Endpoint(uint32_t address, uint16_t port) {
  const std::string text = FormatIpv4(address).text;
  return (IsIpv6Handle(address) ? "[" + text + "]" : text) + ":" + std::to_string(port);
}

uint64_t FrameCount(const CRTP_Parser& c, uint32_t index) {
  const CAvStream* object = c.StreamObject(index);
  return object ? object->Frames().GetCount() : 0;
}

std::string JsonString(const char* s) {
  std::string out = "\"";
  for (; *s; ++s) {
    unsigned char ch = static_cast<unsigned char>(*s);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", ch);
      out += esc;
    } else {
      out += static_cast<char>(ch);
    }
  }
  return out + "\"";
}

class StdoutOutput : public CsvOutput {
 public:
  bool Write(const char* data, size_t size) override {
    return std::fwrite(data, 1, size, stdout) == size;
  }
};

}  // namespace

int RunInfo(const CliArgs& args) {
  CaptureSession s;
  if (int status = OpenCaptureSession(args, s)) return status;
  const CRTP_Parser& c = *s.capture;
  const CaptureFormatInfo& f = c.Format();
  const WalkResult& walk = c.Walk();
  uint64_t errors = 0;
  for (const RtpStreamEntry& st : c.Streams()) errors += st.sequenceErrors;
  std::printf("File: %s\n", s.fileName.c_str());
  std::printf("File size: %" PRIu64 " bytes\n", c.FileSize());
  std::printf("Format: %s\n", f.format == CaptureFormat::kPcap ? "pcap" : "pcapng");
  std::printf("Byte order: %s\n", f.bigEndian ? "big-endian" : "little-endian");
  if (f.format == CaptureFormat::kPcap) {
    std::printf("Timestamps: %s\n", f.nanosecond ? "nanoseconds" : "microseconds");
  }
  std::printf("Records: %" PRIu64 "\n", walk.records);
  std::printf("Packets: %u\n", walk.packets);
  std::printf("RTP packets: %" PRIu64 "\n", c.Packets().GetCount());
  std::printf("Streams: %zu\n", c.Streams().size());
  std::printf("Sequence errors: %" PRIu64 "\n", errors);
  std::printf("Streams without SDP: %zu\n", c.MissingSdp().size());
  if (c.RefusedStreamPackets() > 0) {
    std::printf("Packets of refused streams (more than %u streams): %u\n", CRTP_Parser::kMaxStreams,
                c.RefusedStreamPackets());
  }
  if (walk.end == WalkEnd::kEndOfFile) {
    std::printf("Walk: complete\n");
  } else {
    std::printf("Walk: stopped at offset 0x%010" PRIX64 ": %s\n", walk.stopOffset,
                WalkEndText(walk.end));
  }
  return kExitOk;
}

int RunStreams(const CliArgs& args) {
  CaptureSession s;
  if (int status = OpenCaptureSession(args, s)) return status;
  const CRTP_Parser& c = *s.capture;
  const bool json = args.Has("--json");
  if (json) std::printf("[");
  else
    std::printf("%4s  %-21s  %-21s  %3s  %-9s  %5s  %6s  %8s  %6s  %8s\n", "ID", "Source",
                "Destination", "PT", "Encoding", "Codec", "Clock", "Packets", "Errors", "Frames");
  for (uint32_t i = 0; i < c.Streams().size(); ++i) {
    const RtpStreamEntry& st = c.Streams()[i];
    const std::string src = Endpoint(st.sourceAddress, st.sourcePort);
    const std::string dst = Endpoint(st.destinationAddress, st.destinationPort);
    if (json) {
      std::printf("%s\n  {\"id\": %u, \"src\": \"%s\", \"dst\": \"%s\", \"payload_type\": %u, "
                  "\"encoding\": %s, \"codec_type\": %u, \"media_kind\": %u, \"clock_rate\": %u, "
                  "\"channels\": %u, \"first_packet\": %u, \"packets\": %u, "
                  "\"sequence_errors\": %u, \"duplicates\": %u, \"other_payload_packets\": %u, "
                  "\"frames\": %" PRIu64 "}",
                  i == 0 ? "" : ",", i + 1, src.c_str(), dst.c_str(), st.payloadType,
                  JsonString(st.encodingName).c_str(), st.codecType, st.mediaKind, st.clockRate,
                  st.channels, st.firstPacketNumber, st.packets, st.sequenceErrors,
                  st.duplicates, st.otherPayloadPackets, FrameCount(c, i));
    } else {
      std::printf("%4u  %-21s  %-21s  %3u  %-9s  %5u  %6u  %8u  %6u  %8" PRIu64 "\n", i + 1,
                  src.c_str(), dst.c_str(), st.payloadType,
                  st.encodingName[0] ? st.encodingName : "-", st.codecType, st.clockRate,
                  st.packets, st.sequenceErrors, FrameCount(c, i));
    }
  }
  if (json) std::printf("%s]\n", c.Streams().empty() ? "" : "\n");
  return kExitOk;
}

int RunCsv(const CliArgs& args) {
  CaptureSession s;
  if (int status = OpenCaptureSession(args, s)) return status;
  const CRTP_Parser& c = *s.capture;
  CsvRequest request;
  request.language = s.language;
  uint64_t rows = c.Packets().GetCount();
  if (args.Has("--stream")) {
    uint32_t id = 0;
    if (int status = ReadStreamId(args, s, id)) return status;
    const CAvStream* object = c.StreamObject(id - 1);
    uint32_t codecType = object ? static_cast<uint32_t>(object->GetCodecType())
                                : c.Streams()[id - 1].codecType;
    request.listKind = id | (codecType << 16);
    rows = c.Streams()[id - 1].packets;
  }
  int64_t start = 0, end = static_cast<int64_t>(rows) - 1;
  if (!args.GetInt("--start", start) || !args.GetInt("--end", end)) {
    return Fail(kExitUsage, "--start and --end need numbers");
  }
  if (start > end && !(rows == 0 && !args.Has("--start") && !args.Has("--end"))) {
    return Fail(kExitFailed, "Start position or end position is wrong");
  }
  if (start < INT32_MIN || end > INT32_MAX) return Fail(kExitFailed, "Start position or end position is wrong");
  request.start = static_cast<int32_t>(start);
  request.end = static_cast<int32_t>(end);
  if (auto out = args.Get("-o")) {
    request.fileName = *out;
    if (!WriteCsvFile(c, request)) return Fail(kExitFailed, "Can't write file: " + *out);
    return kExitOk;
  }
  StdoutOutput out;
  if (!WriteCsvReport(c, request, out) || std::fflush(stdout) != 0) {
    return Fail(kExitFailed, "write to standard output failed");
  }
  return kExitOk;
}

}  // namespace fennik::cli
