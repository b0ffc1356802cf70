// fennik-cli show and hexdump: the packet information view and the hex dump view as text.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "capture/RtpViews.h"
#include "cli/CaptureSession.h"
#include "view/CHexDump.h"

namespace fennik::cli {

int RunShowFrame(const CliArgs& args);

namespace {

// show FILE --packet N: N is the capture's packet number (the "Packet No." column, counted
// from 1 over every record of the file, as other capture tools number them).
int ShowPacket(const CliArgs& args) {
  int64_t number = 0;
  if (!args.GetInt("--packet", number)) return Fail(kExitUsage, "--packet needs a number");
  if (number < 1 || number > UINT32_MAX) return Fail(kExitUsage, "--packet must be a packet number from 1");
  CaptureSession s;
  if (int status = OpenCaptureSession(args, s)) return status;
  CRTP_Parser& c = *s.capture;
  uint64_t row = 0;
  if (!FindPacketRow(c.Packets(), static_cast<uint32_t>(number), row)) {
    return Fail(kExitFailed, "packet " + std::to_string(number) + " is not an RTP packet of the capture");
  }
  uint64_t address = 0;
  RtpPacketEntry entry;
  c.Packets().Get(row, &address, &entry);
  CFieldTree tree(s.language);
  CView_RTPInfo info(c);
  const bool complete = info.Print(address, entry, tree);
  std::fputs(RenderText(tree.Rows()).c_str(), stdout);
  if (!complete) {
    return Fail(kExitFailed, "the record of packet " + std::to_string(number) + " could not be read again");
  }
  return kExitOk;
}

}  // namespace

int RunShow(const CliArgs& args) {
  if (args.Has("--stream") || args.Has("--frame")) return RunShowFrame(args);
  if (!args.Has("--packet")) return Fail(kExitUsage, "show needs --packet N or --stream ID --frame K");
  return ShowPacket(args);
}

// hexdump FILE [--offset X] [--length L]: the hex dump view's lines from X (default 0) for L
// bytes (default one view window, 16,384 bytes), cut at the end of the file.
int RunHexdump(const CliArgs& args) {
  if (args.Positional().size() != 1) return Fail(kExitUsage, "expected one capture FILE");
  int64_t offset = 0;
  int64_t length = CBinaryModel::kWindowBytes;
  if (!args.GetInt("--offset", offset) || offset < 0) {
    return Fail(kExitUsage, "--offset needs a byte offset from 0");
  }
  if (!args.GetInt("--length", length) || length < 1) {
    return Fail(kExitUsage, "--length needs a byte count from 1");
  }
  const std::string fileName = args.Positional()[0];
  CRTP_Parser capture;
  switch (capture.Open(fileName)) {
    case OpenResult::kCantOpen: return Fail(kExitFailed, "Can't open file: " + fileName);
    case OpenResult::kNotSupported: return Fail(kExitFailed, "Not support file format: " + fileName);
    case OpenResult::kOk: break;
  }
  const uint64_t size = capture.FileSize();
  if (static_cast<uint64_t>(offset) >= size) {
    return Fail(kExitFailed, "offset " + std::to_string(offset) + " is beyond the end of the file (" +
                                 std::to_string(size) + " bytes)");
  }
  uint64_t remaining = std::min<uint64_t>(static_cast<uint64_t>(length), size - static_cast<uint64_t>(offset));
  CBinaryModel model([&capture](uint64_t at, void* buffer, uint32_t n) { return capture.ReadAt(at, buffer, n); },
                     size);
  std::fputs((HexDumpHeader().text + "\n").c_str(), stdout);
  // One view window at a time; every line but the file's last holds 16 bytes.
  uint64_t address = static_cast<uint64_t>(offset);
  while (remaining > 0) {
    if (!model.Load(address)) return Fail(kExitFailed, "read error at offset " + std::to_string(address));
    const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining, model.Data().size()));
    for (size_t i = 0; i < n; i += 16) {
      const size_t count = std::min<size_t>(16, n - i);
      std::fputs((HexDumpLine(address + i, model.Data().data() + i, count).text + "\n").c_str(), stdout);
    }
    address += n;
    remaining -= n;
  }
  return kExitOk;
}

}  // namespace fennik::cli
