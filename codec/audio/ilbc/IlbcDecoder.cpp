// iLBC decoder (RFC 3951 section 4): LSF dequantisation and interpolation, start-state and
// adaptive-codebook reconstruction of the residual, concealment, LPC synthesis and the output
// high-pass filter. The enhancer is in IlbcEnhancer.cpp.
#include "codec/audio/ilbc/IlbcDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "codec/audio/ilbc/IlbcDsp.h"
#include "codec/audio/ilbc/IlbcTables.h"

namespace fennik::ilbc {
namespace {

constexpr int kOrder = Decoder::kOrder;
constexpr int kSub = 40;        // sub-block length
constexpr int kStateLen = 80;   // start state (two sub-blocks)
constexpr int kCbMem = 147;     // adaptive codebook memory of a sub-block
constexpr int kStateCbMem = 85; // codebook memory of the 22/23 sample segment
constexpr float kPi = 3.14159265358979f;

// RFC 3951 3.2.4: the three split sections of the LSF codebook.
constexpr int kSplitDim[3] = {3, 3, 4};
constexpr int kSplitSize[3] = {64, 128, 128};

}  // namespace

void DequantizeLsf(const int* index, float* lsf) {
  int pos = 0;
  int base = 0;
  for (int s = 0; s < 3; ++s) {
    const float* v = kLsfCodebook + base + index[s] * kSplitDim[s];
    for (int j = 0; j < kSplitDim[s]; ++j) lsf[pos + j] = v[j];
    pos += kSplitDim[s];
    base += kSplitSize[s] * kSplitDim[s];
  }
}

// RFC 3951 4.1: keeps the LSFs ordered, 50 Hz apart where possible, and within 0..4000 Hz.
void StabilizeLsf(float* lsf) {
  constexpr float kMinGap = 0.039f;
  constexpr float kStep = 0.0195f;
  constexpr float kMin = 0.01f;
  constexpr float kMax = 3.14f;
  for (int pass = 0; pass < 2; ++pass) {
    for (int k = 0; k < kOrder - 1; ++k) {
      if (lsf[k + 1] - lsf[k] < kMinGap) {
        if (lsf[k + 1] < lsf[k]) {
          lsf[k + 1] = lsf[k] + kStep;
        } else {
          lsf[k] -= kStep;
          lsf[k + 1] += kStep;
        }
      }
      lsf[k] = std::clamp(lsf[k], kMin, kMax);
    }
  }
}

// LSFs (radians) to the direct-form predictor 1 + a1 z^-1 + ... + a10 z^-10. The odd-numbered
// LSFs are the roots of the symmetric polynomial P (which also has a root at z = -1), the
// even-numbered ones those of the antisymmetric Q (root at z = 1); A = (P + Q) / 2.
void LsfToLpc(const float* lsfIn, float* a) {
  float f[kOrder];
  for (int i = 0; i < kOrder; ++i) f[i] = lsfIn[i] / (2.0f * kPi);
  // Ill-conditioned input: spread the frequencies evenly between fixed end points.
  if (f[0] <= 0.0f || f[kOrder - 1] >= 0.5f) {
    if (f[0] <= 0.0f) f[0] = 0.022f;
    if (f[kOrder - 1] >= 0.5f) f[kOrder - 1] = 0.499f;
    const float step = (f[kOrder - 1] - f[0]) / static_cast<float>(kOrder - 1);
    for (int i = 1; i < kOrder; ++i) f[i] = f[i - 1] + step;
  }
  double p[kOrder + 2] = {1.0};
  double q[kOrder + 2] = {1.0};
  int degree = 0;
  for (int i = 0; i < kOrder / 2; ++i) {
    const double cp = -2.0 * std::cos(2.0 * static_cast<double>(kPi) * f[2 * i]);
    const double cq = -2.0 * std::cos(2.0 * static_cast<double>(kPi) * f[2 * i + 1]);
    // Multiply by (1 + c z^-1 + z^-2).
    for (int k = degree + 2; k >= 0; --k) {
      double np = p[k];
      double nq = q[k];
      if (k >= 1) { np += cp * p[k - 1]; nq += cq * q[k - 1]; }
      if (k >= 2) { np += p[k - 2]; nq += q[k - 2]; }
      p[k] = np;
      q[k] = nq;
    }
    degree += 2;
  }
  // P(z) = (1 + z^-1) P'(z), Q(z) = (1 - z^-1) Q'(z).
  a[0] = 1.0f;
  for (int k = 1; k <= kOrder; ++k) {
    const double pk = p[k] + p[k - 1];
    const double qk = q[k] - q[k - 1];
    a[k] = static_cast<float>(0.5 * (pk + qk));
  }
}

static void InterpolatedLpc(const float* lsf1, const float* lsf2, float weight, float* a) {
  float lsf[kOrder];
  for (int i = 0; i < kOrder; ++i) lsf[i] = weight * lsf1[i] + (1.0f - weight) * lsf2[i];
  LsfToLpc(lsf, a);
}

// RFC 3951 4.2: the 57/58 scalar-quantised samples of the start state, taken through the
// all-pass filter A~(z)/A(z) by circular convolution (time-reversed, then folded).
void ConstructState(int scaleIndex, const int* index, const float* a, float* out, int len) {
  const float maxVal = std::pow(10.0f, kStateScale[scaleIndex & 63]) / 4.5f;
  float x[2 * kStateLen] = {};
  for (int k = 0; k < len; ++k) x[k] = maxVal * kStateLevels[index[len - 1 - k] & 7];
  float y[kOrder + 2 * kStateLen] = {};
  float* fo = y + kOrder;
  for (int n = 0; n < 2 * len; ++n) {
    // Numerator: the predictor's coefficients in reverse order.
    float acc = 0.0f;
    for (int k = 0; k <= kOrder; ++k) {
      if (n - k >= 0) acc += a[kOrder - k] * x[n - k];
    }
    for (int k = 1; k <= kOrder; ++k) acc -= a[k] * fo[n - k];
    fo[n] = acc;
  }
  for (int k = 0; k < len; ++k) out[k] = fo[len - 1 - k] + fo[2 * len - 1 - k];
}

// RFC 3951 4.3.1 / 3.6.3: the 8-tap expansion filter applied to the codebook memory at
// positions first..lMem-1 (memory taken as zero outside its range).
static void FilterMemory(const float* mem, int lMem, int first, float* out) {
  for (int m = first; m < lMem; ++m) {
    float acc = 0.0f;
    for (int j = 0; j < 8; ++j) {
      const int i = m - 3 + j;
      if (i >= 0 && i < lMem) acc += mem[i] * kCbFilter[7 - j];
    }
    out[m] = acc;
  }
}

// One codebook vector of lag k from `src`: the last k samples, periodically extended when the
// vector is longer than k (the "interpolated" vectors blend the two copies over 5 samples).
static void LagVector(const float* src, int lMem, int k, bool interpolated, int len, float* out) {
  if (!interpolated) {
    std::memcpy(out, src + lMem - k, sizeof(float) * static_cast<size_t>(len));
    return;
  }
  const int high = k / 2;
  const int low = high - 5;
  for (int j = 0; j < low; ++j) out[j] = src[lMem - high + j];
  float alpha = 0.0f;
  for (int j = low; j < high; ++j) {
    out[j] = (1.0f - alpha) * src[lMem - high + j] + alpha * src[lMem - k + j];
    alpha += 0.2f;
  }
  for (int j = high; j < len; ++j) out[j] = src[lMem - k + j];
}

// RFC 3951 4.3.1: the codebook vector `index` of length `len` from memory `mem` of lMem
// samples. Sections: plain lags, interpolated lags (40-sample vectors only), then both again
// taken from the filtered memory.
void CodebookVector(const float* mem, int lMem, int index, int len, float* out) {
  const int plain = lMem - len + 1;
  const int base = plain + (len == kSub ? len / 2 : 0);
  const float* src = mem;
  float filtered[kCbMem];
  if (index >= base) {
    index -= base;
    src = filtered;
  }
  const bool interpolated = index >= plain;
  const int k = interpolated ? 2 * (index - plain) + len : index + len;
  if (k > lMem || (interpolated && k / 2 < 5)) {  // not reachable from valid indices
    std::fill(out, out + len, 0.0f);
    return;
  }
  if (src == filtered) FilterMemory(mem, lMem, lMem - k, filtered);
  LagVector(src, lMem, k, interpolated, len, out);
}

float DequantizeGain(int index, float previous, int levels) {
  const float scale = std::max(std::fabs(previous), 0.1f);
  if (levels == 32) return scale * kGain5[index & 31];
  if (levels == 16) return scale * kGain4[index & 15];
  return scale * kGain3[index & 7];
}

// RFC 3951 4.4: three stages of codebook vectors with successively quantised gains.
void ConstructVector(const int* cb, const int* gainIndex, const float* mem, int lMem, int len,
                     float* out) {
  float gain[kStages];
  gain[0] = DequantizeGain(gainIndex[0], 1.0f, 32);
  gain[1] = DequantizeGain(gainIndex[1], gain[0], 16);
  gain[2] = DequantizeGain(gainIndex[2], gain[1], 8);
  float v[kSub];
  std::fill(out, out + len, 0.0f);
  for (int s = 0; s < kStages; ++s) {
    CodebookVector(mem, lMem, cb[s], len, v);
    for (int j = 0; j < len; ++j) out[j] += gain[s] * v[j];
  }
}

float CorrelationMeasure(const float* target, const float* regressor, int len) {
  float c = 0.0f;
  float e = 0.0f;
  for (int i = 0; i < len; ++i) {
    c += target[i] * regressor[i];
    e += regressor[i] * regressor[i];
  }
  return c > 0.0f ? c * c / e : 0.0f;
}

Decoder::Decoder(int mode, bool enhancer) : mode_(mode == 30 ? 30 : 20), enhancer_(enhancer) {
  block_ = FrameSamples(mode_);
  subBlocks_ = mode_ == 30 ? 6 : 4;
  stateShort_ = mode_ == 30 ? 58 : 57;
  Reset();
}

void Decoder::Reset() {
  std::memcpy(lsfOld_, kLsfMean, sizeof(lsfOld_));
  std::fill(std::begin(syntMem_), std::end(syntMem_), 0.0f);
  std::fill(std::begin(oldSyntDenum_), std::end(oldSyntDenum_), 0.0f);
  for (int i = 0; i < 6; ++i) oldSyntDenum_[i * (kOrder + 1)] = 1.0f;
  lastLag_ = 20;
  consecutiveLost_ = 0;
  prevLost_ = 0;
  prevLag_ = 120;
  prevPeriodicity_ = 0.0f;
  std::fill(std::begin(prevLpc_), std::end(prevLpc_), 0.0f);
  prevLpc_[0] = 1.0f;
  std::fill(std::begin(prevResidual_), std::end(prevResidual_), 0.0f);
  seed_ = 777;
  std::fill(std::begin(enhBuf_), std::end(enhBuf_), 0.0f);
  std::fill(std::begin(enhPeriod_), std::end(enhPeriod_), 40.0f);
  prevEnhLost_ = false;
  std::fill(std::begin(hpMem_), std::end(hpMem_), 0.0f);
}

// RFC 3951 4.1: dequantised LSFs interpolated per sub-frame and turned into predictors.
void Decoder::DecodeLpc(const FrameParams& p, float* syntDenum) {
  float lsf[2 * kOrder];
  DequantizeLsf(p.lsf, lsf);
  StabilizeLsf(lsf);
  constexpr int kStride = kOrder + 1;
  if (mode_ == 30) {
    DequantizeLsf(p.lsf + 3, lsf + kOrder);
    StabilizeLsf(lsf + kOrder);
    static constexpr float kWeights[6] = {0.5f, 1.0f, 2.0f / 3.0f, 1.0f / 3.0f, 0.0f, 0.0f};
    InterpolatedLpc(lsfOld_, lsf, kWeights[0], syntDenum);
    for (int i = 1; i < 6; ++i) InterpolatedLpc(lsf, lsf + kOrder, kWeights[i], syntDenum + i * kStride);
    std::memcpy(lsfOld_, lsf + kOrder, sizeof(lsfOld_));
  } else {
    static constexpr float kWeights[4] = {0.75f, 0.5f, 0.25f, 0.0f};
    for (int i = 0; i < 4; ++i) InterpolatedLpc(lsfOld_, lsf, kWeights[i], syntDenum + i * kStride);
    std::memcpy(lsfOld_, lsf, sizeof(lsfOld_));
  }
}

// RFC 3951 4.2-4.4: the start state, the 22/23 sample segment next to it, then the
// sub-blocks after the state (forward) and before it (backward, in reversed time).
void Decoder::DecodeResidual(const FrameParams& p, const float* syntDenum, float* residual) const {
  constexpr int kStride = kOrder + 1;
  const int start = p.start;
  const int diff = kStateLen - stateShort_;
  const int statePos = p.stateFirst ? (start - 1) * kSub : (start - 1) * kSub + diff;
  ConstructState(p.scaleIndex, p.state, syntDenum + (start - 1) * kStride, residual + statePos,
                 stateShort_);

  float mem[kCbMem];
  float reversed[kMaxBlock];
  if (p.stateFirst) {
    std::fill(mem, mem + kCbMem - stateShort_, 0.0f);
    std::memcpy(mem + kCbMem - stateShort_, residual + statePos, sizeof(float) * static_cast<size_t>(stateShort_));
    ConstructVector(p.extraCb, p.extraGain, mem + kCbMem - kStateCbMem, kStateCbMem, diff,
                    residual + statePos + stateShort_);
  } else {
    std::fill(mem, mem + kCbMem, 0.0f);
    for (int k = 0; k < stateShort_; ++k) mem[kCbMem - 1 - k] = residual[statePos + k];
    ConstructVector(p.extraCb, p.extraGain, mem + kCbMem - kStateCbMem, kStateCbMem, diff, reversed);
    for (int k = 0; k < diff; ++k) residual[statePos - 1 - k] = reversed[k];
  }

  // Codebook indices of the first coded sub-block's later stages are sent in 7 bits over a
  // reduced range (RFC 3951 3.6.4); map them back to the full codebook.
  int cb[kMaxSubBlocks][kStages];
  std::memcpy(cb, p.cb, sizeof(cb));
  for (int s = 1; s < kStages; ++s) {
    if (cb[0][s] >= 44 && cb[0][s] < 108) cb[0][s] += 64;
    else if (cb[0][s] >= 108 && cb[0][s] < 128) cb[0][s] += 128;
  }

  int coded = 0;
  const int forward = subBlocks_ - start - 1;
  if (forward > 0) {
    std::fill(mem, mem + kCbMem - kStateLen, 0.0f);
    std::memcpy(mem + kCbMem - kStateLen, residual + (start - 1) * kSub, sizeof(float) * kStateLen);
    for (int s = 0; s < forward; ++s, ++coded) {
      float* out = residual + (start + 1 + s) * kSub;
      ConstructVector(cb[coded], p.gain[coded], mem, kCbMem, kSub, out);
      std::memmove(mem, mem + kSub, sizeof(float) * (kCbMem - kSub));
      std::memcpy(mem + kCbMem - kSub, out, sizeof(float) * kSub);
    }
  }
  const int backward = start - 1;
  if (backward > 0) {
    const int available = std::min(kSub * (subBlocks_ + 1 - start), kCbMem);
    std::fill(mem, mem + kCbMem, 0.0f);
    for (int k = 0; k < available; ++k) mem[kCbMem - 1 - k] = residual[(start - 1) * kSub + k];
    for (int s = 0; s < backward; ++s, ++coded) {
      float* out = reversed + s * kSub;
      ConstructVector(cb[coded], p.gain[coded], mem, kCbMem, kSub, out);
      std::memmove(mem, mem + kSub, sizeof(float) * (kCbMem - kSub));
      std::memcpy(mem + kCbMem - kSub, out, sizeof(float) * kSub);
    }
    for (int i = 0; i < kSub * backward; ++i) residual[kSub * backward - 1 - i] = reversed[i];
  }
}

// RFC 3951 4.5: packet-loss concealment. A received frame only updates the state; a lost
// one repeats the last pitch period mixed with noise taken from the previous residual,
// keeping the previous predictor.
void Decoder::Plc(bool lost, const float* residual, const float* lpc, float* plcResidual, float* plcLpc) {
  if (!lost) {
    std::memcpy(plcResidual, residual, sizeof(float) * static_cast<size_t>(block_));
    std::memcpy(plcLpc, lpc, sizeof(float) * (kOrder + 1));
    consecutiveLost_ = 0;
  } else {
    ++consecutiveLost_;
    int lag = prevLag_;
    float periodicity = prevPeriodicity_;
    if (prevLost_ != 1) {
      // Search around the last lag for the best pitch period of the previous residual.
      float best = -1.0f;
      for (int l = lastLag_ - 3; l <= lastLag_ + 3; ++l) {
        int range = 60;
        if (block_ - range - l < 0) range = block_ - l;
        double c = 0.0, e1 = 0.0, e0 = 0.0;
        for (int i = 0; i < range; ++i) {
          const float cur = prevResidual_[block_ - range + i];
          const float past = prevResidual_[block_ - range + i - l];
          c += cur * past;
          e1 += past * past;
          e0 += cur * cur;
        }
        const float cc = e1 > 0.0 ? static_cast<float>(c * c / e1) : 0.0f;
        const float per = e1 > 0.0 && e0 > 0.0 ? static_cast<float>(std::fabs(c) / (std::sqrt(e1) * std::sqrt(e0))) : 0.0f;
        if (l == lastLag_ - 3 || cc > best) {
          best = cc;
          lag = l;
          periodicity = per;
        }
      }
    }
    // Fade out over long losses: full level for 40 ms, then 0.9, 0.7, 0.5 and silence after
    // 160 ms of consecutive loss (RFC 3951 4.5 describes this progressive attenuation).
    const int lostSamples = consecutiveLost_ * block_;
    float gain = 1.0f;
    if (lostSamples > 4 * 320) gain = 0.0f;
    else if (lostSamples > 3 * 320) gain = 0.5f;
    else if (lostSamples > 2 * 320) gain = 0.7f;
    else if (lostSamples > 320) gain = 0.9f;
    const float root = std::sqrt(periodicity);
    const float pitchShare = root > 0.7f ? 1.0f : root > 0.4f ? (root - 0.4f) / 0.3f : 0.0f;
    // Never repeat one short pitch cycle; never reach back further than the last frame.
    const int useLag = std::min(lag < 80 ? 2 * lag : lag, block_);
    float noise[kMaxBlock];
    float energy = 0.0f;
    for (int i = 0; i < block_; ++i) {
      seed_ = (seed_ * 69069u + 1u) & 0x7FFFFFFFu;
      const int pickNoise = i - (50 + static_cast<int>(seed_ % 70u));
      noise[i] = pickNoise < 0 ? prevResidual_[block_ + pickNoise] : noise[pickNoise];
      const int pick = i - useLag;
      const float pitch = pick < 0 ? prevResidual_[block_ + pick] : plcResidual[pick];
      const float attenuation = i < 80 ? 1.0f : i < 160 ? 0.95f : 0.9f;
      plcResidual[i] = attenuation * gain * (pitchShare * pitch + (1.0f - pitchShare) * noise[i]);
      energy += plcResidual[i] * plcResidual[i];
    }
    // Below 30 dB the pitch repetition is not worth it: noise only (faded like the rest, or
    // a long loss would end in unattenuated noise).
    if (std::sqrt(energy / static_cast<float>(block_)) < 30.0f) {
      for (int i = 0; i < block_; ++i) plcResidual[i] = gain * noise[i];
    }
    std::memcpy(plcLpc, prevLpc_, sizeof(float) * (kOrder + 1));
    prevLag_ = lag;
    prevPeriodicity_ = periodicity;
  }
  prevLost_ = lost ? 1 : 0;
  std::memcpy(prevLpc_, plcLpc, sizeof(float) * (kOrder + 1));
  std::memcpy(prevResidual_, plcResidual, sizeof(float) * static_cast<size_t>(block_));
}

void Decoder::Synthesize(float* data, const float* a, int length) {
  for (int n = 0; n < length; ++n) {
    float acc = data[n];
    for (int k = 1; k <= kOrder; ++k) {
      const int i = n - k;
      acc -= a[k] * (i >= 0 ? data[i] : syntMem_[kOrder + i]);
    }
    data[n] = acc;
  }
  std::memcpy(syntMem_, data + length - kOrder, sizeof(syntMem_));
}

// RFC 3951 4.8: second-order high-pass, then rounding to 16 bits with saturation.
void Decoder::HighPassOut(const float* in, int16_t* out) {
  for (int i = 0; i < block_; ++i) {
    const float x = in[i];
    const float y = kHpOutZeros[0] * x + kHpOutZeros[1] * hpMem_[0] + kHpOutZeros[2] * hpMem_[1] -
                    kHpOutPoles[1] * hpMem_[2] - kHpOutPoles[2] * hpMem_[3];
    hpMem_[1] = hpMem_[0];
    hpMem_[0] = x;
    hpMem_[3] = hpMem_[2];
    hpMem_[2] = y;
    const float r = std::nearbyint(std::clamp(y, -32768.0f, 32767.0f));
    out[i] = static_cast<int16_t>(r);
  }
}

int Decoder::Decode(const uint8_t* data, size_t size, int16_t* out) {
  constexpr int kStride = kOrder + 1;
  FrameParams params;
  bool lost = true;
  if (data != nullptr && UnpackFrame(data, size, mode_, params)) {
    lost = params.emptyFrame != 0 || !params.StartValid();
  }

  float syntDenum[6 * kStride];
  float residual[kMaxBlock] = {};
  float plcResidual[kMaxBlock];
  float plcLpc[kStride];
  if (!lost) {
    DecodeLpc(params, syntDenum);
    DecodeResidual(params, syntDenum, residual);
    Plc(false, residual, syntDenum + (subBlocks_ - 1) * kStride, plcResidual, plcLpc);
  } else {
    Plc(true, residual, nullptr, plcResidual, plcLpc);
    for (int i = 0; i < subBlocks_; ++i) std::memcpy(syntDenum + i * kStride, plcLpc, sizeof(plcLpc));
  }
  std::memcpy(residual, plcResidual, sizeof(float) * static_cast<size_t>(block_));

  float signal[kMaxBlock];
  if (enhancer_) {
    lastLag_ = Enhance(residual, signal);
    // The enhanced signal lags by 40 (20 ms) or 80 (30 ms) samples, so its first sub-blocks
    // still belong to the previous frame's predictors.
    const int delayed = mode_ == 30 ? 2 : 1;
    for (int i = 0; i < subBlocks_; ++i) {
      const float* a = i < delayed ? oldSyntDenum_ + (i + subBlocks_ - delayed) * kStride
                                   : syntDenum + (i - delayed) * kStride;
      Synthesize(signal + i * kSub, a, kSub);
    }
  } else {
    int lag = 20;
    float best = 0.0f;
    const float* tail = residual + block_ - 80;
    // Lags reach back at most to the frame's first sample (RFC 3951 searches up to 119, which
    // at 20 ms would read before the 160-sample frame).
    const int maxLag = std::min(119, block_ - 80);
    for (int l = 20; l <= maxLag; ++l) {
      const float cc = CorrelationMeasure(tail, tail - l, 80);
      if (l == 20 || cc > best) {
        best = cc;
        lag = l;
      }
    }
    lastLag_ = lag;
    std::memcpy(signal, residual, sizeof(float) * static_cast<size_t>(block_));
    for (int i = 0; i < subBlocks_; ++i) Synthesize(signal + i * kSub, syntDenum + i * kStride, kSub);
  }
  // No valid frame drives the filters that far, but a state gone non-finite would stay so:
  // start over rather than put out garbage.
  for (int i = 0; i < block_; ++i) {
    if (!std::isfinite(signal[i])) {
      Reset();
      std::fill(out, out + block_, int16_t{0});
      return block_;
    }
  }
  HighPassOut(signal, out);
  std::memcpy(oldSyntDenum_, syntDenum, sizeof(float) * static_cast<size_t>(subBlocks_ * kStride));
  prevEnhLost_ = lost;
  return block_;
}

}  // namespace fennik::ilbc
