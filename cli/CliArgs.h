// Command-line parsing shared by the fennik-cli subcommands: positional arguments and
// "--name value" / "--flag" options, with the tool's exit-status conventions.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fennik::cli {

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

class CliArgs {
 public:
  // Parses argv after the subcommand name. Returns false (with a message in error) on an
  // unknown option or a missing option value.
  bool Parse(int argc, char** argv, std::string& error);

  const std::vector<std::string>& Positional() const { return positional_; }
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  std::optional<std::string> Get(const std::string& name) const;
  // Every value of an option given several times (--rtpmap), in command-line order.
  std::vector<std::string> GetAll(const std::string& name) const;
  // Reads an integer option; false when present but not a number. `value` keeps its
  // default when the option is absent.
  bool GetInt(const std::string& name, int64_t& value) const;

 private:
  std::vector<std::string> positional_;
  std::map<std::string, std::string> values_;  // the last value of each option
  std::map<std::string, std::vector<std::string>> allValues_;
};

// Prints "fennik-cli: <message>" on standard error and returns the status.
int Fail(int status, const std::string& message);

}  // namespace fennik::cli
