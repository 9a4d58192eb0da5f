// The kernel table: every instruction set the stages run on
// (instruction_sets.h), with its register budget for the direct stage (a
// DirectShape; direct_kernel.h says what each budget decides) and its
// loops, stamped from one definition. Adding an instruction set takes its
// line in FIR_INSTRUCTION_SETS, its processor tests and its DirectShape.
#include "dsp/kernels.h"

#include <cstdint>
#include <iterator>
#include <string_view>

#include "dsp/block_kernels.h"
#include "dsp/direct_kernel.h"
#include "dsp/instruction_sets.h"
#include "dsp/vector.h"

#if defined(FIR_KERNELS_X86)
#include <cpuid.h>
#endif

namespace dsp_internal {
namespace {

// ---- Register budgets --------------------------------------------------------------
//
// One line of why for each, with the figure that chose it; the measurements
// behind them are in doc/performance.md.

// x86-64 AVX-512, 32 registers: 8 sums a group; sliding spans up to 64 taps
// (0.69 to 0.90 times the segments' time there, AMD Zen 5).
constexpr DirectShape avx512_x86_64{.lanes = 8, .copies_group = 8, .segments_group = 8,
    .windows_group = 0, .windows_max_taps = 0, .sliding_max_taps = 64};
// x86-64 AVX2 and SSE2, 16 registers: tap windows up to 16 taps (0.17
// against 0.24 ms at N = 10^5, AMD Zen 3); no sliding spans, which would
// need two shuffles per span here.
constexpr DirectShape avx2_x86_64{.lanes = 4, .copies_group = 12, .segments_group = 5,
    .windows_group = 8, .windows_max_taps = 16, .sliding_max_taps = 0};
constexpr DirectShape sse2_x86_64{.lanes = 2, .copies_group = 12, .segments_group = 5,
    .windows_group = 8, .windows_max_taps = 16, .sliding_max_taps = 0};
// 32-bit x86, 8 registers: tap windows up to 1024 taps, 2 to 3.5 times
// faster than the segments (AMD Zen 5, under Wine); SSE2 keeps the
// segments, its tap windows 1.2 to 1.6 times slower.
constexpr DirectShape avx512_x86_32{.lanes = 8, .copies_group = 6, .segments_group = 0,
    .windows_group = 6, .windows_max_taps = 1024, .sliding_max_taps = 0};
constexpr DirectShape avx2_x86_32{.lanes = 4, .copies_group = 6, .segments_group = 0,
    .windows_group = 5, .windows_max_taps = 1024, .sliding_max_taps = 0};
constexpr DirectShape sse2_x86_32{.lanes = 2, .copies_group = 4, .segments_group = 3,
    .windows_group = 0, .windows_max_taps = 0, .sliding_max_taps = 0};

// Elsewhere (the compiler's generic vectors, plain arrays when portable)
// x86-64 SSE2's budget, not measured (on 64-bit ARM only its bits are
// checked, under emulation).
#if defined(__i386__) || defined(_M_IX86)
constexpr DirectShape avx512 = avx512_x86_32, avx2 = avx2_x86_32, baseline = sse2_x86_32;
#else
constexpr DirectShape avx512 = avx512_x86_64, avx2 = avx2_x86_64, baseline = sse2_x86_64;
#endif

// ---- Stamping a row ------------------------------------------------------------------

// Every loop of one instruction set: the templates at the shape S, inside
// functions compiled for the set (TARGET, a target attribute, or nothing).
#define FIR_KERNEL_LOOPS(Loops, S, TARGET)                                                                \
  struct Loops {                                                                                          \
    static constexpr DirectShape shape = S;                                                               \
    TARGET static void accumulate(const DirectOperands& op, double* scratch) {                            \
      dsp_internal::accumulate<S>(op, scratch);                                                           \
    }                                                                                                     \
    TARGET static void load_block(double* block, const double* x, std::size_t count, std::size_t length) { \
      dsp_internal::load_block<S.lanes>(block, x, count, length);                                         \
    }                                                                                                     \
    TARGET static void multiply(double* spectrum, const double* h_re, const double* h_im, std::size_t bins, \
                                double scale) {                                                           \
      multiply_spectra<S.lanes>(spectrum, h_re, h_im, bins, scale);                                       \
    }                                                                                                     \
    TARGET static void overlap_add(const double* b, double* y, std::size_t added, std::size_t stored) {   \
      dsp_internal::overlap_add<S.lanes>(b, y, added, stored);                                            \
    }                                                                                                     \
  }

template <typename Loops>
constexpr Kernels row(const char* name, bool (*supported)(), bool (*preferred)()) {
  return {name,
          supported,
          preferred,
          Loops::accumulate,
          direct_scratch_doubles<Loops::shape>,
          Loops::load_block,
          Loops::multiply,
          Loops::overlap_add};
}

// ---- The rows ----------------------------------------------------------------------

#define FIR_STAMP_LOOPS(name, W, TARGET, supported, preferred) \
  static_assert(name.lanes == W);                              \
  FIR_KERNEL_LOOPS(name##_loops, name, TARGET);
FIR_INSTRUCTION_SETS(FIR_STAMP_LOOPS)

#if defined(FIR_PORTABLE_KERNELS)
// Plain C++ at the vector rows' shapes: the portable build runs their logic
// on any machine, whatever vector units it has. Never chosen to run the
// program.
bool never() { return false; }
FIR_KERNEL_LOOPS(Portable8Loops, avx512_x86_64, );
FIR_KERNEL_LOOPS(Portable4Loops, avx2_x86_64, );
FIR_KERNEL_LOOPS(Portable8X86_32Loops, avx512_x86_32, );
FIR_KERNEL_LOOPS(Portable4X86_32Loops, avx2_x86_32, );
#endif

#define FIR_KERNEL_ROW(name, W, TARGET, supported, preferred) row<name##_loops>(#name, supported, preferred),
constexpr Kernels table[] = {
#if defined(FIR_PORTABLE_KERNELS)
    row<Portable8Loops>("portable8", always, never),
    row<Portable4Loops>("portable4", always, never),
    row<Portable8X86_32Loops>("portable8_x86_32", always, never),
    row<Portable4X86_32Loops>("portable4_x86_32", always, never),
#endif
    FIR_INSTRUCTION_SETS(FIR_KERNEL_ROW)};

const Kernels*& active() {
  static const Kernels* chosen = [] {
    for (const Kernels& r : table) {
      if (r.preferred()) return &r;
    }
    return &table[std::size(table) - 1];
  }();
  return chosen;
}

}  // namespace
}  // namespace dsp_internal

std::span<const Kernels> kernel_table() { return dsp_internal::table; }

const Kernels& active_kernels() { return *dsp_internal::active(); }

bool use_kernels(std::string_view name) {
  for (const Kernels& row : dsp_internal::table) {
    if (row.name == name && row.supported()) {
      dsp_internal::active() = &row;
      return true;
    }
  }
  return false;
}

// ---- Which processor has which set ---------------------------------------------------

namespace dsp_internal {

bool always() { return true; }

#if defined(FIR_KERNELS_X86)
namespace {

// AMD's Zen 4 (family 19h) runs each 512-bit operation as two 256-bit halves:
// 256-bit vectors reach the same arithmetic peak there, and their loads cross
// cache lines less often, so the AVX2 kernels are the faster choice.
bool splits_512_bit_operations() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return false;
  const bool amd = ebx == 0x68747541 && edx == 0x69746e65 && ecx == 0x444d4163;  // "AuthenticAMD"
  if (!amd || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const unsigned family = ((eax >> 8) & 0xF) + ((eax >> 20) & 0xFF);
  return family == 0x19;
}

}  // namespace

bool has_avx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}
bool prefers_avx512() { return has_avx512() && !splits_512_bit_operations(); }
bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

}  // namespace dsp_internal
