// fennik-cli show --stream ID --frame K: placeholder until the stream objects can print a
// frame's fields; it refuses clearly instead of printing nothing.
#include "cli/CliArgs.h"

namespace fennik::cli {

int RunShowFrame(const CliArgs& args) {
  (void)args;
  return Fail(kExitFailed, "show --stream needs the stream objects");
}

}  // namespace fennik::cli
