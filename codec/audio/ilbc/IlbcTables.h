// Constant tables of the iLBC decoder (RFC 3951), kept apart from the decoding logic.
#pragma once

namespace fennik::ilbc {

extern const float kLsfCodebook[1088];
extern const float kLsfMean[10];
extern const float kStateScale[64];
extern const float kStateLevels[8];
extern const float kGain3[8];
extern const float kGain4[16];
extern const float kGain5[32];
extern const float kCbFilter[8];
extern const float kPolyphase[28];
extern const float kEnhDownFilter[7];
extern const float kHpOutZeros[3];
extern const float kHpOutPoles[3];

}  // namespace fennik::ilbc
