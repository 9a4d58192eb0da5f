// FFTW buffers and plans of one transform length 2n, made as the overlap-add
// stage makes its own (fftw_malloc, FFTW_ESTIMATE, r2c time -> spectrum and
// c2r spectrum -> time), for reference block loops in tests and benchmarks.
#pragma once

#include <fftw3.h>

#include <cstddef>

namespace test_support {

struct BlockTransforms {
  explicit BlockTransforms(std::size_t block_length)
      : n(block_length),
        time(static_cast<double*>(fftw_malloc(16 * n))),
        spectrum(static_cast<fftw_complex*>(fftw_malloc(32 * n + 16))),
        forward(fftw_plan_dft_r2c_1d(static_cast<int>(2 * n), time, spectrum, FFTW_ESTIMATE)),
        inverse(fftw_plan_dft_c2r_1d(static_cast<int>(2 * n), spectrum, time, FFTW_ESTIMATE)) {}
  ~BlockTransforms() {
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(time);
    fftw_free(spectrum);
  }
  BlockTransforms(const BlockTransforms&) = delete;
  BlockTransforms& operator=(const BlockTransforms&) = delete;

  // time[0 .. count-1] := values, time[count .. 2n-1] := 0.0.
  void load(const double* values, std::size_t count) {
    for (std::size_t k = 0; k < 2 * n; ++k) time[k] = k < count ? values[k] : 0.0;
  }

  std::size_t n;
  double* time;            // 2n values
  fftw_complex* spectrum;  // 2n + 1 bins, 0..n used
  fftw_plan forward;
  fftw_plan inverse;
};

// X[k] := (X[k] * H[k]) * (0.5 / n) for bins k = 0..n, one bin at a time in
// the stage's operation order: the scale applied to the finished product.
inline void multiply_bins(fftw_complex* x, const fftw_complex* h, std::size_t n) {
  const double scale = 0.5 / static_cast<double>(n);
  for (std::size_t k = 0; k <= n; ++k) {
    const double xr = x[k][0], xi = x[k][1];
    x[k][0] = (xr * h[k][0] - xi * h[k][1]) * scale;
    x[k][1] = (xr * h[k][1] + xi * h[k][0]) * scale;
  }
}

}  // namespace test_support
