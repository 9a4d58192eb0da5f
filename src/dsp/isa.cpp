#include <iterator>
#include <string_view>

#include "dsp/dsp.h"
#include "dsp/dsp_internal.h"

namespace dsp_internal {
namespace {

struct IsaInfo {
  Isa isa;
  const char* name;
  bool (*supported)();
};

bool always() { return true; }
#if defined(FIR_DISPATCH_X86)
bool has_avx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}
bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
#endif

constexpr IsaInfo known[] = {
#if defined(FIR_DISPATCH_X86)
    {Isa::avx512, "avx512", has_avx512},
    {Isa::avx2, "avx2", has_avx2},
#endif
    {Isa::baseline, "baseline", always},
};

const IsaInfo*& active() {
  static const IsaInfo* chosen = [] {
    for (const IsaInfo& info : known) {
      if (info.supported()) return &info;
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
