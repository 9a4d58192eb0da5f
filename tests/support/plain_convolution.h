// The direct convolution as the plain loop: for i, for j,
// y[i+j] = h[j]*x[i] + y[i+j], from zeros. The oracle of exactness for tests,
// and the scalar loop of the benchmarks.
#pragma once

#include "signal/signal.h"

namespace test_support {

// [size: N + M - 1 values; none when N = M = 0]
inline Signal plain_convolution(const Signal& x, const Signal& h) {
  Signal y(x.size() + h.size() == 0 ? 0 : x.size() + h.size() - 1, 0.0);
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t j = 0; j < h.size(); ++j) y[i + j] = h[j] * x[i] + y[i + j];
  }
  return y;
}

}  // namespace test_support
