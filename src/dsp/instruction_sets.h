// The instruction sets the vector loops are built for, listed once for the
// files that stamp functions for each (the kernel table in kernels.cpp, the
// benchmarks' ceilings in ceilings.cpp), with the tests of the processor
// that has a set and that prefers it (kernels.cpp).
#pragma once

#include "dsp/vector.h"

#if !defined(FIR_PORTABLE_KERNELS) && (defined(__x86_64__) || defined(__i386__))
#define FIR_KERNELS_X86 1
#endif

namespace dsp_internal {

bool always();
#if defined(FIR_KERNELS_X86)
bool has_avx512();
bool prefers_avx512();
bool has_avx2();
#endif

}  // namespace dsp_internal

// FIR_INSTRUCTION_SETS(STAMP) is STAMP(name, lanes, TARGET, supported,
// preferred) for every set of this build, best first: TARGET is the
// function attribute that compiles for the set. The last, the baseline,
// runs on every processor of the target: SSE2 on x86, the compiler's
// generic vectors elsewhere, plain arrays when portable.
#if defined(FIR_KERNELS_X86)
#define FIR_INSTRUCTION_SETS(STAMP)                                             \
  STAMP(avx512, 8, [[gnu::target("avx512f")]], has_avx512, prefers_avx512)     \
  STAMP(avx2, 4, [[gnu::target("avx2")]], has_avx2, has_avx2)                   \
  STAMP(baseline, 2, , always, always)
#else
#define FIR_INSTRUCTION_SETS(STAMP) STAMP(baseline, 2, , always, always)
#endif
