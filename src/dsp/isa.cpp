#include <iterator>
#include <string_view>

#include "dsp/dsp.h"
#include "dsp/dsp_internal.h"

#if defined(FIR_DISPATCH_X86)
#include <cpuid.h>
#endif

namespace dsp_internal {
namespace {

bool always() { return true; }
#if defined(FIR_DISPATCH_X86)
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
#endif

struct IsaInfo {
  Isa isa;
  const char* name;
  bool (*supported)();
  bool (*preferred)();  // the default choice where supported
};

constexpr IsaInfo known[] = {
#if defined(FIR_DISPATCH_X86)
    {Isa::avx512, "avx512", has_avx512, prefers_avx512},
    {Isa::avx2, "avx2", has_avx2, has_avx2},
#endif
    {Isa::baseline, "baseline", always, always},
};

const IsaInfo*& active() {
  static const IsaInfo* chosen = [] {
    for (const IsaInfo& info : known) {
      if (info.preferred()) return &info;
    }
    return &known[std::size(known) - 1];
  }();
  return chosen;
}

}  // namespace

Isa active_isa() { return active()->isa; }

}  // namespace dsp_internal

const char* dsp_isa() { return dsp_internal::active()->name; }

bool dsp_use_isa(std::string_view isa) {
  for (const auto& info : dsp_internal::known) {
    if (info.name == isa && info.supported()) {
      dsp_internal::active() = &info;
      return true;
    }
  }
  return false;
}
