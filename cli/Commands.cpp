#include "cli/Commands.h"

namespace fennik::cli {

const CliCommand kCommands[] = {
    {nullptr, nullptr, nullptr},
};

}  // namespace fennik::cli
