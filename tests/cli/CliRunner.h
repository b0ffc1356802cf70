// Runs the built fennik-cli as a user would, for the CLI tests: standard output and the exit
// status, and standard error through a file of its own per call (ctest runs the tests of
// this folder in parallel processes).
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace fennik::testing {

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

// `arguments` follow the tool's path on a shell command line.
inline CliRun Cli(const std::string& arguments) {
  static int calls = 0;
  const std::string errFile = ::testing::TempDir() + "/fennik_cli_err_" + std::to_string(getpid()) +
                              "_" + std::to_string(++calls) + ".txt";
  const std::string command = std::string(FENNIK_CLI_PATH) + " " + arguments + " 2>" + errFile;
  CliRun r{};
  FILE* pipe = popen(command.c_str(), "r");
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.out.append(buffer.data(), n);
  r.status = WEXITSTATUS(pclose(pipe));
  std::ifstream err(errFile);
  std::stringstream text;
  text << err.rdbuf();
  r.err = text.str();
  std::remove(errFile.c_str());
  return r;
}

}  // namespace fennik::testing
