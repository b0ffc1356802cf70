// The fennik-cli subcommands. Each takes the parsed arguments after its name and returns
// the exit status (0 success, 1 the input could not be processed, 2 usage error).
#pragma once

#include "cli/CliArgs.h"

namespace fennik::cli {

struct CliCommand {
  const char* name;
  int (*run)(const CliArgs& args);
  const char* usage;
};

// The table of subcommands, in the order the usage text lists them; ends with a null name.
extern const CliCommand kCommands[];

}  // namespace fennik::cli
