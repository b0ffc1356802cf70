#include "codec/audio/CMPA_Common.h"

#include <algorithm>

namespace fennik {

bool CMPA_Common::Init() {
  for (auto& buffer : out_) buffer.assign(FrameSamples(), 0);
  Reset();
  return true;
}

void CMPA_Common::Release() {
  for (auto& buffer : out_) buffer = {};
  samples_ = 0;
}

void CMPA_Common::Reset() {
  for (auto& s : synthesis_) s.Reset();
}

void CMPA_Common::Synthesize(int ch, const float* subbands, int slots, uint32_t offset) {
  std::vector<int16_t>& buffer = out_[ch];
  if (buffer.size() < offset + 32u * static_cast<uint32_t>(slots)) buffer.resize(offset + 32u * slots);
  for (int t = 0; t < slots; ++t) synthesis_[ch].Run(subbands + 32 * t, buffer.data() + offset + 32 * t, 1);
}

void CMPA_Common::Silence(uint32_t samples, int channels) {
  for (int ch = 0; ch < channels; ++ch) {
    if (out_[ch].size() < samples) out_[ch].resize(samples);
    std::fill_n(out_[ch].begin(), samples, int16_t{0});
  }
  samples_ = samples;
}

}  // namespace fennik
