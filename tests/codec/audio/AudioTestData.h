// Loading the committed audio test vectors (tests/data/audio/, written by
// scripts/make-audio-vectors from ffmpeg's and SoX's encoders and decoders).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace fennik::testdata {

inline std::vector<uint8_t> LoadAudioFile(const std::string& name) {
  return test::ReadFileBytes(test::TestData("audio/" + name));
}

// A little-endian 16-bit PCM file as samples.
inline std::vector<int16_t> LoadPcm16(const std::string& name) { return test::Pcm16(LoadAudioFile(name)); }

// Feeds `stream` to `decode` in frames of frameBytes (the last one shorter), appending the
// output; decode has the decoders' Decode signature.
template <typename Decoder>
std::vector<int16_t> DecodeInFrames(Decoder& decoder, const std::vector<uint8_t>& stream,
                                    size_t frameBytes, size_t samplesPerByteBound = 2) {
  std::vector<int16_t> out(stream.size() * samplesPerByteBound + 16);
  size_t produced = 0;
  for (size_t offset = 0; offset < stream.size(); offset += frameBytes) {
    const size_t length = std::min(frameBytes, stream.size() - offset);
    produced += decoder.Decode(stream.data() + offset, length, out.data() + produced / 2,
                               (out.size() - produced / 2) * 2);
  }
  out.resize(produced / 2);
  return out;
}

}  // namespace fennik::testdata
