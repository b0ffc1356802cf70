// The motion-compensation kernels (H264McX86.h) compiled for ssse3.
#include "codec/video/kernels/H264Kernels.h"

#include <cstring>

#if defined(__x86_64__) && defined(__SSSE3__)
#include <tmmintrin.h>

namespace fennik {
namespace {
#include "codec/video/kernels/H264McX86.h"
}  // namespace

void FillSsse3McKernels(H264Kernels* k) { FillMc(k); }

}  // namespace fennik
#else
namespace fennik {
void FillSsse3McKernels(H264Kernels*) {}
}  // namespace fennik
#endif
