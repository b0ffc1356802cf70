// The motion-compensation kernels (H264McX86.h) compiled for avx2.
#include "codec/video/kernels/H264Kernels.h"

#include <cstring>

#if defined(__x86_64__) && defined(__AVX2__)
#include <immintrin.h>

namespace fennik {
namespace {
#include "codec/video/kernels/H264McX86.h"
}  // namespace

void FillAvx2McKernels(H264Kernels* k) { FillMc(k); }

}  // namespace fennik
#else
namespace fennik {
void FillAvx2McKernels(H264Kernels*) {}
}  // namespace fennik
#endif
