#include "cli/Commands.h"

namespace fennik::cli {

int RunInfo(const CliArgs& args);
int RunStreams(const CliArgs& args);
int RunCsv(const CliArgs& args);
int RunSettings(const CliArgs& args);
int RunDecode(const CliArgs& args);

const CliCommand kCommands[] = {
    {"info", RunInfo, "info FILE                     capture format, byte order, records, RTP packets, streams"},
    {"streams", RunStreams, "streams FILE [--json]         the stream table"},
    {"csv", RunCsv, "csv FILE [--stream ID] [--start N] [--end M] [-o OUT]   the packet list as CSV"},
    {"settings", RunSettings, "settings [--lang en|ja]       the settings in force and the file they came from"},
    {"decode", RunDecode, "decode FILE.264 -o OUT.y4m      decoded pictures of an H.264 elementary stream"},
    {nullptr, nullptr, nullptr},
};

}  // namespace fennik::cli
