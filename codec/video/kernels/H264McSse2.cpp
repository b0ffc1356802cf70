// The motion-compensation kernels (H264McX86.h) compiled for sse2.
#include "codec/video/kernels/H264Kernels.h"

#include <cstring>

#if defined(__x86_64__) && defined(__SSE2__)
#include <emmintrin.h>

namespace fennik {
namespace {
#include "codec/video/kernels/H264McX86.h"
}  // namespace

void FillSse2McKernels(H264Kernels* k) { FillMc(k); }

}  // namespace fennik
#else
namespace fennik {
void FillSse2McKernels(H264Kernels*) {}
}  // namespace fennik
#endif
