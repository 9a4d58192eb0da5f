// The kernel table: every instruction set the stages can run on, each with
// the test of the processor that picks it, its register budget for the
// direct stage (a DirectShape) and its instantiations of the kernels.
// Adding an instruction set is one block of instantiations here and one row
// in the table.
#include <cstdint>
#include <iterator>
#include <string_view>

#include "dsp/block_kernels.h"
#include "dsp/direct_kernel.h"
#include "dsp/dsp_internal.h"
#include "dsp/vector.h"

#if !defined(FIR_PORTABLE_KERNELS) && (defined(__x86_64__) || defined(__i386__))
#define FIR_KERNELS_X86 1
#include <cpuid.h>
#endif

namespace dsp_internal {
namespace {

// `iterations` rounds of 12 independent vector multiplies and 12 independent
// vector adds, more chains than the latencies need. Rounding keeps the
// compiler from folding the chains, so every operation is executed.
template <int W>
FIR_INLINE double peak_rounds(std::int64_t iterations) {
  constexpr int chains = 12;
  Vec<W> product[chains], sum[chains];
  for (int c = 0; c < chains; ++c) {
    product[c] = Vec<W>{} + (1.0 + c * 1e-3);
    sum[c] = Vec<W>{} + static_cast<double>(c);
  }
  const Vec<W> factor = Vec<W>{} + 0.9999999999;
  const Vec<W> step = Vec<W>{} + 1e-300;
  for (std::int64_t i = 0; i < iterations; ++i) {
    for (int c = 0; c < chains; ++c) {
      product[c] = product[c] * factor;
      sum[c] = sum[c] + step;
    }
  }
  double total = 0.0;
  for (int c = 0; c < chains; ++c) {
    for (int l = 0; l < W; ++l) total += product[c][l] + sum[c][l];
  }
  return total;
}

bool always() { return true; }

// The direct stage's register budget per instruction set, and the longest
// filter its tap windows take: where they were measured faster than the
// segments, none where that was not measured.
#if defined(__i386__) || defined(_M_IX86)
// 32-bit x86 has 8 vector registers. Measured on AMD Zen 5 (the 32-bit
// program under Wine, against the 64-bit one): the segments' sums and
// windows fit only 2 to 3 of each, too few to hide the adds' latency, and
// ran 2 to 3.5 times slower than the tap windows, which keep a tap window
// and 5 or 6 sums (a sample comes from memory with each product); those
// take filters up to 1024 taps, the shifted copies (6 sums and the tap)
// longer ones. SSE2 keeps the segments: it has no load inside a multiply,
// and its tap windows ran 1.2 to 1.6 times slower.
constexpr DirectShape avx512{
    .lanes = 8, .copies_group = 6, .segments_group = 0, .windows_group = 6, .windows_max_taps = 1024};
constexpr DirectShape avx2{
    .lanes = 4, .copies_group = 6, .segments_group = 0, .windows_group = 5, .windows_max_taps = 1024};
constexpr DirectShape baseline{
    .lanes = 2, .copies_group = 4, .segments_group = 3, .windows_group = 4, .windows_max_taps = 0};
#else
// AVX-512, 32 registers: 8 sums per group in either layout, with room for
// their windows and the taps.
constexpr DirectShape avx512{
    .lanes = 8, .copies_group = 8, .segments_group = 8, .windows_group = 8, .windows_max_taps = 0};
// AVX2, 16 registers: the copies need one for the tap and a few for the
// loads in flight; the segments hold a window beside each sum; the tap
// windows a tap window and a sample beside 8 sums. Tap windows measured on
// AMD Zen 3.
constexpr DirectShape avx2{
    .lanes = 4, .copies_group = 12, .segments_group = 5, .windows_group = 8, .windows_max_taps = 16};
// The baseline: 16 registers as for AVX2.
constexpr DirectShape baseline{
    .lanes = 2, .copies_group = 12, .segments_group = 5, .windows_group = 8, .windows_max_taps = 16};
#endif

// ---- AVX-512 and AVX2 on x86 ----------------------------------------------------------

#if defined(FIR_KERNELS_X86)

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

bool has_avx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}
bool prefers_avx512() { return has_avx512() && !splits_512_bit_operations(); }
bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

#define FIR_AVX512 [[gnu::target("avx512f")]]
FIR_AVX512 void accumulate_avx512(const DirectOperands& op, double* scratch) { accumulate<avx512>(op, scratch); }
FIR_AVX512 void load_block_avx512(double* b, const double* x, std::size_t n, std::size_t l) { load_block<8>(b, x, n, l); }
FIR_AVX512 void multiply_avx512(double* x, const double* re, const double* im, std::size_t bins, double s) {
  multiply_spectra<8>(x, re, im, bins, s);
}
FIR_AVX512 void overlap_add_avx512(const double* b, double* y, std::size_t a, std::size_t s) {
  overlap_add<8>(b, y, a, s);
}
FIR_AVX512 double peak_avx512(std::int64_t iterations) { return peak_rounds<8>(iterations); }

#define FIR_AVX2 [[gnu::target("avx2")]]
FIR_AVX2 void accumulate_avx2(const DirectOperands& op, double* scratch) { accumulate<avx2>(op, scratch); }
FIR_AVX2 void load_block_avx2(double* b, const double* x, std::size_t n, std::size_t l) { load_block<4>(b, x, n, l); }
FIR_AVX2 void multiply_avx2(double* x, const double* re, const double* im, std::size_t bins, double s) {
  multiply_spectra<4>(x, re, im, bins, s);
}
FIR_AVX2 void overlap_add_avx2(const double* b, double* y, std::size_t a, std::size_t s) {
  overlap_add<4>(b, y, a, s);
}
FIR_AVX2 double peak_avx2(std::int64_t iterations) { return peak_rounds<4>(iterations); }

#endif

// ---- The baseline: SSE2 on x86, the compiler's generic vectors elsewhere, plain
// arrays when portable ------------------------------------------------------------------

void accumulate_baseline(const DirectOperands& op, double* scratch) { accumulate<baseline>(op, scratch); }
void load_block_baseline(double* b, const double* x, std::size_t n, std::size_t l) { load_block<2>(b, x, n, l); }
void multiply_baseline(double* x, const double* re, const double* im, std::size_t bins, double s) {
  multiply_spectra<2>(x, re, im, bins, s);
}
void overlap_add_baseline(const double* b, double* y, std::size_t a, std::size_t s) {
  overlap_add<2>(b, y, a, s);
}
double peak_baseline(std::int64_t iterations) { return peak_rounds<2>(iterations); }

#if defined(FIR_PORTABLE_KERNELS)
// Plain C++ at the wider rows' shapes: the portable build runs their logic
// on any machine, whatever vector units it has. Never chosen to run the
// program.
bool never() { return false; }

void accumulate_portable8(const DirectOperands& op, double* scratch) { accumulate<avx512>(op, scratch); }
void load_block_portable8(double* b, const double* x, std::size_t n, std::size_t l) { load_block<8>(b, x, n, l); }
void multiply_portable8(double* x, const double* re, const double* im, std::size_t bins, double s) {
  multiply_spectra<8>(x, re, im, bins, s);
}
void overlap_add_portable8(const double* b, double* y, std::size_t a, std::size_t s) {
  overlap_add<8>(b, y, a, s);
}
double peak_portable8(std::int64_t iterations) { return peak_rounds<8>(iterations); }

void accumulate_portable4(const DirectOperands& op, double* scratch) { accumulate<avx2>(op, scratch); }
void load_block_portable4(double* b, const double* x, std::size_t n, std::size_t l) { load_block<4>(b, x, n, l); }
void multiply_portable4(double* x, const double* re, const double* im, std::size_t bins, double s) {
  multiply_spectra<4>(x, re, im, bins, s);
}
void overlap_add_portable4(const double* b, double* y, std::size_t a, std::size_t s) {
  overlap_add<4>(b, y, a, s);
}
double peak_portable4(std::int64_t iterations) { return peak_rounds<4>(iterations); }
#endif

constexpr Kernels table[] = {
#if defined(FIR_KERNELS_X86)
    {"avx512", has_avx512, prefers_avx512, avx512.lanes, accumulate_avx512, direct_scratch_doubles<avx512>,
     load_block_avx512, multiply_avx512, overlap_add_avx512, peak_avx512},
    {"avx2", has_avx2, has_avx2, avx2.lanes, accumulate_avx2, direct_scratch_doubles<avx2>, load_block_avx2,
     multiply_avx2, overlap_add_avx2, peak_avx2},
#endif
#if defined(FIR_PORTABLE_KERNELS)
    {"portable8", always, never, avx512.lanes, accumulate_portable8, direct_scratch_doubles<avx512>,
     load_block_portable8, multiply_portable8, overlap_add_portable8, peak_portable8},
    {"portable4", always, never, avx2.lanes, accumulate_portable4, direct_scratch_doubles<avx2>,
     load_block_portable4, multiply_portable4, overlap_add_portable4, peak_portable4},
#endif
    {"baseline", always, always, baseline.lanes, accumulate_baseline, direct_scratch_doubles<baseline>,
     load_block_baseline, multiply_baseline, overlap_add_baseline, peak_baseline},
};

const Kernels*& active() {
  static const Kernels* chosen = [] {
    for (const Kernels& row : table) {
      if (row.preferred()) return &row;
    }
    return &table[std::size(table) - 1];
  }();
  return chosen;
}

}  // namespace

std::span<const Kernels> kernel_table() { return table; }

const Kernels& active_kernels() { return *active(); }

bool use_kernels(std::string_view name) {
  for (const Kernels& row : table) {
    if (row.name == name && row.supported()) {
      active() = &row;
      return true;
    }
  }
  return false;
}

}  // namespace dsp_internal
