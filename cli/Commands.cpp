#include "cli/Commands.h"

namespace fennik::cli {

int RunInfo(const CliArgs& args);
int RunStreams(const CliArgs& args);
int RunCsv(const CliArgs& args);
int RunSettings(const CliArgs& args);
int RunDecode(const CliArgs& args);
int RunShow(const CliArgs& args);
int RunHexdump(const CliArgs& args);
int RunFrames(const CliArgs& args);
int RunPlay(const CliArgs& args);
int RunExtract(const CliArgs& args);
int RunStats(const CliArgs& args);

const CliCommand kCommands[] = {
    {"info", RunInfo, "info FILE                     capture format, byte order, records, RTP packets, streams"},
    {"streams", RunStreams, "streams FILE [--json]         the stream table"},
    {"stats", RunStats, "stats FILE [--json] [--jitter-buffer MS]   per-stream statistics (loss, order, deltas, RFC 3550 jitter, jitter-buffer discards, E-model estimate), RTCP reports, RFC 4733 events"},
    {"csv", RunCsv, "csv FILE [--stream ID] [--start N] [--end M] [-o OUT]   the packet list as CSV"},
    {"frames", RunFrames, "frames FILE --stream ID [--json]   a stream's frame list"},
    {"show", RunShow, "show FILE --packet N | --stream ID --frame K   header fields of packet number N (counted from 1 over the file's records) / frame fields"},
    {"hexdump", RunHexdump, "hexdump FILE [--offset X] [--length L]   the file's bytes as hex dump lines (default: the first 16,384 bytes)"},
    {"settings", RunSettings, "settings [--lang en|ja]       the settings in force and the file they came from"},
    {"decode", RunDecode, "decode FILE --stream ID -o OUT.wav [--as-played] [--concatenate] | decode FILE --stream ID -o OUT.y4m | decode FILE --stream ID --frame K -o OUT.ppm | decode FILE.264 -o OUT.y4m   a stream's decoded PCM (on its RTP timeline) or pictures / one picture / the pictures of an H.264 elementary stream"},
    {"extract", RunExtract, "extract FILE --stream ID[,ID2] [--start P] [--end Q] [--format raw|avi] -o OUT   payloads of packets P up to (not including) Q as raw bytes or AVI"},
    {"play", RunPlay, "play FILE --stream ID [--device NAME] [--concatenate]   plays an audio stream (on its RTP timeline) through the sound device (an ALSA PCM name, default \"default\", or wav:OUT.wav)"},
    {nullptr, nullptr, nullptr},
};

}  // namespace fennik::cli
