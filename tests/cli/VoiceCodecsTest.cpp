// fennik-cli on the voice codec capture (tests/data/voice/voice-sip-udp.pcap, made by
// scripts/make-voice-captures: GSM and G.729 frames sent by a test sender, Speex and Opus by
// ffmpeg's RTP muxer, SIP with SDP): decoding through the codec modules equals each
// library's own decoding of the captured payloads (decoded.md5), frame lists and the
// parameters the information views unpack, checked against the payload bytes and the
// encoders' settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/codec/video/Md5.h"
#include "tests/support/CaptureSupport.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

using fennik::test::Cli;
using fennik::test::CommandRun;

const std::string kVoice = std::string(FENNIK_TEST_DATA) + "/voice/";
const std::string kCapture = kVoice + "voice-sip-udp.pcap";

// The capture's stream sent from `port`.
const test::CapturedStream& Voice(uint16_t port) {
  static const std::map<uint16_t, test::CapturedStream> streams = [] {
    std::map<uint16_t, test::CapturedStream> byPort;
    for (test::CapturedStream& s : test::CapturedStreams(kCapture)) byPort[s.sourcePort] = std::move(s);
    return byPort;
  }();
  return streams.at(port);
}

std::string Id(uint16_t port) { return std::to_string(Voice(port).id); }

bool ModulesBuilt() {
  for (const char* m : {"xcgsm_x64.so", "xcopus_x64.so", "xcspeex_x64.so", "xcg729_x64.so"}) {
    const std::string cli = FENNIK_CLI_PATH;
    if (!std::ifstream(cli.substr(0, cli.rfind('/') + 1) + m)) return false;
  }
  return true;
}

std::string Show(uint16_t port, int frame) {
  CommandRun r = Cli("show " + kCapture + " --stream " + Id(port) + " --frame " + std::to_string(frame));
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// The value column of the first row named `name` (after `from`), or "".
std::string Value(const std::string& text, const std::string& name, size_t from = 0) {
  const size_t at = text.find(" " + name + " ", from);
  if (at == std::string::npos) return {};
  const size_t end = text.find('\n', at);
  std::istringstream row(text.substr(at + name.size() + 1, end - at - name.size() - 1));
  std::string bits, pattern, value;
  row >> bits >> pattern >> value;
  return value;
}

TEST(VoiceCodecs, DecodingEqualsTheLibrariesOwn) {
  if (!ModulesBuilt()) GTEST_SKIP() << "codec modules not built (libraries missing)";
  std::ifstream list(kVoice + "decoded.md5");
  std::string digest, name;
  size_t samples = 0;
  int streams = 0;
  while (list >> digest >> name >> samples) {
    const uint16_t port = static_cast<uint16_t>(std::stoi(name));
    const test::TempPath wav("voice.wav");
    // Frames back to back, as the libraries decoded them (Annex B's untransmitted frames
    // would be silence on the RTP timeline).
    CommandRun r = Cli("decode " + kCapture + " --stream " + Id(port) + " --concatenate -o " + wav.Path());
    ASSERT_EQ(r.status, 0) << name << r.err;
    const std::vector<uint8_t> bytes = test::ReadFileBytes(wav.Path());
    ASSERT_GT(bytes.size(), 44u);
    test::Md5 md5;
    md5.Update(bytes.data() + 44, bytes.size() - 44);
    EXPECT_EQ((bytes.size() - 44) / 2, samples) << name;
    EXPECT_EQ(md5.HexDigest(), digest) << name;
    ++streams;
  }
  EXPECT_EQ(streams, 10);
}

TEST(VoiceCodecs, GsmListsEveryFrameOfAPacket) {
  // 26104 sends two 33-byte frames a packet, 36104 one: both list the same 50 frames, and the
  // second frame of a packet starts 33 bytes into its payload.
  CommandRun two = Cli("frames " + kCapture + " --stream " + Id(26104));
  CommandRun one = Cli("frames " + kCapture + " --stream " + Id(36104));
  ASSERT_EQ(two.status, 0);
  EXPECT_EQ(Voice(26104).payloads.size(), 25u);
  auto rows = [](const std::string& text) {
    std::vector<std::string> r;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line.find("0x0") != std::string::npos) r.push_back(line);
    }
    return r;
  };
  const auto a = rows(two.out), b = rows(one.out);
  ASSERT_EQ(a.size(), 50u);
  ASSERT_EQ(b.size(), 50u);
  const auto address = [](const std::string& row) { return std::stoull(row.substr(row.find("0x")), nullptr, 16); };
  EXPECT_EQ(address(a[1]) - address(a[0]), 33u);
  EXPECT_NE(a[49].find("00:00:00.980000"), std::string::npos) << a[49];

  // Frame 1 of 26104 is the second frame of the first packet. Its parameters, worked out
  // here from the bytes: signature 0xD in the top nibble, LAR1 the next 6 bits, LAR2 6 ...
  const std::vector<uint8_t>& p = Voice(26104).payloads[0];
  const uint8_t* f = p.data() + 33;
  const std::string text = Show(26104, 1);
  EXPECT_EQ(f[0] >> 4, 0xD);
  EXPECT_EQ(Value(text, "Magic number"), "0xD");
  EXPECT_EQ(Value(text, "Log. Area ratios 1"), std::to_string(((f[0] & 0x0F) << 2) | (f[1] >> 6)));
  EXPECT_EQ(Value(text, "Log. Area ratios 2"), std::to_string(f[1] & 0x3F));
  EXPECT_EQ(Value(text, "Log. Area ratios 3"), std::to_string(f[2] >> 3));
  EXPECT_EQ(Value(text, "Log. Area ratios 4"), std::to_string(((f[2] & 7) << 2) | (f[3] >> 6)));
  EXPECT_EQ(Value(text, "Log. Area ratios 8"), std::to_string(f[4] & 7));
  // Sub-frame 4's last pulse is the frame's last three bits.
  const size_t sub4 = text.find("Sub-frame no.4");
  EXPECT_EQ(Value(text, "RPE-pulse no.13", sub4), std::to_string(f[32] & 7));
}

TEST(VoiceCodecs, G729ShowsEveryFrameAndTheAnnexBSidFrame) {
  // Two 10-byte frames a packet: two parameter sets; L0 is the first bit, L1 the next 7.
  const std::vector<uint8_t>& p = Voice(26114).payloads[4];
  ASSERT_EQ(p.size(), 20u);
  std::string text = Show(26114, 4);
  EXPECT_NE(text.find("Frame 2\n"), std::string::npos);
  EXPECT_EQ(Value(text, "Switched MA predictor of LSP quantizer(L0)"), std::to_string(p[0] >> 7));
  EXPECT_EQ(Value(text, "First stage vector of quantizer(L1)"), std::to_string(p[0] & 0x7F));
  EXPECT_EQ(Value(text, "Switched MA predictor of LSP quantizer(L0)", text.find("Frame 2")),
            std::to_string(p[10] >> 7));
  // The Annex B stream: a packet of a speech frame and a SID frame, then silence (frames not
  // sent) and speech again.
  const auto& b = Voice(26124).payloads;
  size_t sid = 0;
  while (sid < b.size() && b[sid].size() != 12) ++sid;
  ASSERT_LT(sid, b.size());
  text = Show(26124, static_cast<int>(sid));
  EXPECT_NE(text.find("Frame 2 (SID, Annex B)"), std::string::npos);
  const uint8_t* s = b[sid].data() + 10;
  EXPECT_EQ(Value(text, "First stage vector of LSF quantizer"), std::to_string((s[0] >> 2) & 0x1F));
  EXPECT_EQ(Value(text, "Gain (Energy)"), std::to_string((s[1] >> 1) & 0x1F));
}

TEST(VoiceCodecs, OpusTocOfEachEncoderSetting) {
  struct Case {
    uint16_t port;
    const char* config;
    const char* stereo;
    const char* code;
    size_t frames;
  };
  // libopus at 20 ms and 40 ms in CELT full band, 60 ms as three 20 ms frames, and the voip
  // application at 12 kbit/s SILK wideband 10 ms.
  for (const Case& c : {Case{26144, "31", "0", "0", 51}, Case{36144, "31", "1", "2", 26},
                        Case{36154, "31", "1", "3", 17}, Case{26154, "8", "0", "0", 101}}) {
    const std::string text = Show(c.port, 5);
    EXPECT_EQ(Value(text, "operating mode"), c.config) << c.port;
    EXPECT_EQ(Value(text, "stereo/mono"), c.stereo) << c.port;
    EXPECT_EQ(Value(text, "number of frames per packet"), c.code) << c.port;
    EXPECT_EQ(Voice(c.port).payloads.size(), c.frames);
    if (std::string(c.code) == "3") {
      EXPECT_EQ(Value(text, "frame count"), "3");
    }
    EXPECT_NE(text.find("frame 1 length"), std::string::npos);
  }
}

TEST(VoiceCodecs, SpeexModesMatchTheFrameSizes) {
  // ffmpeg's libspeex at its default quality: narrowband mode 5 (300 bits, 38 bytes a
  // packet); wideband two frames a packet, each narrowband mode 6 (364 bits) with a
  // wideband layer in mode 3 (192 bits): 1112 bits, 139 bytes.
  EXPECT_EQ(Voice(26134).payloads[3].size(), 38u);
  std::string text = Show(26134, 3);
  EXPECT_EQ(Value(text, "Mode ID"), "5");
  EXPECT_NE(text.find("8kHz"), std::string::npos);
  EXPECT_EQ(Voice(36134).payloads[3].size(), 139u);
  text = Show(36134, 3);
  const size_t second = text.find("Frame 2");
  ASSERT_NE(second, std::string::npos);
  EXPECT_EQ(Value(text, "Mode ID"), "6");
  EXPECT_EQ(Value(text, "Mode ID", text.find("Wideband bit                                 1  1")), "3");
  EXPECT_EQ(Value(text, "Mode ID", second), "6");
  EXPECT_NE(text.find("16kHz"), std::string::npos);
  // The narrowband frame's first LSP index: bits 5-10 of the payload.
  const auto& p = Voice(26134).payloads[3];
  EXPECT_EQ(Value(Show(26134, 3), "LSP[0]"), std::to_string(((p[0] & 7) << 3) | (p[1] >> 5)));
}

TEST(VoiceCodecs, WithoutModulesStreamsAreShownButNotDecoded) {
  // The program alone in a folder of its own: no module lies next to it.
  const test::TempDir folder;
  std::filesystem::copy_file(FENNIK_CLI_PATH, folder / "fennik-cli");
  std::filesystem::permissions(folder / "fennik-cli", std::filesystem::perms::owner_all);
  auto run = [&](const std::string& arguments) {
    CommandRun r = test::RunCommand(folder / "fennik-cli " + arguments);
    r.out += r.err;
    return r;
  };
  const std::string stream = " --stream " + Id(26104);
  CommandRun shown = run("show " + kCapture + stream + " --frame 49");
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(Value(shown.out, "Magic number"), "0xD");
  // The frame keeps its time (49 frames of 160 samples) although nothing was decoded.
  EXPECT_NE(shown.out.find("00:00:00.980000"), std::string::npos);
  CommandRun decoded = run("decode " + kCapture + stream + " -o " + (folder / "out.wav"));
  EXPECT_EQ(decoded.status, 0);
  EXPECT_NE(decoded.out.find("50 of 50 frames gave no samples"), std::string::npos) << decoded.out;
}

}  // namespace
}  // namespace fennik
