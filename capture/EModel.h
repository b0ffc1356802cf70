// A listening-quality estimate after the ITU-T G.107 E-model: the R factor from the effective
// equipment impairment Ie,eff (packet loss, its burstiness and the codec's Ie and Bpl) with
// every other parameter at its G.107 default (which gives R = 93.2 without loss), and the
// MOS (conversational quality, estimated) from R. Delay is left out. It is an estimate from
// network figures, not a measurement of the decoded speech.
#pragma once

#include <string_view>

namespace fennik {

// Equipment impairment factor Ie and packet-loss robustness factor Bpl of one codec.
struct CodecImpairment {
  const char* encodingName;  // as RTP names it (RFC 3551, SDP)
  double ie;
  double bpl;
};

// The narrowband codecs ITU-T G.113 (11/2007) Appendix I gives both values for (Ie from
// Table I.1, Bpl from Table I.3, random loss): G.711 in 10 ms packets with the packet-loss
// concealment of G.711 Appendix I (Ie 0, Bpl 25.1), G.729A with VAD in 20 ms packets (11,
// 19.0), G.723.1 6.3 kbit/s with VAD in 30 ms packets (15, 16.1), GSM-EFR (5, 10.0). RTP's
// "G729" names G.729 and G.729A alike and gets the G.729A pair. Codecs with an Ie but no Bpl
// there (G.726, G.728, GSM full rate) and those Appendix I does not list (iLBC, Opus,
// Speex) get no estimate rather than a guessed pair.
// nullptr for any other encoding (wideband codecs are rated on another scale).
const CodecImpairment* FindCodecImpairment(std::string_view encodingName);

struct QualityEstimate {
  double ieEff = 0;
  double r = 0;
  double mos = 0;
};

// G.107: Ie,eff = Ie + (95 - Ie) * Ppl / (Ppl / BurstR + Bpl), R = 93.2 - Ie,eff,
// MOS = 1 + 0.035 R + R (R - 60) (100 - R) 7e-6 for 0 < R < 100 (1 below, 4.5 above).
// `lossPercent` is Ppl in percent (negative counts as 0); `burstR` 1 for random loss.
QualityEstimate EstimateQuality(const CodecImpairment& codec, double lossPercent, double burstR);
double MosFromR(double r);

}  // namespace fennik
