// Opening and analysing a capture for a CLI command, with the common options (--sdp,
// --rtpmap, --lang).
#pragma once

#include <memory>
#include <string>

#include "capture/CRTP_Parser.h"
#include "cli/CliArgs.h"

namespace fennik::cli {

struct CaptureSession {
  std::unique_ptr<CRTP_Parser> capture;
  std::string fileName;
  int language = 0;  // 0 English, 1 Japanese
  double jitterBufferMs = StreamStatistics::kDefaultJitterBufferMs;  // simulated in the pass
};

// Opens FILE (the first positional argument) and runs the analysis pass. With --sdp FILE
// and/or --rtpmap PT=NAME/RATE[/CHANNELS] (repeatable), every stream left without codec
// information is given that SDP text (the rtpmap lines behind the file's text) and the
// capture is analysed again. Returns 0, or the exit status after printing the reason.
int OpenCaptureSession(const CliArgs& args, CaptureSession& session);

// Reads --stream ID and checks it names a stream; returns 0 or the exit status.
int ReadStreamId(const CliArgs& args, const CaptureSession& session, uint32_t& streamId);

}  // namespace fennik::cli
