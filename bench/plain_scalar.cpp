// The plain direct-convolution loop, compiled without vectorisation
// (see bench/CMakeLists.txt): the scalar loop that the stage is compared with.
// Only this file instantiates the shared loop in the benchmark, so its
// flags decide how it is compiled.
#include "plain_scalar.h"

#include "support/plain_convolution.h"

void plain_scalar_convolution(const Signal& x, const Signal& h, Signal& y) {
  y = test_support::plain_convolution(x, h);
}
