// The documented direct-convolution loop, compiled without vectorisation
// (see bench/CMakeLists.txt): the baseline that the stage is compared with.
#include "plain_scalar.h"

void plain_scalar_convolution(const Signal& x, const Signal& h, Signal& y) {
  y.assign(x.size() + h.size() - 1, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t j = 0; j < h.size(); ++j) y[i + j] = h[j] * x[i] + y[i + j];
  }
}
