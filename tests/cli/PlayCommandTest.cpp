// fennik-cli play on tests/data/sample.pcap (two PCMU directions of 150 packets) through
// ALSA devices defined by an asoundrc the test writes: the "null" plugin that takes every
// block, and a hardware device that does not exist.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

namespace fennik {
namespace {

const std::string kSample = std::string(FENNIK_TEST_DATA) + "/sample.pcap";

std::string AlsaConfig() {
  char dir[] = "/tmp/fennik-play-cli-XXXXXX";
  const std::string base = mkdtemp(dir) ? dir : "/tmp";
  const std::string conf = base + "/asoundrc";
  std::ofstream(conf) << "pcm.fennik_null { type null }\n"
                         "pcm.fennik_nocard { type hw card 63 }\n";
  return conf;
}

struct Output {
  int status;
  std::string text;  // standard output and standard error
};

Output Play(const std::string& arguments) {
  static const std::string conf = AlsaConfig();
  const std::string command = "ALSA_CONFIG_PATH=" + conf + " " + FENNIK_CLI_PATH + " play " + arguments + " 2>&1";
  Output r{};
  FILE* pipe = popen(command.c_str(), "r");
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) r.text.append(buffer.data(), n);
  r.status = WEXITSTATUS(pclose(pipe));
  return r;
}

TEST(PlayCommandTest, PlaysToTheEndShowingTheStreamTime) {
  const Output r = Play(kSample + " --stream 1 --device fennik_null");
  EXPECT_EQ(r.status, 0) << r.text;
  EXPECT_NE(r.text.find("playing stream 1 (G.711, 8000 Hz) on fennik_null, 00:03.0\n"), std::string::npos) << r.text;
  // Not a terminal: one line per second of stream time.
  EXPECT_NE(r.text.find("\n00:00.0\n00:01.0\n00:02.0\nend of stream\n"), std::string::npos) << r.text;
}

TEST(PlayCommandTest, DeviceFailuresAndBadStreamsAreReported) {
  Output r = Play(kSample + " --stream 2 --device fennik_nocard");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.text.find("fennik-cli: the sound device \"fennik_nocard\" could not be opened"), std::string::npos)
      << r.text;
  EXPECT_EQ(r.text.find("ALSA lib"), std::string::npos) << "ALSA's own error lines stay out of the output";

  r = Play(kSample + " --stream 3 --device fennik_null");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.text.find("unknown stream id 3"), std::string::npos) << r.text;
  r = Play(kSample + " --device fennik_null");
  EXPECT_EQ(r.status, 2);
  r = Play("/nonexistent.pcap --stream 1");
  EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace fennik
