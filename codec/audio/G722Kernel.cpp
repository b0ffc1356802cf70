// ITU-T G.722 decoder blocks, named as in the standard's block descriptions (INVQAL,
// INVQBL, LOGSCL, SCALEL, RECONS, PARREC, UPPOL1/2, UPZERO, DELAYA, FILTEP, FILTEZ, PREDIC
// and the higher-band counterparts), with its 16-bit saturating arithmetic.
#include "codec/audio/G722Kernel.h"

#include <algorithm>

#include "codec/audio/G722Tables.h"

namespace fennik {
namespace {

int32_t Saturate16(int32_t v) { return std::clamp(v, -32768, 32767); }
int32_t SignBit(int32_t v) { return v < 0 ? 1 : 0; }

// SCALEL / SCALEH: scale factor from the log scale factor; shiftBase is 8 (lower band) or
// 10 (higher band).
int32_t ScaleFactor(int32_t nb, int shiftBase) {
  const int32_t mantissa = kG722InvLog2[(nb >> 6) & 31];
  const int shift = shiftBase - (nb >> 11);
  const int32_t wd3 = shift < 0 ? mantissa << -shift : mantissa >> shift;
  return wd3 << 2;
}

// The adaptive predictor shared by both sub-bands, fed with the quantized difference dq:
// RECONS, PARREC, UPPOL2, UPPOL1, UPZERO, DELAYA, FILTEP, FILTEZ, PREDIC.
void AdaptPredictor(G722BandState& band, int32_t dq) {
  const int32_t r0 = Saturate16(band.s + dq);
  const int32_t p0 = Saturate16(dq + band.sz);

  // UPPOL2
  const int32_t sg0 = SignBit(p0);
  const int32_t sg1 = SignBit(band.p[1]);
  const int32_t sg2 = SignBit(band.p[2]);
  const int32_t wd1 = Saturate16(band.a[1] * 4);
  const int32_t wd2 = Saturate16(sg0 == sg1 ? -wd1 : wd1) >> 7;
  const int32_t wd3 = sg0 == sg2 ? 128 : -128;
  const int32_t wd5 = (band.a[2] * 32512) >> 15;
  const int32_t a2 = std::clamp(wd2 + wd3 + wd5, -12288, 12288);

  // UPPOL1
  const int32_t a1Limit = 15360 - a2;
  const int32_t a1 =
      std::clamp(Saturate16((sg0 == sg1 ? 192 : -192) + ((band.a[1] * 32640) >> 15)), -a1Limit,
                 a1Limit);

  // UPZERO
  const int32_t gain = dq == 0 ? 0 : 128;
  const int32_t dqSign = SignBit(dq);
  for (int i = 1; i <= 6; ++i) {
    const int32_t step = SignBit(band.d[i]) == dqSign ? gain : -gain;
    band.b[i] = Saturate16(step + ((band.b[i] * 32640) >> 15));
  }

  // DELAYA
  for (int i = 6; i > 1; --i) band.d[i] = band.d[i - 1];
  band.d[1] = dq;
  band.p[2] = band.p[1];
  band.p[1] = p0;
  band.r[2] = band.r[1];
  band.r[1] = r0;
  band.a[1] = a1;
  band.a[2] = a2;

  // FILTEP
  const int32_t pole1 = (band.a[1] * Saturate16(band.r[1] * 2)) >> 15;
  const int32_t pole2 = (band.a[2] * Saturate16(band.r[2] * 2)) >> 15;
  const int32_t sp = Saturate16(pole1 + pole2);

  // FILTEZ
  int32_t sz = 0;
  for (int i = 6; i >= 1; --i) sz += (band.b[i] * Saturate16(band.d[i] * 2)) >> 15;
  band.sz = Saturate16(sz);

  // PREDIC
  band.s = Saturate16(sp + band.sz);
}

}  // namespace

void G722ResetLowBand(G722BandState& band) {
  band = G722BandState{};
  band.det = 32;
}

void G722ResetHighBand(G722BandState& band) {
  band = G722BandState{};
  band.det = 8;
}

int32_t G722DecodeLowBand(G722BandState& band, uint32_t ilr) {
  ilr &= 63;
  const uint32_t il4 = ilr >> 2;
  // INVQBL: the output uses all six bits; RECONS with the output limit of 15 bits.
  const int32_t dl = (band.det * kG722LowInvQuant6[ilr]) >> 12;
  const int32_t rl = std::clamp(band.s + dl, -16384, 16383);
  // INVQAL: the predictor loop runs on the 4-bit core, as in the encoder.
  const int32_t dlt = (band.det * kG722LowInvQuant4[il4]) >> 12;
  // LOGSCL, SCALEL
  band.nb = std::clamp(((band.nb * 127) >> 7) + kG722LowLogStep[il4], 0, 18432);
  band.det = ScaleFactor(band.nb, 8);
  AdaptPredictor(band, dlt);
  return rl;
}

int32_t G722DecodeHighBand(G722BandState& band, uint32_t ih) {
  ih &= 3;
  // INVQAH, RECONS with the 15-bit limit.
  const int32_t dh = (band.det * kG722HighInvQuant[ih]) >> 12;
  const int32_t rh = std::clamp(band.s + dh, -16384, 16383);
  // LOGSCH, SCALEH
  band.nb = std::clamp(((band.nb * 127) >> 7) + kG722HighLogStep[ih], 0, 22528);
  band.det = ScaleFactor(band.nb, 10);
  AdaptPredictor(band, dh);
  return rh;
}

void G722ReceiveQmf(G722QmfState& qmf, int32_t rl, int32_t rh, int32_t xout[2]) {
  for (int i = 11; i > 0; --i) {
    qmf.xd[i] = qmf.xd[i - 1];
    qmf.xs[i] = qmf.xs[i - 1];
  }
  qmf.xd[0] = rl - rh;
  qmf.xs[0] = rl + rh;
  // xout1 = 2·Σ h(2i)·xd(j−i), xout2 = 2·Σ h(2i+1)·xs(j−i) with h in units of 2^-13: in the
  // 15-bit scale of the sub-band signals that is the sum of products shifted right by 12
  // (the standard's doubled coefficients in a doubling multiply-accumulate, shifted by 14).
  // Each output is limited to that 15-bit scale and doubled to 16-bit PCM, so its last bit
  // is always 0.
  int32_t sumEven = 0;
  int32_t sumOdd = 0;
  for (int i = 0; i < 12; ++i) {
    sumEven += kG722QmfCoefficients[2 * i] * qmf.xd[i];
    sumOdd += kG722QmfCoefficients[2 * i + 1] * qmf.xs[i];
  }
  xout[0] = std::clamp(sumEven >> 12, -16384, 16383) * 2;
  xout[1] = std::clamp(sumOdd >> 12, -16384, 16383) * 2;
}

}  // namespace fennik
