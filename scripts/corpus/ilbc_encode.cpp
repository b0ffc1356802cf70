// A small iLBC encoder (RFC 3951 section 3) for the test corpus: 8 kHz 16-bit mono PCM in,
// iLBC frames out in the RFC 3952 storage format ("#!iLBC20\n" or "#!iLBC30\n" and the frames).
//
//   ilbc_encode 20|30 IN.s16le OUT.lbc
//
// It makes valid, speech-like frames, not the best ones: LPC analysis with a Hann window,
// nearest-neighbour split VQ of the LSFs, the start state at the sub-block pair of highest
// residual energy, an approximate inverse of the state's all-pass filter before scalar
// quantisation, and a three-stage codebook search in the residual domain (no perceptual
// weighting). Everything it quantises is reconstructed with the decoder's own building blocks,
// so its codebook memories are exactly those the decoder sees.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/audio/ilbc/IlbcDsp.h"
#include "codec/audio/ilbc/IlbcFrame.h"
#include "codec/audio/ilbc/IlbcTables.h"

using namespace fennik::ilbc;

namespace {

constexpr int kOrder = 10;
constexpr int kSub = 40;
constexpr int kStateLen = 80;
constexpr int kCbMem = 147;
constexpr int kStateCbMem = 85;
constexpr double kPi = 3.14159265358979323846;

// Autocorrelation LPC of `len` samples ending at `end` (Hann window, 60 Hz lag window).
void Analyse(const std::vector<float>& s, long end, int len, double* a) {
  std::vector<double> x(static_cast<size_t>(len));
  for (int i = 0; i < len; ++i) {
    const long k = end - len + i;
    const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * (i + 0.5) / len);
    x[static_cast<size_t>(i)] = (k >= 0 && k < static_cast<long>(s.size()) ? s[static_cast<size_t>(k)] : 0.0) * w;
  }
  double r[kOrder + 1];
  for (int l = 0; l <= kOrder; ++l) {
    double acc = 0.0;
    for (int i = l; i < len; ++i) acc += x[static_cast<size_t>(i)] * x[static_cast<size_t>(i - l)];
    const double g = 2.0 * kPi * 60.0 / 8000.0 * l;
    r[l] = acc * std::exp(-0.5 * g * g);
  }
  r[0] = r[0] * 1.0001 + 1e-3;
  double e = r[0];
  double tmp[kOrder + 1];
  for (int i = 0; i <= kOrder; ++i) a[i] = 0.0;
  a[0] = 1.0;
  for (int i = 1; i <= kOrder; ++i) {
    double acc = r[i];
    for (int j = 1; j < i; ++j) acc += a[j] * r[i - j];
    const double k = -acc / e;
    std::memcpy(tmp, a, sizeof(tmp));
    for (int j = 1; j < i; ++j) a[j] = tmp[j] + k * tmp[i - j];
    a[i] = k;
    e *= 1.0 - k * k;
  }
}

// Roots of P(z) = A(z) + z^-11 A(1/z) and Q(z) = A(z) - z^-11 A(1/z) on (0, pi).
bool LpcToLsf(const double* a, float* lsf) {
  double p[12], q[12];
  for (int k = 0; k <= 11; ++k) {
    const double ak = k <= kOrder ? a[k] : 0.0;
    const double ar = 11 - k <= kOrder ? a[11 - k] : 0.0;
    p[k] = ak + ar;
    q[k] = ak - ar;
  }
  auto fp = [&](double w) { double v = 0; for (int k = 0; k < 6; ++k) v += p[k] * std::cos((5.5 - k) * w); return v; };
  auto fq = [&](double w) { double v = 0; for (int k = 0; k < 6; ++k) v += q[k] * std::sin((5.5 - k) * w); return v; };
  std::vector<double> roots;
  for (int which = 0; which < 2; ++which) {
    auto f = [&](double w) { return which == 0 ? fp(w) : fq(w); };
    const int steps = 4000;
    double w0 = 1e-4, v0 = f(w0);
    for (int i = 1; i <= steps; ++i) {
      const double w1 = 1e-4 + (kPi - 2e-4) * i / steps, v1 = f(w1);
      if ((v0 < 0) != (v1 < 0)) {
        double lo = w0, hi = w1, vlo = v0;
        for (int it = 0; it < 40; ++it) {
          const double mid = 0.5 * (lo + hi), vm = f(mid);
          if ((vm < 0) == (vlo < 0)) { lo = mid; vlo = vm; } else { hi = mid; }
        }
        roots.push_back(0.5 * (lo + hi));
      }
      w0 = w1;
      v0 = v1;
    }
  }
  if (roots.size() != kOrder) return false;
  std::sort(roots.begin(), roots.end());
  for (int i = 0; i < kOrder; ++i) lsf[i] = static_cast<float>(roots[static_cast<size_t>(i)]);
  return true;
}

void QuantizeLsf(const float* lsf, int* index) {
  static constexpr int dim[3] = {3, 3, 4}, size[3] = {64, 128, 128};
  int pos = 0, base = 0;
  for (int s = 0; s < 3; ++s) {
    double best = 1e30;
    for (int i = 0; i < size[s]; ++i) {
      double d = 0;
      for (int j = 0; j < dim[s]; ++j) {
        const double e = lsf[pos + j] - kLsfCodebook[base + i * dim[s] + j];
        d += e * e;
      }
      if (d < best) { best = d; index[s] = i; }
    }
    pos += dim[s];
    base += size[s] * dim[s];
  }
}

void Interpolated(const float* l1, const float* l2, float w, float* a) {
  float l[kOrder];
  for (int i = 0; i < kOrder; ++i) l[i] = w * l1[i] + (1.0f - w) * l2[i];
  LsfToLpc(l, a);
}

int Nearest(const float* table, int n, float v) {
  int best = 0;
  for (int i = 1; i < n; ++i) if (std::fabs(table[i] - v) < std::fabs(table[best] - v)) best = i;
  return best;
}

// Three-stage search for `target`; `restricted` limits stages 2 and 3 to the indices the
// first coded sub-block can send. Returns the decoded indices and gain indices.
void Search(const float* target, const float* mem, int lMem, int len, bool restricted, int* cb, int* gain) {
  const int base = lMem - len + 1 + (len == kSub ? len / 2 : 0);
  const int total = 2 * base;
  float rest[kSub], v[kSub];
  std::memcpy(rest, target, sizeof(float) * static_cast<size_t>(len));
  float prevGain = 1.0f;
  for (int s = 0; s < 3; ++s) {
    const float* table = s == 0 ? kGain5 : s == 1 ? kGain4 : kGain3;
    const int levels = s == 0 ? 32 : s == 1 ? 16 : 8;
    const float scale = std::max(std::fabs(prevGain), 0.1f);
    double bestGain = -1.0;
    cb[s] = 0;
    gain[s] = s == 0 ? 0 : Nearest(table, levels, 0.0f);
    for (int i = 0; i < total; ++i) {
      if (restricted && s > 0 && !(i < 44 || (i >= 108 && i < 172) || i >= 236)) continue;
      CodebookVector(mem, lMem, i, len, v);
      double c = 0, e = 0;
      for (int j = 0; j < len; ++j) { c += rest[j] * v[j]; e += v[j] * v[j]; }
      if (e <= 0) continue;
      const int gi = Nearest(table, levels, static_cast<float>(c / e) / scale);
      const double g = scale * table[gi];
      const double gainReduction = 2 * g * c - g * g * e;
      if (gainReduction > bestGain) { bestGain = gainReduction; cb[s] = i; gain[s] = gi; }
    }
    const float g = DequantizeGain(gain[s], prevGain, levels);
    CodebookVector(mem, lMem, cb[s], len, v);
    for (int j = 0; j < len; ++j) rest[j] -= g * v[j];
    prevGain = g;
  }
}

// The start state's linear reconstruction (the decoder's ConstructState before quantisation).
void StateLinear(const float* x, const float* a, float* out, int len) {
  float tmp[2 * kStateLen] = {}, fo[kOrder + 2 * kStateLen] = {};
  for (int k = 0; k < len; ++k) tmp[k] = x[len - 1 - k];
  float* y = fo + kOrder;
  for (int n = 0; n < 2 * len; ++n) {
    float acc = 0;
    for (int k = 0; k <= kOrder; ++k) if (n - k >= 0) acc += a[kOrder - k] * tmp[n - k];
    for (int k = 1; k <= kOrder; ++k) acc -= a[k] * y[n - k];
    y[n] = acc;
  }
  for (int k = 0; k < len; ++k) out[k] = y[len - 1 - k] + y[2 * len - 1 - k];
}

// Solves M x = t for the state samples by Gaussian elimination (M is nearly orthogonal).
void InvertState(const float* t, const float* a, int len, float* x) {
  std::vector<double> m(static_cast<size_t>(len * (len + 1)));
  float unit[kStateLen], col[kStateLen];
  for (int j = 0; j < len; ++j) {
    std::fill(unit, unit + len, 0.0f);
    unit[j] = 1.0f;
    StateLinear(unit, a, col, len);
    for (int i = 0; i < len; ++i) m[static_cast<size_t>(i * (len + 1) + j)] = col[i];
  }
  for (int i = 0; i < len; ++i) m[static_cast<size_t>(i * (len + 1) + len)] = t[i];
  for (int c = 0; c < len; ++c) {
    int piv = c;
    for (int r = c + 1; r < len; ++r)
      if (std::fabs(m[static_cast<size_t>(r * (len + 1) + c)]) > std::fabs(m[static_cast<size_t>(piv * (len + 1) + c)])) piv = r;
    for (int k = 0; k <= len; ++k) std::swap(m[static_cast<size_t>(c * (len + 1) + k)], m[static_cast<size_t>(piv * (len + 1) + k)]);
    const double d = m[static_cast<size_t>(c * (len + 1) + c)];
    if (std::fabs(d) < 1e-12) continue;
    for (int r = 0; r < len; ++r) {
      if (r == c) continue;
      const double f = m[static_cast<size_t>(r * (len + 1) + c)] / d;
      for (int k = c; k <= len; ++k) m[static_cast<size_t>(r * (len + 1) + k)] -= f * m[static_cast<size_t>(c * (len + 1) + k)];
    }
  }
  for (int i = 0; i < len; ++i) {
    const double d = m[static_cast<size_t>(i * (len + 1) + i)];
    x[i] = std::fabs(d) < 1e-12 ? 0.0f : static_cast<float>(m[static_cast<size_t>(i * (len + 1) + len)] / d);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: ilbc_encode 20|30 IN.s16le OUT.lbc\n");
    return 2;
  }
  const int mode = std::atoi(argv[1]) == 30 ? 30 : 20;
  FILE* in = std::fopen(argv[2], "rb");
  FILE* out = std::fopen(argv[3], "wb");
  if (!in || !out) return 1;
  std::vector<float> s;
  int16_t sample;
  while (std::fread(&sample, 2, 1, in) == 1) s.push_back(sample);
  const int block = mode == 30 ? 240 : 160, nsub = block / kSub, ss = mode == 30 ? 58 : 57;
  std::fprintf(out, "#!iLBC%d\n", mode);
  float lsfOld[kOrder];
  std::memcpy(lsfOld, kLsfMean, sizeof(lsfOld));
  float lastLsf[2][kOrder];
  std::memcpy(lastLsf[0], kLsfMean, sizeof(lsfOld));
  std::memcpy(lastLsf[1], kLsfMean, sizeof(lsfOld));
  for (long f = 0; (f + 1) * block <= static_cast<long>(s.size()); ++f) {
    const long first = f * block;
    FrameParams p;
    p.mode = mode;
    // LPC: at 20 ms one set for the frame's end, at 30 ms one for sub-block 2 and one for the end.
    const int sets = mode == 30 ? 2 : 1;
    float lsfq[2][kOrder];
    for (int k = 0; k < sets; ++k) {
      double a[kOrder + 1];
      const long end = sets == 2 && k == 0 ? first + 120 : first + block;
      Analyse(s, end, 240, a);
      float lsf[kOrder];
      if (!LpcToLsf(a, lsf)) std::memcpy(lsf, lastLsf[k], sizeof(lsf));
      std::memcpy(lastLsf[k], lsf, sizeof(lsf));
      QuantizeLsf(lsf, p.lsf + 3 * k);
      DequantizeLsf(p.lsf + 3 * k, lsfq[k]);
      StabilizeLsf(lsfq[k]);
    }
    float syn[6][kOrder + 1];
    if (mode == 30) {
      static constexpr float w[6] = {0.5f, 1.0f, 2.0f / 3, 1.0f / 3, 0.0f, 0.0f};
      Interpolated(lsfOld, lsfq[0], w[0], syn[0]);
      for (int i = 1; i < 6; ++i) Interpolated(lsfq[0], lsfq[1], w[i], syn[i]);
      std::memcpy(lsfOld, lsfq[1], sizeof(lsfOld));
    } else {
      static constexpr float w[4] = {0.75f, 0.5f, 0.25f, 0.0f};
      for (int i = 0; i < 4; ++i) Interpolated(lsfOld, lsfq[0], w[i], syn[i]);
      std::memcpy(lsfOld, lsfq[0], sizeof(lsfOld));
    }
    // Residual of the input through each sub-block's predictor.
    float res[240];
    for (int n = 0; n < block; ++n) {
      const float* a = syn[n / kSub];
      double acc = s[static_cast<size_t>(first + n)];
      for (int k = 1; k <= kOrder; ++k) {
        const long i = first + n - k;
        acc += a[k] * (i >= 0 ? s[static_cast<size_t>(i)] : 0.0f);
      }
      res[n] = static_cast<float>(acc);
    }
    // Start state: the pair of sub-blocks with the most energy.
    double bestE = -1;
    for (int st = 1; st < nsub; ++st) {
      double e = 0;
      for (int n = 0; n < kStateLen; ++n) e += res[(st - 1) * kSub + n] * res[(st - 1) * kSub + n];
      if (e > bestE) { bestE = e; p.start = st; }
    }
    const int diff = kStateLen - ss;
    double eFirst = 0, eLast = 0;
    for (int n = 0; n < diff; ++n) {
      eFirst += res[(p.start - 1) * kSub + n] * res[(p.start - 1) * kSub + n];
      eLast += res[(p.start - 1) * kSub + kStateLen - 1 - n] * res[(p.start - 1) * kSub + kStateLen - 1 - n];
    }
    p.stateFirst = eFirst < eLast ? 1 : 0;
    const int statePos = p.stateFirst ? (p.start - 1) * kSub : (p.start - 1) * kSub + diff;
    float x[kStateLen];
    InvertState(res + statePos, syn[p.start - 1], ss, x);
    float maxAbs = 1.0f;
    for (int i = 0; i < ss; ++i) maxAbs = std::max(maxAbs, std::fabs(x[i]));
    p.scaleIndex = Nearest(kStateScale, 64, std::log10(maxAbs));
    const float step = std::pow(10.0f, kStateScale[p.scaleIndex]) / 4.5f;
    for (int i = 0; i < ss; ++i) p.state[i] = Nearest(kStateLevels, 8, x[i] / step);

    // Reconstruct exactly as the decoder does, searching each vector on the way.
    float dec[240] = {};
    ConstructState(p.scaleIndex, p.state, syn[p.start - 1], dec + statePos, ss);
    float mem[kCbMem], rev[240], target[kSub];
    if (p.stateFirst) {
      std::fill(mem, mem + kCbMem, 0.0f);
      std::memcpy(mem + kCbMem - ss, dec + statePos, sizeof(float) * static_cast<size_t>(ss));
      Search(res + statePos + ss, mem + kCbMem - kStateCbMem, kStateCbMem, diff, false, p.extraCb, p.extraGain);
      ConstructVector(p.extraCb, p.extraGain, mem + kCbMem - kStateCbMem, kStateCbMem, diff, dec + statePos + ss);
    } else {
      std::fill(mem, mem + kCbMem, 0.0f);
      for (int k = 0; k < ss; ++k) mem[kCbMem - 1 - k] = dec[statePos + k];
      for (int k = 0; k < diff; ++k) target[k] = res[statePos - 1 - k];
      Search(target, mem + kCbMem - kStateCbMem, kStateCbMem, diff, false, p.extraCb, p.extraGain);
      ConstructVector(p.extraCb, p.extraGain, mem + kCbMem - kStateCbMem, kStateCbMem, diff, rev);
      for (int k = 0; k < diff; ++k) dec[statePos - 1 - k] = rev[k];
    }
    int cb[4][3];
    int coded = 0;
    const int forward = nsub - p.start - 1;
    if (forward > 0) {
      std::fill(mem, mem + kCbMem, 0.0f);
      std::memcpy(mem + kCbMem - kStateLen, dec + (p.start - 1) * kSub, sizeof(float) * kStateLen);
      for (int b = 0; b < forward; ++b, ++coded) {
        float* o = dec + (p.start + 1 + b) * kSub;
        Search(res + (p.start + 1 + b) * kSub, mem, kCbMem, kSub, coded == 0, cb[coded], p.gain[coded]);
        ConstructVector(cb[coded], p.gain[coded], mem, kCbMem, kSub, o);
        std::memmove(mem, mem + kSub, sizeof(float) * (kCbMem - kSub));
        std::memcpy(mem + kCbMem - kSub, o, sizeof(float) * kSub);
      }
    }
    const int backward = p.start - 1;
    if (backward > 0) {
      const int avail = std::min(kSub * (nsub + 1 - p.start), kCbMem);
      std::fill(mem, mem + kCbMem, 0.0f);
      for (int k = 0; k < avail; ++k) mem[kCbMem - 1 - k] = dec[(p.start - 1) * kSub + k];
      for (int b = 0; b < backward; ++b, ++coded) {
        for (int k = 0; k < kSub; ++k) target[k] = res[(backward - b) * kSub - 1 - k];
        float* o = rev + b * kSub;
        Search(target, mem, kCbMem, kSub, coded == 0, cb[coded], p.gain[coded]);
        ConstructVector(cb[coded], p.gain[coded], mem, kCbMem, kSub, o);
        std::memmove(mem, mem + kSub, sizeof(float) * (kCbMem - kSub));
        std::memcpy(mem + kCbMem - kSub, o, sizeof(float) * kSub);
      }
    }
    // Transmitted form of the first coded sub-block's reduced-range stages.
    std::memcpy(p.cb, cb, sizeof(cb));
    for (int st = 1; st < 3; ++st) {
      const int i = cb[0][st];
      p.cb[0][st] = i < 44 ? i : i < 172 ? i - 64 : i - 128;
    }
    uint8_t bytes[kFrameBytes30];
    PackFrame(p, bytes);
    std::fwrite(bytes, 1, static_cast<size_t>(FrameBytes(mode)), out);
  }
  std::fclose(out);
  std::fclose(in);
  return 0;
}
