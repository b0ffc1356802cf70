// The library-backed codec modules as the program loads them: each decodes frames made by
// its library's own encoder to exactly the samples the library's decoder gives, gives its
// licence notice, and refuses or ignores what is no frame.
// bcg729's headers declare C functions without a C++ guard.
extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}
#include <gsm/gsm.h>
#include <gtest/gtest.h>
#include <opus/opus.h>
#include <speex/speex.h>

#include <cmath>
#include <vector>

#include "codec/audio/CodecModules.h"

namespace fennik {
namespace {

// A voiced test signal: two tones with a slow amplitude swing.
std::vector<int16_t> TestSignal(size_t samples, int rate) {
  std::vector<int16_t> out(samples);
  for (size_t i = 0; i < samples; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double v = 6000 * std::sin(2 * M_PI * 220 * t) + 3000 * std::sin(2 * M_PI * 1375 * t);
    out[i] = static_cast<int16_t>(v * (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t)));
  }
  return out;
}

class LibraryModulesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadCodecModules(FENNIK_MODULE_DIR); }
  static void TearDownTestSuite() { UnloadCodecModules(); }

  // The module's decoder for the given channels and rate.
  struct Handle {
    const CodecModuleOps* ops;
    void* decoder;
    ~Handle() {
      if (decoder != nullptr) ops->Destroy(decoder);
    }
  };
  static Handle Open(CodecModule module, uint32_t channels, uint32_t rate) {
    const CodecModuleOps* ops = CodecModuleTable(module);
    EXPECT_NE(ops, nullptr) << CodecModuleFileName(module);
    if (ops == nullptr) return {nullptr, nullptr};
    CodecModuleConfig config;
    config.channels = channels;
    config.sampleRate = rate;
    return {ops, ops->Create(1, &config)};
  }
  static std::vector<int16_t> Decode(const Handle& h, const uint8_t* frame, size_t length,
                                     uint32_t capacity = 5760) {
    std::vector<int16_t> out(capacity);
    uint8_t info[16] = {};
    const int32_t n = h.ops->Decode(h.decoder, 0, frame, static_cast<uint32_t>(length), out.data(), capacity, info);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
  }
};

TEST_F(LibraryModulesTest, NoticesAndCreateRules) {
  const std::string notices = CodecModuleNotices();
  EXPECT_NE(notices.find("libspeex"), std::string::npos);
  EXPECT_NE(notices.find("Xiph.Org"), std::string::npos);
  EXPECT_NE(notices.find("Technische Universitaet Berlin"), std::string::npos);
  EXPECT_NE(notices.find("Belledonne Communications"), std::string::npos);
  // Speex's notice comes before Opus's, Opus's before GSM's, GSM's before G.729's.
  EXPECT_LT(notices.find("libspeex"), notices.find("libopus"));
  EXPECT_LT(notices.find("libopus"), notices.find("libgsm"));
  EXPECT_LT(notices.find("libgsm"), notices.find("bcg729"));
  for (CodecModule m : {CodecModule::kGsm, CodecModule::kOpus, CodecModule::kSpeex, CodecModule::kG729}) {
    const CodecModuleOps* ops = CodecModuleTable(m);
    ASSERT_NE(ops, nullptr) << CodecModuleFileName(m);
    CodecModuleConfig config;
    config.channels = 1;
    config.sampleRate = 8000;
    EXPECT_EQ(ops->Create(2, &config), nullptr);  // no encoding
    config.one = 0;
    EXPECT_EQ(ops->Create(1, &config), nullptr);
    EXPECT_EQ(ops->Create(1, nullptr), nullptr);
  }
}

TEST_F(LibraryModulesTest, GsmDecodesEveryFrameAsLibgsm) {
  const std::vector<int16_t> pcm = TestSignal(160 * 6, 8000);
  gsm encoder = gsm_create();
  std::vector<uint8_t> payload(33 * 6);
  for (size_t f = 0; f < 6; ++f) {
    gsm_encode(encoder, const_cast<gsm_signal*>(pcm.data() + 160 * f), payload.data() + 33 * f);
  }
  gsm_destroy(encoder);
  gsm reference = gsm_create();
  std::vector<int16_t> expected(160 * 6);
  for (size_t f = 0; f < 6; ++f) gsm_decode(reference, payload.data() + 33 * f, expected.data() + 160 * f);
  gsm_destroy(reference);

  Handle h = Open(CodecModule::kGsm, 1, 8000);
  ASSERT_NE(h.decoder, nullptr);
  // Two frames in one call, then four, then a partial frame that gives nothing.
  std::vector<int16_t> got = Decode(h, payload.data(), 66);
  const std::vector<int16_t> rest = Decode(h, payload.data() + 66, 33 * 4 + 10);
  got.insert(got.end(), rest.begin(), rest.end());
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(Decode(h, payload.data(), 32).empty());
  // A frame without the 0xD signature is refused; the output capacity is respected.
  uint8_t bad[33] = {0x20};
  EXPECT_TRUE(Decode(h, bad, 33).empty());
  EXPECT_EQ(Decode(h, payload.data(), 66, 200).size(), 160u);
}

TEST_F(LibraryModulesTest, OpusDecodesAsLibopusMonoAndStereo) {
  for (int channels : {1, 2}) {
    int error = 0;
    OpusEncoder* encoder = opus_encoder_create(48000, channels, OPUS_APPLICATION_AUDIO, &error);
    OpusDecoder* reference = opus_decoder_create(48000, channels, &error);
    Handle h = Open(CodecModule::kOpus, static_cast<uint32_t>(channels), 48000);
    ASSERT_NE(h.decoder, nullptr);
    const std::vector<int16_t> mono = TestSignal(48000 / 5, 48000);
    std::vector<int16_t> pcm;
    for (int16_t s : mono) pcm.insert(pcm.end(), static_cast<size_t>(channels), s);
    size_t at = 0;
    for (int frameSize : {120, 240, 480, 960, 1920, 2880, 960}) {
      if ((at + static_cast<size_t>(frameSize)) * static_cast<size_t>(channels) > pcm.size()) break;
      uint8_t packet[1500];
      const int bytes = opus_encode(encoder, pcm.data() + at * static_cast<size_t>(channels), frameSize, packet, sizeof packet);
      ASSERT_GT(bytes, 0);
      at += static_cast<size_t>(frameSize);
      std::vector<int16_t> expected(5760 * 2);
      const int n = opus_decode(reference, packet, bytes, expected.data(), 5760, 0);
      expected.resize(static_cast<size_t>(n * channels));
      EXPECT_EQ(Decode(h, packet, static_cast<size_t>(bytes), 5760 * 2), expected) << frameSize;
    }
    // A lost packet is concealed over the last packet's length.
    EXPECT_EQ(Decode(h, nullptr, 0, 5760 * 2).size(), static_cast<size_t>(960 * channels));
    // A packet with an invalid frame-count code gives nothing.
    const uint8_t bad[] = {0x03, 0x00};
    EXPECT_TRUE(Decode(h, bad, sizeof bad).empty());
    opus_encoder_destroy(encoder);
    opus_decoder_destroy(reference);
  }
}

TEST_F(LibraryModulesTest, SpeexDecodesEachModeAsLibspeex) {
  struct Mode {
    uint32_t rate;
    int id;
    size_t frame;
  };
  for (Mode m : {Mode{8000, SPEEX_MODEID_NB, 160}, Mode{16000, SPEEX_MODEID_WB, 320}, Mode{32000, SPEEX_MODEID_UWB, 640}}) {
    void* encoder = speex_encoder_init(speex_lib_get_mode(m.id));
    void* reference = speex_decoder_init(speex_lib_get_mode(m.id));
    const std::vector<int16_t> pcm = TestSignal(m.frame * 8, static_cast<int>(m.rate));
    SpeexBits bits;
    speex_bits_init(&bits);
    Handle h = Open(CodecModule::kSpeex, 1, m.rate);
    ASSERT_NE(h.decoder, nullptr);
    for (size_t f = 0; f < 8; f += 2) {
      // Two frames in one payload (RFC 5574 3.3).
      speex_bits_reset(&bits);
      std::vector<int16_t> in(pcm.begin() + static_cast<long>(f * m.frame), pcm.begin() + static_cast<long>((f + 2) * m.frame));
      speex_encode_int(encoder, in.data(), &bits);
      speex_encode_int(encoder, in.data() + m.frame, &bits);
      char payload[400];
      const int bytes = speex_bits_write(&bits, payload, sizeof payload);
      SpeexBits readBits;
      speex_bits_init(&readBits);
      speex_bits_read_from(&readBits, payload, bytes);
      std::vector<int16_t> expected(m.frame * 2);
      speex_decode_int(reference, &readBits, expected.data());
      speex_decode_int(reference, &readBits, expected.data() + m.frame);
      speex_bits_destroy(&readBits);
      EXPECT_EQ(Decode(h, reinterpret_cast<uint8_t*>(payload), static_cast<size_t>(bytes)), expected) << m.rate;
    }
    // An empty payload conceals one frame.
    EXPECT_EQ(Decode(h, nullptr, 0).size(), m.frame);
    speex_bits_destroy(&bits);
    speex_encoder_destroy(encoder);
    speex_decoder_destroy(reference);
  }
}

TEST_F(LibraryModulesTest, G729DecodesFramesAndSidAsBcg729) {
  bcg729EncoderChannelContextStruct* encoder = initBcg729EncoderChannel(1);  // with VAD/DTX
  bcg729DecoderChannelContextStruct* reference = initBcg729DecoderChannel();
  Handle h = Open(CodecModule::kG729, 1, 8000);
  ASSERT_NE(h.decoder, nullptr);
  std::vector<int16_t> pcm = TestSignal(80 * 40, 8000);
  // The second half is silence, so VAD sends SID frames and untransmitted frames.
  std::fill(pcm.begin() + 80 * 20, pcm.end(), int16_t{0});
  int sid = 0;
  for (size_t f = 0; f < 40; ++f) {
    uint8_t frame[10];
    uint8_t length = 0;
    bcg729Encoder(encoder, pcm.data() + 80 * f, frame, &length);
    std::vector<int16_t> expected(80);
    bcg729Decoder(reference, length ? frame : nullptr, length, length == 0, length == 2, 0, expected.data());
    sid += length == 2;
    EXPECT_EQ(Decode(h, frame, length), expected) << f;
  }
  EXPECT_GT(sid, 0);
  // A remainder that is no frame is left.
  const uint8_t odd[7] = {};
  EXPECT_TRUE(Decode(h, odd, sizeof odd).empty());
  closeBcg729EncoderChannel(encoder);
  closeBcg729DecoderChannel(reference);
}

}  // namespace
}  // namespace fennik
