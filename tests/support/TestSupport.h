// What every test folder needs: the committed fixtures, whole-file reads and writes,
// temporary files and folders that remove themselves, and running the built fennik-cli.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace fennik::test {

// A committed fixture: `name` below tests/data.
inline std::string TestData(const std::string& name) { return std::string(FENNIK_TEST_DATA) + "/" + name; }

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Little-endian 16-bit samples of `bytes` from byte `skip` on (raw PCM, or a WAV file's
// data after its 44-byte header).
inline std::vector<int16_t> Pcm16(const std::vector<uint8_t>& bytes, size_t skip = 0) {
  std::vector<int16_t> samples(bytes.size() > skip ? (bytes.size() - skip) / 2 : 0);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[skip + 2 * i] | (bytes[skip + 2 * i + 1] << 8));
  }
  return samples;
}

// Writes the whole file, making its folder first.
inline void WriteFile(const std::string& path, const std::string& data) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

// Expects every one of `parts` somewhere in `text`, naming each one missing.
inline void ExpectContains(const std::string& text, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\n" << text;
  }
}

inline bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

// A fresh folder of its own under the temporary folder, removed with everything in it at
// the end of its scope (ctest runs the tests of a folder in parallel processes).
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fennik-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One file's path in a temporary folder of its own, removed at the end of its scope.
class TempPath {
 public:
  explicit TempPath(const std::string& name = "file") : path_(dir_ / name) {}
  const std::string& Path() const { return path_; }

 private:
  TempDir dir_;
  std::string path_;
};

// The standard output, the standard error and the exit status of a command line.
struct CommandRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `command` through the shell; standard error goes through a file of its own.
inline CommandRun RunCommand(const std::string& command) {
  TempPath errFile("stderr.txt");
  CommandRun run;
  FILE* pipe = popen((command + " 2>" + errFile.Path()).c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return run;
  }
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadFileText(errFile.Path());
  return run;
}

#ifdef FENNIK_CLI_PATH
// The built fennik-cli as a user runs it; `arguments` follow the tool on a shell command line.
inline CommandRun Cli(const std::string& arguments) {
  return RunCommand(std::string(FENNIK_CLI_PATH) + " " + arguments);
}

// A command line the tool refuses: its exit status and a part of its error message.
struct Refusal {
  std::string arguments;
  int status;
  const char* message = "";
};

inline void ExpectRefusals(std::initializer_list<Refusal> refusals) {
  for (const Refusal& r : refusals) {
    const CommandRun run = Cli(r.arguments);
    EXPECT_EQ(run.status, r.status) << r.arguments;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << r.arguments << ": " << run.err;
  }
}
#endif

}  // namespace fennik::test
