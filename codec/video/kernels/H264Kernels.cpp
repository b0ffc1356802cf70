// Chooses the kernel table once from the CPU's features and the FENNIK_SIMD cap.
#include "codec/video/kernels/H264Kernels.h"

#include <cstdlib>
#include <cstring>

namespace fennik {
namespace {

SimdLevel DetectCpu() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  if (__builtin_cpu_supports("sse4.1")) return SimdLevel::kSse41;
  if (__builtin_cpu_supports("ssse3")) return SimdLevel::kSsse3;
  return SimdLevel::kSse2;  // part of x86-64 itself
#else
  return SimdLevel::kScalar;
#endif
}

// The cap from FENNIK_SIMD; unknown names leave the CPU's level.
SimdLevel Capped(SimdLevel cpu) {
  const char* env = std::getenv("FENNIK_SIMD");
  if (env == nullptr || *env == '\0') return cpu;
  for (int i = 0; i <= static_cast<int>(SimdLevel::kAvx2); ++i) {
    const auto level = static_cast<SimdLevel>(i);
    if (std::strcmp(env, SimdLevelName(level)) == 0) return level < cpu ? level : cpu;
  }
  return cpu;
}

}  // namespace

const char* SimdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::kScalar: return "scalar";
    case SimdLevel::kSse2: return "sse2";
    case SimdLevel::kSsse3: return "ssse3";
    case SimdLevel::kSse41: return "sse4.1";
    case SimdLevel::kAvx2: return "avx2";
  }
  return "scalar";
}

SimdLevel CpuSimdLevel() {
  static const SimdLevel level = DetectCpu();
  return level;
}

SimdLevel ActiveSimdLevel() {
  static const SimdLevel level = Capped(CpuSimdLevel());
  return level;
}

H264Kernels KernelsFor(SimdLevel level) {
  H264Kernels k{};
  FillScalarKernels(&k);
  FillScalarDeblockKernels(&k);
#if defined(__x86_64__)
  const SimdLevel top = level < CpuSimdLevel() ? level : CpuSimdLevel();
  if (top >= SimdLevel::kSse2) {
    FillSse2Kernels(&k);
    FillSse2McKernels(&k);
    FillSse2DeblockKernels(&k);
  }
  if (top >= SimdLevel::kSsse3) FillSsse3McKernels(&k);
  if (top >= SimdLevel::kSse41) FillSse41McKernels(&k);
  if (top >= SimdLevel::kAvx2) {
    FillAvx2McKernels(&k);
    FillAvx2DeblockKernels(&k);
  }
#else
  (void)level;
#endif
  return k;
}

const H264Kernels& ScalarKernels() {
  static const H264Kernels table = [] {
    H264Kernels k{};
    FillScalarKernels(&k);
    FillScalarDeblockKernels(&k);
    return k;
  }();
  return table;
}

const H264Kernels& Kernels() {
  static const H264Kernels table = KernelsFor(ActiveSimdLevel());
  return table;
}

}  // namespace fennik
