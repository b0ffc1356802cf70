#include "cli/CaptureSession.h"

#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#include "capture/ErrorList.h"
#include "sdp/SdpEncodingTable.h"

namespace fennik::cli {
namespace {

int OpenAndAnalyse(CaptureSession& s, const std::vector<std::string>& userSdp) {
  s.capture = std::make_unique<CRTP_Parser>();
  s.capture->SetJitterBufferMs(s.jitterBufferMs);
  switch (s.capture->Open(s.fileName)) {
    case OpenResult::kCantOpen: return Fail(kExitFailed, "Can't open file: " + s.fileName);
    case OpenResult::kNotSupported: return Fail(kExitFailed, "Not support file format: " + s.fileName);
    case OpenResult::kOk: break;
  }
  for (const std::string& text : userSdp) s.capture->AddUserSdp(text);
  s.capture->Analyse(nullptr);
  return kExitOk;
}

}  // namespace

int OpenCaptureSession(const CliArgs& args, CaptureSession& session) {
  if (args.Positional().size() != 1) return Fail(kExitUsage, "expected one capture FILE");
  session.fileName = args.Positional()[0];
  if (auto lang = args.Get("--lang")) {
    if (*lang == "ja") {
      session.language = 1;
    } else if (*lang != "en") {
      return Fail(kExitUsage, "--lang must be en or ja");
    }
  }
  std::string sdpBody;
  if (auto sdpFile = args.Get("--sdp")) {
    std::ifstream in(*sdpFile, std::ios::binary);
    if (!in) return Fail(kExitFailed, "Can't open file: " + *sdpFile);
    std::ostringstream text;
    text << in.rdbuf();
    sdpBody = text.str();
    if (sdpBody.empty()) return Fail(kExitFailed, "the SDP file is empty: " + *sdpFile);
  }
  // --rtpmap PT=NAME/RATE[/CHANNELS]: rtpmap lines behind the SDP file's text, so that they
  // win over a mapping of the same payload type in the file.
  for (const std::string& value : args.GetAll("--rtpmap")) {
    const std::optional<RtpmapShorthand> rtpmap = ParseRtpmapShorthand(value);
    if (!rtpmap) {
      return Fail(kExitUsage, "--rtpmap needs PT=NAME/RATE[/CHANNELS] with PT 0-127 and RATE above 0: " + value);
    }
    if (FindSdpEncoding(rtpmap->encodingName) == nullptr) {
      std::fprintf(stderr, "fennik-cli: --rtpmap %s: the encoding name %s is not known; streams of payload type %u keep no codec\n",
                   value.c_str(), rtpmap->encodingName.c_str(), static_cast<unsigned>(rtpmap->payloadType));
    }
    if (!sdpBody.empty() && sdpBody.back() != '\n' && sdpBody.back() != '\r') sdpBody += "\r\n";
    sdpBody += RtpmapLine(*rtpmap) + "\r\n";
  }
  if (int status = OpenAndAnalyse(session, {})) return status;
  if (sdpBody.empty()) return kExitOk;

  // Re-parse with the user's SDP for every stream that lacks codec information: the text
  // gets the stream's source address and port appended so that it matches that stream.
  std::vector<std::string> texts;
  for (const MissingSdpEntry& m : session.capture->MissingSdp()) {
    texts.push_back(MakeUserSdpText(sdpBody, m.sourceAddress, m.sourcePort));
  }
  if (texts.empty()) return kExitOk;
  return OpenAndAnalyse(session, texts);
}

int ReadStreamId(const CliArgs& args, const CaptureSession& session, uint32_t& streamId) {
  int64_t id = -1;
  if (!args.Has("--stream")) return Fail(kExitUsage, "--stream ID is required");
  if (!args.GetInt("--stream", id)) return Fail(kExitUsage, "--stream needs a number");
  if (id < 1 || static_cast<uint64_t>(id) > session.capture->Streams().size()) {
    return Fail(kExitFailed, "unknown stream id " + *args.Get("--stream") + " (the capture has " +
                                 std::to_string(session.capture->Streams().size()) + " streams)");
  }
  streamId = static_cast<uint32_t>(id);
  return kExitOk;
}

}  // namespace fennik::cli
