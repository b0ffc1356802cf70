#include "codec/audio/CG726_Decode.h"

#include <algorithm>
#include <cstdint>

#include "base/BitReader.h"

namespace fennik {
namespace {

// RFC 3551 4.5.4 packing: code word k occupies bits k·n ... k·n + n − 1 of the frame,
// counting from the least significant bit of the first octet; a code word's first bit is
// its least significant one. Bits past the end of the frame read as 0.
class LsbFirstCodeReader {
 public:
  LsbFirstCodeReader(const uint8_t* data, size_t size) : data_(data), bits_(size * 8) {}
  uint32_t Read(int n) {
    uint32_t value = 0;
    for (int i = 0; i < n; ++i, ++pos_) {
      if (pos_ < bits_) value |= ((data_[pos_ >> 3] >> (pos_ & 7)) & 1u) << i;
    }
    return value;
  }

 private:
  const uint8_t* data_;
  size_t bits_;
  size_t pos_ = 0;
};

int CodeBitsForRate(uint32_t bitRate) {
  switch (bitRate) {
    case 24000: return 3;
    case 32000: return 4;
    case 40000: return 5;
    default: return 2;
  }
}

}  // namespace

CG726_Decode::CG726_Decode(bool aal2, uint32_t bitRate)
    : CAudioDecoder("[G726]"), aal2_(aal2), tables_(&G726TablesForCodeBits(CodeBitsForRate(bitRate))) {
  format_.codecType = aal2 ? kCodecTypeAal2 : kCodecTypeRtp;
  format_.channels = 1;
  format_.sampleRate = 8000;
  format_.bitsPerSample = static_cast<uint32_t>(tables_->codeBits);
  format_.bitRate = bitRate;
  format_.frameSize = 100;
  format_.samples = 160;
  G726ResetState(state_);
}

void CG726_Decode::SetBitRate(uint32_t bitRate) {
  tables_ = &G726TablesForCodeBits(CodeBitsForRate(bitRate));
  format_.bitsPerSample = static_cast<uint32_t>(tables_->codeBits);
}

void CG726_Decode::SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels,
                                  int32_t bitRate) {
  int64_t effective = bitRate;
  if (effective == 0) effective = int64_t{channels} * bitsPerSample * sampleRate;
  if (effective < 0 || effective > INT32_MAX) effective = 0;
  CAudioDecoder::SetAudioFormat(sampleRate, bitsPerSample, channels, static_cast<int32_t>(effective));
  SetBitRate(static_cast<uint32_t>(effective));
}

void CG726_Decode::SetRounding(G726Rounding rounding) {
  rounding_ = rounding;
  Reset();
}

void CG726_Decode::Reset() { G726ResetState(state_, rounding_); }

size_t CG726_Decode::Decode(const uint8_t* in, size_t length, int16_t* out,
                            size_t capacityBytes) {
  if (!BeginFrame(in, length, out)) return 0;

  const int n = tables_->codeBits;
  const size_t codeWords = (length * 8 + static_cast<size_t>(n) - 1) / static_cast<size_t>(n);
  size_t samples = std::min(codeWords, capacityBytes / 2);
  records_.reserve(samples);

  LsbFirstCodeReader lsbReader(in, length);
  BitReader msbReader(in, length);
  for (size_t k = 0; k < samples; ++k) {
    G726SampleRecord record;
    record.se = state_.se;
    record.y = state_.y;
    record.yu = state_.yu;
    record.yl = state_.yl;
    record.dms = state_.dms;
    record.dml = state_.dml;
    record.tdp = static_cast<uint32_t>(state_.td);
    record.code = aal2_ ? msbReader.Read(n) : lsbReader.Read(n);

    const G726SampleResult result = G726DecodeSample(state_, *tables_, record.code, rounding_);
    // 14-bit reconstructed signal to 16 bits; SR is kept to 16 bits as the standard does.
    const int16_t sample = static_cast<int16_t>(static_cast<uint16_t>(result.sr * 4));
    out[k] = sample;
    record.output = sample;
    record.dq = result.dq;
    record.tr = static_cast<uint32_t>(result.tr);
    records_.push_back(record);
  }
  return EndFrame(samples);
}

}  // namespace fennik
