// The iLBC enhancer (RFC 3951 4.6): each 80-sample block of the residual is smoothed towards a
// weighted mean of its pitch-synchronous neighbours found in the past and future (a 640-sample
// history holds them), limited so that the change stays below 5 % of the block's energy.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "codec/audio/ilbc/IlbcDecoder.h"
#include "codec/audio/ilbc/IlbcDsp.h"
#include "codec/audio/ilbc/IlbcTables.h"

namespace fennik::ilbc {
namespace {

constexpr int kBlock = 80;          // enhancement block
constexpr int kHalfBlock = 40;
constexpr int kHalfLength = 3;      // 2 * 3 + 1 pitch-synchronous segments
constexpr int kSlop = 2;            // search range around an estimated segment position
constexpr int kOverhang = 2;
constexpr int kUpsample = 4;
constexpr int kFilterHalf = 3;      // 7-tap fractional-delay filters
constexpr int kVectorLen = kBlock + 2 * kFilterHalf;
constexpr int kBufLen = 640;
constexpr int kPeriods = 8;
constexpr float kAlpha = 0.05f;     // largest allowed change, as a fraction of the energy
constexpr float kPeriodLocations[kPeriods] = {40, 120, 200, 280, 360, 440, 520, 600};

int NearestLocation(const float* locations, float value) {
  int best = 0;
  float bestDist = (locations[0] - value) * (locations[0] - value);
  for (int i = 1; i < kPeriods; ++i) {
    const float d = (locations[i] - value) * (locations[i] - value);
    if (d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

// The segment of `data` near `estimate` that correlates best with the block at `center`,
// located to a quarter sample and interpolated from the polyphase filters. Writes the
// segment and returns its refined start position.
float Refine(const float* data, int center, float estimate, float* segment) {
  const int rounded = static_cast<int>(estimate - 0.5f);
  const int first = std::max(rounded - kSlop, 0);
  const int last = std::min(rounded + kSlop, kBufLen - kBlock - 1);
  const int count = std::max(last - first + 1, 1);
  float corr[2 * kSlop + 1];
  for (int i = 0; i < count; ++i) {
    float acc = 0.0f;
    for (int j = 0; j < kBlock; ++j) acc += data[first + i + j] * data[center + j];
    corr[i] = acc;
  }
  // Upsample the correlation by 4 (zeros outside it) and take its maximum.
  const int half = std::min(kFilterHalf, count / 2);
  const int taps = 2 * half + 1;
  int bestIndex = 0;
  float best = 0.0f;
  for (int m = 0; m < count; ++m) {
    for (int phase = 0; phase < kUpsample; ++phase) {
      const float* h = kPolyphase + phase * (2 * kFilterHalf + 1) + (kFilterHalf - half);
      float acc = 0.0f;
      for (int k = 0; k < taps; ++k) {
        const int i = m + half - k;
        if (i >= 0 && i < count) acc += corr[i] * h[k];
      }
      const int index = m * kUpsample + phase;
      if (index == 0 || acc > best) {
        best = acc;
        bestIndex = index;
      }
    }
  }
  const float refined = static_cast<float>(first) + static_cast<float>(bestIndex) / kUpsample + 1.0f;
  const int whole = (bestIndex + kUpsample - 1) / kUpsample;
  const int fraction = whole * kUpsample - bestIndex;
  float vector[kVectorLen];
  const int st = first + whole - kFilterHalf;
  for (int i = 0; i < kVectorLen; ++i) {
    const int j = st + i;
    vector[i] = j >= 0 && j < kBufLen ? data[j] : 0.0f;
  }
  const float* h = kPolyphase + (2 * kFilterHalf + 1) * fraction;
  for (int i = 0; i < kBlock; ++i) {
    float acc = 0.0f;
    for (int k = 0; k < 2 * kFilterHalf + 1; ++k) acc += vector[i + k] * h[k];
    segment[i] = acc;
  }
  return refined;
}

// The 2 * 3 + 1 pitch-synchronous segments around the block at `center` (RFC 3951 4.6.2):
// three before it, following the pitch periods backwards, and three after it.
void GatherSegments(const float* data, int center, const float* period, float* segments) {
  constexpr int kCount = 2 * kHalfLength + 1;
  float startPos[kCount];
  int lagBlock[kCount];
  lagBlock[kHalfLength] = NearestLocation(kPeriodLocations, static_cast<float>(center) + 0.5f * (kBlock - 1));
  startPos[kHalfLength] = static_cast<float>(center);
  std::memcpy(segments + kBlock * kHalfLength, data + center, sizeof(float) * kBlock);
  for (int q = kHalfLength - 1; q >= 0; --q) {
    const float p = period[lagBlock[q + 1]];
    startPos[q] = startPos[q + 1] - p;
    lagBlock[q] = NearestLocation(kPeriodLocations, startPos[q] + kHalfBlock - p);
    if (startPos[q] - kOverhang >= 0) {
      startPos[q] = Refine(data, center, startPos[q], segments + q * kBlock);
    } else {
      std::fill(segments + q * kBlock, segments + (q + 1) * kBlock, 0.0f);
    }
  }
  float shifted[kPeriods];
  for (int i = 0; i < kPeriods; ++i) shifted[i] = kPeriodLocations[i] - period[i];
  for (int q = kHalfLength + 1; q < kCount; ++q) {
    lagBlock[q] = NearestLocation(shifted, startPos[q - 1] + kHalfBlock);
    startPos[q] = startPos[q - 1] + period[lagBlock[q]];
    if (startPos[q] + kBlock + kOverhang < kBufLen) {
      startPos[q] = Refine(data, center, startPos[q], segments + q * kBlock);
    } else {
      std::fill(segments + q * kBlock, segments + (q + 1) * kBlock, 0.0f);
    }
  }
}

// RFC 3951 4.6.3/4.6.4: the block moved towards the raised-cosine weighted mean of its
// neighbours, by as much as the energy constraint allows.
void Smooth(const float* segments, float* out) {
  float weight[2 * kHalfLength + 1];
  for (int i = 1; i <= 2 * kHalfLength + 1; ++i) {
    weight[i - 1] = 0.5f * (1.0f - std::cos(2.0f * 3.14159265358979f * static_cast<float>(i) /
                                            static_cast<float>(2 * kHalfLength + 2)));
  }
  float surround[kBlock] = {};
  for (int k = 0; k <= 2 * kHalfLength; ++k) {
    if (k == kHalfLength) continue;
    for (int i = 0; i < kBlock; ++i) surround[i] += segments[k * kBlock + i] * weight[k];
  }
  const float* cur = segments + kHalfLength * kBlock;
  float w00 = 0.0f, w10 = 0.0f, w11 = 0.0f;
  for (int i = 0; i < kBlock; ++i) {
    w00 += cur[i] * cur[i];
    w11 += surround[i] * surround[i];
    w10 += surround[i] * cur[i];
  }
  if (std::fabs(w11) < 1.0f) w11 = 1.0f;
  const float c = std::sqrt(w00 / w11);
  float err = 0.0f;
  for (int i = 0; i < kBlock; ++i) {
    out[i] = c * surround[i];
    const float e = cur[i] - out[i];
    err += e * e;
  }
  if (err > kAlpha * w00) {
    if (w00 < 1.0f) w00 = 1.0f;
    const float denom = (w11 * w00 - w10 * w10) / (w00 * w00);
    float a = 0.0f;
    float b = 1.0f;
    if (denom > 0.0001f) {
      a = std::sqrt((kAlpha - kAlpha * kAlpha / 4.0f) / denom);
      b = -kAlpha / 2.0f - a * w10 / w00 + 1.0f;
    }
    for (int i = 0; i < kBlock; ++i) out[i] = a * surround[i] + b * cur[i];
  }
}

}  // namespace

int Decoder::Enhance(const float* in, float* out) {
  float* buf = enhBuf_;
  std::memmove(buf, buf + block_, sizeof(float) * static_cast<size_t>(kBufLen - block_));
  std::memcpy(buf + kBufLen - block_, in, sizeof(float) * static_cast<size_t>(block_));

  const int plcBlock = mode_ == 30 ? kBlock : 40;
  const int offset = mode_ == 20 ? 1 : 0;
  const int shift = 3 - offset;
  std::memmove(enhPeriod_, enhPeriod_ + shift, sizeof(float) * static_cast<size_t>(kPeriods - shift));

  // Pitch of the new blocks, searched on the signal decimated by 2 (RFC 3951 4.6.1).
  const int inStart = (5 + offset) * kBlock - 120;
  const int inLen = 3 * kBlock + 120 - offset * kBlock;
  float down[(3 * kBlock + 120) / 2];
  const int downLen = inLen / 2;
  for (int m = 0; m < downLen; ++m) {
    const int i = 3 + 2 * m;
    float acc = 0.0f;
    for (int j = 0; j < 7; ++j) {
      const int n = i - j;  // input index; the 6 samples before the input are its history
      if (n < inLen) acc += kEnhDownFilter[j] * buf[inStart + n];
    }
    down[m] = acc;
  }
  int lag = 10;
  for (int b = 0; b < 3 - offset; ++b) {
    const float* target = down + 60 + b * kHalfBlock;
    lag = 10;
    float best = CorrelationMeasure(target, target - lag, kHalfBlock);
    for (int l = 11; l < 60; ++l) {
      const float cc = CorrelationMeasure(target, target - l, kHalfBlock);
      if (cc > best) {
        best = cc;
        lag = l;
      }
    }
    enhPeriod_[b + 5 + offset] = static_cast<float>(lag * 2);
  }

  if (prevEnhLost_) {
    // The previous frame was concealed: blend the end of its concealed residual with a
    // backward prediction from this frame (RFC 3951 4.6.5).
    const int inLag = static_cast<int>(enhPeriod_[5 + offset]);
    lag = inLag - 1;
    float best = CorrelationMeasure(in, in + lag, plcBlock);
    for (int l = inLag; l <= inLag + 1; ++l) {
      const float cc = CorrelationMeasure(in, in + l, plcBlock);
      if (cc > best) {
        best = cc;
        lag = l;
      }
    }
    enhPeriod_[5 + offset - 1] = static_cast<float>(lag);
    float pred[kBlock];
    const int fromNew = std::min(lag, plcBlock);
    for (int t = 0; t < fromNew; ++t) pred[plcBlock - 1 - t] = in[lag - 1 - t];
    const int prevEnd = kBufLen - 1 - block_;
    for (int t = 0; t < plcBlock - fromNew; ++t) pred[plcBlock - 1 - fromNew - t] = buf[prevEnd - t];
    float ePrev = 0.0f, ePred = 0.0f;
    for (int i = 0; i < plcBlock; ++i) {
      ePrev += buf[prevEnd - i] * buf[prevEnd - i];
      ePred += pred[i] * pred[i];
    }
    ePred = std::sqrt(ePred / static_cast<float>(plcBlock));
    ePrev = std::sqrt(ePrev / static_cast<float>(plcBlock));
    if (ePred > 2.0f * ePrev && ePred > 0.0f) {
      const float ratio = 2.0f * ePrev / ePred;
      for (int i = 0; i < plcBlock - 10; ++i) pred[i] *= ratio;
      for (int i = plcBlock - 10; i < plcBlock; ++i) {
        pred[i] *= static_cast<float>(i - plcBlock + 10) * (1.0f - ratio) / 10.0f + ratio;
      }
    }
    for (int i = 0; i < plcBlock; ++i) {
      const float w = static_cast<float>(i + 1) / static_cast<float>(plcBlock + 1);
      buf[prevEnd - i] = buf[prevEnd - i] * w + (1.0f - w) * pred[plcBlock - 1 - i];
    }
  }

  float segments[(2 * kHalfLength + 1) * kBlock];
  const int blocks = mode_ == 30 ? 3 : 2;
  for (int b = 0; b < blocks; ++b) {
    const int center = mode_ == 30 ? (4 + b) * kBlock : (5 + b) * kBlock + 40;
    GatherSegments(buf, center, enhPeriod_, segments);
    Smooth(segments, out + b * kBlock);
  }
  return lag * 2;
}

}  // namespace fennik::ilbc
