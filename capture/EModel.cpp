#include "capture/EModel.h"

#include <algorithm>
#include <strings.h>

namespace fennik {
namespace {

constexpr double kDefaultR = 93.2;  // G.107 with every parameter at its default value

constexpr CodecImpairment kImpairments[] = {
    {"PCMU", 0, 25.1},
    {"PCMA", 0, 25.1},
    {"G729", 11, 19.0},
    {"G723", 15, 16.1},
    {"GSM-EFR", 5, 10.0},
};

}  // namespace

const CodecImpairment* FindCodecImpairment(std::string_view name) {
  for (const CodecImpairment& c : kImpairments) {
    const std::string_view n(c.encodingName);
    if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) return &c;
  }
  return nullptr;
}

double MosFromR(double r) {
  if (r <= 0) return 1.0;
  if (r >= 100) return 4.5;
  return 1.0 + 0.035 * r + r * (r - 60.0) * (100.0 - r) * 7e-6;
}

QualityEstimate EstimateQuality(const CodecImpairment& codec, double lossPercent, double burstR) {
  const double ppl = std::max(0.0, lossPercent);
  const double burst = burstR > 0 ? burstR : 1.0;
  QualityEstimate q;
  q.ieEff = codec.ie + (95.0 - codec.ie) * ppl / (ppl / burst + codec.bpl);
  q.r = kDefaultR - q.ieEff;
  q.mos = MosFromR(q.r);
  return q;
}

}  // namespace fennik
