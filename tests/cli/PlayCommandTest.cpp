// fennik-cli play on tests/data/sample.pcap (two PCMU directions of 150 packets) through
// ALSA devices defined by an asoundrc the test writes: the "null" plugin that takes every
// block, and a hardware device that does not exist.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

const std::string kSample = test::TestData("sample.pcap");

// `out`: standard output and standard error.
test::CommandRun Play(const std::string& arguments) {
  static const test::TempPath conf("asoundrc");
  if (!test::FileExists(conf.Path())) {
    test::WriteFile(conf.Path(), "pcm.fennik_null { type null }\n"
                                 "pcm.fennik_nocard { type hw card 63 }\n");
  }
  test::CommandRun run = test::RunCommand("ALSA_CONFIG_PATH=" + conf.Path() + " " + FENNIK_CLI_PATH + " play " + arguments);
  run.out += run.err;
  return run;
}

TEST(PlayCommandTest, PlaysToTheEndShowingTheStreamTime) {
  const test::CommandRun r = Play(kSample + " --stream 1 --device fennik_null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("playing stream 1 (G.711, 8000 Hz) on fennik_null, 00:03.0\n"), std::string::npos) << r.out;
  // Not a terminal: one line per second of stream time.
  EXPECT_NE(r.out.find("\n00:00.0\n00:01.0\n00:02.0\nend of stream\n"), std::string::npos) << r.out;
}

TEST(PlayCommandTest, DeviceFailuresAndBadStreamsAreReported) {
  test::CommandRun r = Play(kSample + " --stream 2 --device fennik_nocard");
  EXPECT_EQ(r.status, 1);
  test::ExpectContains(r.out, {"fennik-cli: the sound device \"fennik_nocard\" could not be opened"});
  EXPECT_EQ(r.out.find("ALSA lib"), std::string::npos) << "ALSA's own error lines stay out of the output";

  r = Play(kSample + " --stream 3 --device fennik_null");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("unknown stream id 3"), std::string::npos) << r.out;
  r = Play(kSample + " --device fennik_null");
  EXPECT_EQ(r.status, 2);
  r = Play("/nonexistent.pcap --stream 1");
  EXPECT_EQ(r.status, 1);
}

// Ctrl-C while the play runs into a WAV file at a device's pace (the 3 s stream cannot have
// been played when its first time line appears): the play stops, the tool says so, exits
// with 0 and the WAV file is complete and shorter than the stream.
TEST(PlayCommandTest, InterruptStopsThePlayCleanly) {
  const test::TempPath wavFile("out.wav");
  const std::string& wav = wavFile.Path();
  const std::string device = "wav:" + wav;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execl(FENNIK_CLI_PATH, FENNIK_CLI_PATH, "play", kSample.c_str(), "--stream", "1", "--device", device.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  char buffer[256];
  bool interrupted = false;
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(n));
    if (!interrupted && text.find("\n00:00.0\n") != std::string::npos) {
      interrupted = true;
      kill(child, SIGINT);
    }
  }
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << text;
  EXPECT_EQ(WEXITSTATUS(status), 0) << text;
  EXPECT_TRUE(interrupted) << text;
  EXPECT_EQ(text.substr(text.size() - 8), "stopped\n") << text;
  const auto size = static_cast<long long>(std::filesystem::file_size(wav));
  // Header plus whole 100 ms blocks of 8000 Hz stereo, fewer than the stream's 3 s (none
  // when the stop came before the device started, which waits for two blocks of PCM).
  EXPECT_GE(size, 44);
  EXPECT_EQ((size - 44) % 3200, 0) << size;
  EXPECT_LT(size - 44, 30 * 3200) << size;
}

}  // namespace
}  // namespace fennik
