// fennik-cli: everything the desktop program shows, writes or plays, reachable headless.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/DebugPrint.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/CodecModules.h"
#include "codec/video/VideoCodecs.h"
#include "config/SettingsLocation.h"
#include "cli/CliArgs.h"
#include "cli/Commands.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: fennik-cli COMMAND FILE [options]\n\ncommands:\n");
  for (const auto* c = fennik::cli::kCommands; c->name != nullptr; ++c) {
    std::fprintf(stderr, "  %s\n", c->usage);
  }
  std::fprintf(stderr,
               "\ncommon options: --sdp FILE, --rtpmap PT=NAME/RATE[/CHANNELS] (repeatable), "
               "--lang en|ja, --debug\n");
  return fennik::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace fennik::cli;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    return Usage();
  }
  const CliCommand* command = nullptr;
  for (const auto* c = kCommands; c->name != nullptr; ++c) {
    if (std::strcmp(c->name, argv[1]) == 0) command = c;
  }
  if (command == nullptr) {
    Fail(kExitUsage, std::string("unknown command ") + argv[1]);
    return Usage();
  }
  CliArgs args;
  std::string error;
  if (!args.Parse(argc - 2, argv + 2, error)) {
    Fail(kExitUsage, error);
    std::fprintf(stderr, "usage: fennik-cli %s\n", command->usage);
    return kExitUsage;
  }
  fennik::BindDebugSink();
  if (args.Has("--debug")) fennik::SetDebugToStderr(true);
  fennik::RegisterAudioCodecs();
  fennik::RegisterVideoCodecs();
  // The external codec modules lie next to the program; without them their codecs are
  // listed and shown but decode to nothing.
  fennik::LoadCodecModules(fennik::ExecutableFolder());
  return command->run(args);
}
