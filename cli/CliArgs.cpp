#include "cli/CliArgs.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace fennik::cli {
namespace {

// Options that take a value; every other known option is a flag.
const std::set<std::string> kValueOptions = {
    "--stream", "--start", "--end", "-o", "--offset", "--length", "--packet", "--frame",
    "--format", "--device", "--sdp", "--lang", "--rtpmap", "--jitter-buffer"};
const std::set<std::string> kFlagOptions = {"--json", "--debug", "--as-played", "--concatenate"};

}  // namespace

bool CliArgs::Parse(int argc, char** argv, std::string& error) {
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() > 1 && arg[0] == '-' && !(arg.size() > 1 && std::isdigit(static_cast<unsigned char>(arg[1])))) {
      if (kFlagOptions.count(arg)) {
        values_[arg] = "1";
      } else if (kValueOptions.count(arg)) {
        if (i + 1 >= argc) {
          error = "option " + arg + " needs a value";
          return false;
        }
        values_[arg] = argv[++i];
        allValues_[arg].push_back(values_[arg]);
      } else {
        error = "unknown option " + arg;
        return false;
      }
    } else {
      positional_.push_back(arg);
    }
  }
  return true;
}

std::optional<std::string> CliArgs::Get(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> CliArgs::GetAll(const std::string& name) const {
  auto it = allValues_.find(name);
  return it == allValues_.end() ? std::vector<std::string>() : it->second;
}

bool CliArgs::GetInt(const std::string& name, int64_t& value) const {
  auto text = Get(name);
  if (!text) return true;
  if (text->empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text->c_str(), &end, 0);
  if (errno != 0 || *end != '\0') return false;
  value = v;
  return true;
}

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "fennik-cli: %s\n", message.c_str());
  return status;
}

}  // namespace fennik::cli
