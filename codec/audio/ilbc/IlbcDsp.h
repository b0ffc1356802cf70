// Building blocks of the iLBC decoder (RFC 3951 section 4), shared with test tools that
// construct frames (an encoder must reproduce the decoder's reconstruction exactly).
#pragma once

namespace fennik::ilbc {

// LSF split-VQ indices (three) to 10 LSFs in radians (RFC 3951 3.2.4).
void DequantizeLsf(const int* index, float* lsf);
// Keeps 10 LSFs ordered and inside 0..4000 Hz (RFC 3951 4.1).
void StabilizeLsf(float* lsf);
// 10 LSFs (radians) to the predictor a[0..10] with a[0] = 1.
void LsfToLpc(const float* lsf, float* a);
// The start state's `len` samples (57 or 58) from its scale and sample indices (RFC 3951 4.2).
void ConstructState(int scaleIndex, const int* index, const float* a, float* out, int len);
// Codebook vector `index` of `len` samples from the memory mem[0..lMem) (RFC 3951 4.3.1).
void CodebookVector(const float* mem, int lMem, int index, int len, float* out);
// Gain of a codebook stage with `levels` (32, 16 or 8) steps, scaled by the previous gain.
float DequantizeGain(int index, float previous, int levels);
// Three-stage codebook reconstruction of `len` samples (RFC 3951 4.4).
void ConstructVector(const int* cb, const int* gainIndex, const float* mem, int lMem, int len, float* out);

// The lag searches' measure (RFC 3951 4.6.1, 4.5): c^2 / energy of `regressor` for a positive
// cross-correlation c with `target`, else 0.
float CorrelationMeasure(const float* target, const float* regressor, int len);

}  // namespace fennik::ilbc
