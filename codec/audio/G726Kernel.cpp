// ITU-T G.726 decoder blocks (the block names of the standard's computational details are
// given at each step). All quantities keep the standard's word lengths where it matters:
// SR and the predictor sums wrap at 16 bits, the predictor products use the 11-bit floating
// format, and signed products are formed on magnitudes as the standard's sign-magnitude
// arithmetic does.
#include "codec/audio/G726Kernel.h"

#include <algorithm>
#include <bit>

namespace fennik {
namespace {

int32_t Wrap16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// FLOATA / FLOATB: magnitude and sign to the 11-bit floating format.
G726Float ToFloat(uint32_t sign, uint32_t magnitude) {
  G726Float f;
  f.sign = static_cast<uint8_t>(sign);
  f.exp = static_cast<uint8_t>(std::bit_width(magnitude));
  f.mant = static_cast<uint8_t>(magnitude ? (magnitude << 6) >> f.exp : 32);
  return f;
}

// FMULT: a predictor coefficient (16-bit two's complement, 2^-14) times a floating-format
// signal value. The result carries one extra fractional bit (ACCUM halves the sum).
int32_t FloatMultiply(int32_t coefficient, G726Float value) {
  const int32_t scaled = coefficient >> 2;  // 14-bit coefficient
  const uint32_t sign = coefficient < 0 ? 1u : 0u;
  const uint32_t magnitude = sign ? static_cast<uint32_t>(-scaled) & 8191u
                                  : static_cast<uint32_t>(scaled);
  const int exp = std::bit_width(magnitude);
  const uint32_t mant = magnitude ? (magnitude << 6) >> exp : 32;
  const int productExp = exp + value.exp;
  const uint32_t productMant = (mant * value.mant + 48) >> 4;
  const uint32_t productMag = productExp > 19
                                  ? (productMant << (productExp - 19)) & 32767u
                                  : productMant >> (19 - productExp);
  const int32_t product = static_cast<int32_t>(productMag);
  return (sign ^ value.sign) ? -product : product;
}

// ACCUM, MIX and LIMA: the signal estimate and the scale factor for the next code word.
void ComputeEstimates(G726State& s, G726Rounding rounding) {
  int32_t sezi = 0;
  for (int i = 0; i < 6; ++i) sezi += FloatMultiply(s.b[i], s.dq[i]);
  sezi = Wrap16(sezi);
  int32_t sei = Wrap16(sezi + FloatMultiply(s.a[1], s.sr[1]) + FloatMultiply(s.a[0], s.sr[0]));
  s.sez = sezi >> 1;
  s.se = sei >> 1;

  const int32_t al = s.ap >= 256 ? 64 : s.ap >> 2;
  const int32_t dif = s.yu - (s.yl >> 6);
  if (rounding == G726Rounding::kLibavcodec) {
    s.y = (s.yl + dif * al) >> 6;
  } else {
    const int32_t prod = dif >= 0 ? (dif * al) >> 6 : -((-dif * al) >> 6);
    s.y = (s.yl >> 6) + prod;
  }
}

}  // namespace

void G726ResetState(G726State& state, G726Rounding rounding) {
  state = G726State{};
  ComputeEstimates(state, rounding);
}

G726SampleResult G726DecodeSample(G726State& s, const G726RateTables& t, uint32_t code,
                                  G726Rounding rounding) {
  const uint32_t mask = (1u << t.codeBits) - 1;
  code &= mask;
  const uint32_t dqs = code >> (t.codeBits - 1);

  // RECONST, ADDA, ANTILOG: log-domain inverse quantization scaled by y.
  const int32_t dql = t.dqln[code] + (s.y >> 2);
  uint32_t dqmag = 0;
  if (dql >= 0) {
    const int32_t dex = (dql >> 7) & 15;
    const uint32_t dqt = 128 + static_cast<uint32_t>(dql & 127);
    dqmag = (dqt << 7) >> (14 - dex);
  }
  const int32_t dq = dqs ? -static_cast<int32_t>(dqmag) : static_cast<int32_t>(dqmag);

  // ADDB, ADDC: reconstructed signal and partial signal (16-bit).
  const int32_t sr = Wrap16(s.se + dq);
  const int32_t dqsez = Wrap16(s.sez + dq);

  // TRANS: transition detector, threshold from the slow scale factor.
  const int32_t ylint = s.yl >> 15;
  const int32_t ylfrac = (s.yl >> 10) & 31;
  const int32_t thr2 = ylint > 9 ? 31 << 10 : (32 + ylfrac) << ylint;
  const uint32_t dqthr = static_cast<uint32_t>((thr2 + (thr2 >> 1)) >> 1);
  const int32_t tr = (s.td && dqmag > dqthr) ? 1 : 0;

  // FUNCTW, FILTD, LIMB, FILTE: fast and slow scale factors.
  const int32_t wi = t.w[code];
  const int32_t yup = std::clamp(s.y + ((wi * 32 - s.y) >> 5), 544, 5120);
  const int32_t ylp = s.yl + yup + ((-s.yl) >> 6);

  // FUNCTF, FILTA, FILTB: short and long-term averages of F(I).
  const int32_t fi = t.f[code];
  const int32_t dmsp = s.dms + (((fi << 9) - s.dms) >> 5);
  const int32_t dmlp = s.dml + (((fi << 11) - s.dml) >> 7);

  // UPA2, LIMC: second pole coefficient.
  const uint8_t pk0 = static_cast<uint8_t>(dqsez < 0);
  const bool sigpk = dqsez == 0;
  int32_t uga2 = 0;
  if (!sigpk) {
    const int32_t fa1 = 4 * std::clamp(s.a[0], -8191, 8191);
    const int32_t fa = (pk0 ^ s.pk[0]) ? fa1 : -fa1;
    const int32_t uga2a = (pk0 ^ s.pk[1]) ? -16384 : 16384;
    uga2 = (uga2a + fa) >> 7;
  }
  const int32_t a2p = std::clamp(s.a[1] + uga2 - (s.a[1] >> 7), -12288, 12288);

  // UPA1, LIMD: first pole coefficient, bounded by the new A2.
  const int32_t uga1 = sigpk ? 0 : ((pk0 ^ s.pk[0]) ? -192 : 192);
  const int32_t a1limit = 15360 - a2p;
  const int32_t a1p = std::clamp(s.a[0] + uga1 - (s.a[0] >> 8), -a1limit, a1limit);

  // TONE: partial band signal (tone) detector.
  const int32_t tdp = a2p < -11776 ? 1 : 0;

  // SUBTA, SUBTB, SUBTC, FILTC, TRIGB: speed control.
  const int32_t dif = std::abs((dmsp << 2) - dmlp);
  const int32_t ax = (s.y >= 1536 && dif < (dmlp >> 3) && tdp == 0) ? 0 : 1;
  const int32_t app = s.ap + (((ax << 9) - s.ap) >> 4);

  // UPB, TRIGB: zero coefficients; a transition resets the whole predictor.
  const int leakShift = rounding == G726Rounding::kLibavcodec ? 8 : t.zeroLeakShift;
  for (int i = 0; i < 6; ++i) {
    int32_t ugb = 0;
    if (dqmag != 0) ugb = (dqs ^ s.dq[i].sign) ? -128 : 128;
    const int32_t bp = Wrap16(s.b[i] + ugb - (s.b[i] >> leakShift));
    s.b[i] = tr ? 0 : bp;
  }
  s.a[0] = tr ? 0 : a1p;
  s.a[1] = tr ? 0 : a2p;
  s.td = tr ? 0 : tdp;
  s.ap = tr ? 256 : app;
  s.yu = yup;
  s.yl = ylp;
  s.dms = dmsp;
  s.dml = dmlp;

  // FLOATA, FLOATB and the delay lines.
  for (int i = 5; i > 0; --i) s.dq[i] = s.dq[i - 1];
  s.dq[0] = ToFloat(dqs, dqmag);
  s.sr[1] = s.sr[0];
  s.sr[0] = sr < 0 ? ToFloat(1, static_cast<uint32_t>(-sr) & 32767u)
                   : ToFloat(0, static_cast<uint32_t>(sr));
  s.pk[1] = s.pk[0];
  s.pk[0] = pk0;

  ComputeEstimates(s, rounding);
  return {sr, dq, tr};
}

}  // namespace fennik
