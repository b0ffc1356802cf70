// MPEG audio: the Layer I/II/III decoders against ffmpeg's floating-point decoders on the
// committed streams of tests/data/mpa/ (made by scripts/make-mpa-captures with libmp3lame,
// ffmpeg's mp2 and libtwolame; see the README there), the same streams cut from the RTP
// capture mpa-rtp.pcap (RFC 2250, one stream with every frame in two packets; the Layer I
// stream is hand-made by scripts/corpus/mp1_write.py), header
// rules, and the synthesis DCT against its definition.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "capture/CRTP_Parser.h"
#include "capture/ErrorList.h"
#include "codec/audio/AudioCodecs.h"
#include "codec/audio/AudioViews.h"
#include "codec/audio/CMPA_Parser.h"
#include "codec/audio/MpaHeader.h"
#include "codec/audio/MpaSynthesis.h"
#include "view/CFieldTree.h"
#include "tests/support/TestSupport.h"

namespace fennik {
namespace {

const std::string kData = std::string(FENNIK_TEST_DATA) + "/mpa/";

std::vector<uint8_t> Load(const std::string& name) { return test::ReadFileBytes(kData + name); }
std::vector<int16_t> LoadPcm(const std::string& name) { return test::Pcm16(Load(name)); }

// SNR of `test` against `reference` with `test` running `delay` sample frames ahead, over
// the frames both have.
double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& test, size_t delay, int channels,
             size_t* compared = nullptr, size_t from = 0) {
  double signal = 0, noise = 0;
  size_t n = 0;
  for (size_t i = from * static_cast<size_t>(channels); i < reference.size() && i + delay * channels < test.size(); ++i, ++n) {
    const double a = reference[i], b = test[i + delay * channels];
    signal += a * a;
    noise += (a - b) * (a - b);
  }
  if (compared) *compared = n / static_cast<size_t>(channels);
  return noise == 0 ? 999 : 10 * std::log10(signal / noise);
}

struct DecoderUnderTest : CMPA_Decode {};

// Every frame of an elementary stream through DecodeToInternal and CopyPcm.
std::vector<int16_t> DecodeElementary(const std::vector<uint8_t>& data, int& channels) {
  DecoderUnderTest decoder;
  std::vector<int16_t> out, frame(1 << 14);
  for (size_t i = 0; i + 4 <= data.size(); ++i) {
    MpaHeader h;
    if (ParseMpaHeader(uint32_t{data[i]} << 24 | data[i + 1] << 16 | data[i + 2] << 8 | data[i + 3], h)) {
      EXPECT_TRUE(decoder.CreateLayerDecoder(h.layer));
      channels = h.channels;
      break;
    }
  }
  size_t pos = 0, consumed = 0;
  while (pos < data.size() && decoder.DecodeToInternal(data.data() + pos, data.size() - pos, &consumed) > 0) {
    const size_t bytes = decoder.CopyPcm(frame.data(), frame.size() * 2);
    out.insert(out.end(), frame.begin(), frame.begin() + static_cast<ptrdiff_t>(bytes / 2));
    pos += consumed;
  }
  return out;
}

struct Stream {
  const char* name;       // file name without extension
  const char* extension;
  uint16_t rtpPort;       // destination port in mpa-rtp.pcap
  int32_t codecType;
  size_t delay;           // ffmpeg drops the LAME encoder delay (1105 samples)
  size_t infoSamples;     // frames ffmpeg's demuxer does not pass on (the LAME Info
                          // frame; twolame's first frame), decoded from the file
};
constexpr Stream kStreams[] = {
    {"mp3-cbr-44k", ".mp3", 40000, 84, 1105, 1152},  {"mp3-vbr-44k", ".mp3", 40010, 84, 1105, 1152},
    {"mp3-22k-mono", ".mp3", 40020, 87, 1105, 576},  {"mp2-48k", ".mp2", 40030, 83, 0, 0},
    {"mp2-24k", ".mp2", 40040, 86, 0, 0},           {"mp3-11k-mono", ".mp3", 40050, 87, 1105, 576},
    {"mp2-32k-crc", ".mp2", 40060, 83, 0, 1152},     {"mp1-48k-joint", ".mp1", 40070, 82, 0, 0},
};

TEST(MpaDecode, ElementaryStreamsMatchFfmpegFloatDecodersAbove75Db) {
  for (const Stream& s : kStreams) {
    SCOPED_TRACE(s.name);
    int channels = 0;
    const std::vector<int16_t> ours = DecodeElementary(Load(std::string(s.name) + s.extension), channels);
    const std::vector<int16_t> reference = LoadPcm(std::string(s.name) + ".ref.s16le");
    ASSERT_FALSE(reference.empty());
    size_t compared = 0;
    // Where ffmpeg starts after a frame we decode, its filter bank starts from zeros: the
    // first frame of its output is left out of the comparison.
    const size_t from = s.extension == std::string(".mp2") && s.infoSamples ? 1152 : 0;
    EXPECT_GE(SnrDb(reference, ours, s.delay + s.infoSamples, channels, &compared, from), 75.0);
    EXPECT_GT(compared, reference.size() / channels * 9 / 10);
  }
}

class MpaCapture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    RegisterAudioCodecs();
    ErrorList::Instance().Clear();
    capture_ = new CRTP_Parser();
    ASSERT_EQ(capture_->Open(kData + "mpa-rtp.pcap"), OpenResult::kOk);
    ASSERT_TRUE(capture_->Analyse(nullptr));
  }
  static void TearDownTestSuite() {
    delete capture_;
    capture_ = nullptr;
  }
  static CMPA_Parser* StreamTo(uint16_t port) {
    for (uint32_t i = 0; i < capture_->Streams().size(); ++i) {
      if (capture_->Streams()[i].destinationPort == port) return dynamic_cast<CMPA_Parser*>(capture_->StreamObject(i));
    }
    return nullptr;
  }
  static CRTP_Parser* capture_;
};
CRTP_Parser* MpaCapture::capture_ = nullptr;

TEST_F(MpaCapture, EveryFrameSentIsListedAndDecodesLikeTheElementaryStream) {
  for (const Stream& s : kStreams) {
    SCOPED_TRACE(s.name);
    CMPA_Parser* stream = StreamTo(s.rtpPort);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->GetCodecType(), s.codecType);
    // The frames of the capture are the file's frames after the Info frame, in order: each
    // entry's bytes equal the file's bytes at that place.
    const std::vector<uint8_t> file = Load(std::string(s.name) + s.extension);
    const uint32_t count = static_cast<uint32_t>(stream->Frames().GetCount());
    ASSERT_GT(count, 5u);
    size_t at = 0;
    for (uint32_t i = 0; i < count; ++i) {
      uint32_t size = 0;
      uint64_t address = 0;
      const uint8_t* data = stream->GetFrameData(i, &size, &address);
      ASSERT_NE(data, nullptr) << "frame " << i;
      if (i == 0) {
        const auto found = std::search(file.begin(), file.end(), data, data + size);
        ASSERT_NE(found, file.end());
        at = static_cast<size_t>(found - file.begin());
      }
      ASSERT_LE(at + size, file.size());
      EXPECT_TRUE(std::equal(data, data + size, file.begin() + static_cast<ptrdiff_t>(at))) << "frame " << i;
      at += size;
    }
    // The muxer leaves out the last partly filled packet: at most 1400 bytes are missing.
    EXPECT_LE(file.size() - at, 1400u);

    AudioFormat format;
    ASSERT_TRUE(stream->GetAudioFormat(format));
    std::vector<int16_t> pcm;
    for (uint32_t i = 0; i < count; ++i) {
      ASSERT_NE(stream->DecodeFrame(i), ~uint64_t{0});
      EXPECT_EQ(stream->PcmBytes(), format.samples * format.channels * 2) << "frame " << i;
      pcm.insert(pcm.end(), stream->Pcm(), stream->Pcm() + stream->PcmBytes() / 2);
    }
    const std::vector<int16_t> reference = LoadPcm(std::string(s.name) + ".ref.s16le");
    EXPECT_GE(SnrDb(reference, pcm, s.delay, static_cast<int>(format.channels)), 75.0);
  }
}

TEST_F(MpaCapture, LowerSamplingRateLayerIIIFramesLast576Samples) {
  CMPA_Parser* stream = StreamTo(40020);  // 22.05 kHz MPEG-2 Layer III
  ASSERT_NE(stream, nullptr);
  AudioFormat format;
  ASSERT_TRUE(stream->GetAudioFormat(format));
  EXPECT_EQ(format.samples, 576u);
  EXPECT_EQ(stream->GetTime(10), uint64_t{10} * 576 * 1000000 / 22050);
  EXPECT_STREQ(stream->GetCodecName(), "MP3 Audio");
}

std::string FrameText(CMPA_Parser& stream, uint32_t index) {
  CFieldTree tree;
  stream.ShowFrameInfo(tree, index);
  stream.ShowFrameDetail(tree, index);
  return RenderText(tree.Rows());
}

TEST_F(MpaCapture, TreesShowTheHeaderTheCrcTheSideInformationAndThePayloadHeader) {
  CMPA_Parser* mp3 = StreamTo(40050);
  ASSERT_NE(mp3, nullptr);
  const std::string text = FrameText(*mp3, 3);
  test::ExpectContains(text, {"MPEG-2 AUDIO INFORMATION", "MPEG-2.5 (Layer-III)", "11.025kHz", "GRANUL[0], CHANNEL[0]",
                              "Frag_offset"});
  EXPECT_EQ(text.find("GRANUL[1]"), std::string::npos);  // one granule

  CMPA_Parser* crc = StreamTo(40060);
  ASSERT_NE(crc, nullptr);
  const std::string crcText = FrameText(*crc, 0);
  test::ExpectContains(crcText, {"cyclic redundancy check", "MPEG-1 (Layer-II)"});
  EXPECT_EQ(crcText.find("main_data_end"), std::string::npos);

  // Frame list: CH and BITRATE for every frame, DATA_END and GAIN for Layer III only.
  CView_AudioFrameList list(*mp3);
  CRowLine title;
  list.ColumnTitle(title);
  EXPECT_NE(title.Text().find("DATA_END    GAIN"), std::string::npos);
  CRowLine row;
  int colour = 0;
  ASSERT_TRUE(list.ItemRow(3, row, colour));
  MpaFrameHeader fh;
  ASSERT_TRUE(mp3->GetFrameHeader(3, fh));
  ASSERT_TRUE(fh.haveSideInfo);
  const std::string cells = row.Text();
  test::ExpectContains(cells, {"16,000", " " + std::to_string(fh.side.gr[0][0].global_gain)});
  CView_AudioFrameList mp2List(*crc);
  CRowLine mp2Row;
  ASSERT_TRUE(mp2List.ItemRow(0, mp2Row, colour));
  EXPECT_EQ(mp2Row.Text().find_last_not_of(' '), mp2Row.Text().find("128,000") + 6);
}

TEST(MpaParse, StrayTagBytesAndFalseFreeFormatHeadersNeitherStallNorHideFrames) {
  // "ID3" that is no tag header, a free-format header with no second one in reach, then the
  // frames of a real stream: every frame is found.
  const std::vector<uint8_t> file = Load("mp2-24k.mp2");
  std::vector<uint8_t> bytes = {'I', 'D', '3', 0xFF, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
  const uint8_t freeFormat[4] = {0xFF, 0xFD, 0x04, 0x44};  // MPEG-1 Layer II, bitrate_index 0
  bytes.insert(bytes.end(), freeFormat, freeFormat + 4);
  bytes.resize(bytes.size() + 100, 0x11);
  bytes.insert(bytes.end(), file.begin(), file.end());
  for (int copy = 0; copy < 5; ++copy) bytes.insert(bytes.end(), file.begin(), file.end());
  CMPA_Parser parser;
  CAnarizeBuffer buffer(1);
  buffer.Append(bytes.data(), static_cast<uint32_t>(bytes.size()),
                AnarizePacket{0, 0, 42, 1, static_cast<uint32_t>(bytes.size()), 1, ~uint64_t{0}});
  CPayloadDescriptor descriptor;
  descriptor.Add(&buffer);
  parser.SetStreamId(1);
  parser.Parse(1, descriptor);
  EXPECT_EQ(parser.Frames().GetCount(), 6 * file.size() / 384);
}

TEST(MpaHeader, ValidationAndDerivedValues) {
  MpaHeader h;
  // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, padding, joint stereo.
  ASSERT_TRUE(ParseMpaHeader(0xFFFB9244, h));
  EXPECT_EQ(h.layer, 3);
  EXPECT_EQ(h.bitRate, 128000u);
  EXPECT_EQ(h.sampleRate, 44100u);
  EXPECT_EQ(h.frameSize, 144u * 128000 / 44100 + 1);
  EXPECT_EQ(h.samples, 1152u);
  EXPECT_EQ(h.packed & 0x7FF, 0x7FFu);
  EXPECT_EQ((h.packed >> 24) & 3, 1u);  // mode
  // Free format: the size is not derivable from the header.
  ASSERT_TRUE(ParseMpaHeader(0xFFFB0244, h));
  EXPECT_EQ(h.frameSize, 4u);
  // MPEG-2.5 Layer III at 8 kHz: 576 samples, 72 × bit rate ÷ sample rate.
  ASSERT_TRUE(ParseMpaHeader(0xFFE38800, h));
  EXPECT_EQ(h.sampleRate, 8000u);
  EXPECT_EQ(h.samples, 576u);
  EXPECT_EQ(h.frameSize, 72u * 64000 / 8000);
  // Layer I: (12 × bit rate ÷ sample rate + padding) × 4.
  ASSERT_TRUE(ParseMpaHeader(0xFFFFE200, h));
  EXPECT_EQ(h.frameSize, (12u * 448000 / 44100 + 1) * 4);
  EXPECT_EQ(h.samples, 384u);
  // Invalid: layer 00, bitrate_index 15, sampling_frequency 3, missing sync bit.
  EXPECT_FALSE(ParseMpaHeader(0xFFF99244, h));
  EXPECT_FALSE(ParseMpaHeader(0xFFFBF244, h));
  EXPECT_FALSE(ParseMpaHeader(0xFFFB9C44, h));
  EXPECT_FALSE(ParseMpaHeader(0xFFDB9244, h));
}

TEST(MpaSynthesisDct, FastFactorisationEqualsTheDefinition) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (int trial = 0; trial < 20; ++trial) {
    float in[32], out[32];
    for (float& v : in) v = value(random);
    MpaDct32(in, out);
    for (int m = 0; m < 32; ++m) {
      double expected = 0;
      for (int k = 0; k < 32; ++k) expected += in[k] * std::cos((2 * k + 1) * m * std::numbers::pi / 64);
      EXPECT_NEAR(out[m], expected, 2e-4) << "m " << m;
    }
  }
}

TEST(MpaDecode, DamagedStreamsDecodeWithoutReadingPastTheirBytes) {
  // Flipped bits in every frame and every possible cut of a frame: the decoder returns for
  // each and produces full frames or nothing (AddressSanitizer checks the reads).
  for (const char* name : {"mp3-cbr-44k.mp3", "mp2-24k.mp2", "mp3-22k-mono.mp3"}) {
    std::vector<uint8_t> data = Load(name);
    std::mt19937 random(11);
    for (size_t i = 200; i < data.size(); i += 97) data[i] ^= static_cast<uint8_t>(1u << (random() % 8));
    int channels = 0;
    const std::vector<int16_t> pcm = DecodeElementary(data, channels);
    EXPECT_GT(pcm.size(), 0u) << name;
    DecoderUnderTest decoder;
    ASSERT_TRUE(decoder.CreateLayerDecoder(std::string(name).find("mp2") != std::string::npos ? 2 : 3));
    for (size_t cut = 0; cut < 700 && cut < data.size(); cut += 13) {
      std::vector<uint8_t> part(data.begin(), data.begin() + static_cast<ptrdiff_t>(cut));
      size_t consumed = 0;
      decoder.DecodeToInternal(part.data(), part.size(), &consumed);
      EXPECT_LE(consumed, part.size());
    }
  }
}

}  // namespace
}  // namespace fennik
