// Writes the shipped example data into the current directory:
//   input.txt  100000 samples at 8 kHz: sines at 50, 440, 1250 and 3000 Hz
//              plus uniform noise of amplitude 0.1 from a fixed seed;
//   fir.txt    a 64-tap Hamming-windowed sinc lowpass, cutoff 1000 Hz,
//              normalised to a DC gain of 1.
// The output is the same on every run and every machine:
//   cd examples && ../build/release/make_examples
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>

#include "signal/signal.h"
#include "signal_io/signal_io.h"

namespace {

constexpr double sample_rate = 8000.0;

// Uniform in [-1, 1) from the generator's raw bits, the same with every
// standard library (the distributions' algorithms are not specified).
double uniform_noise(std::mt19937_64& generator) {
  const std::uint64_t bits = generator() >> 11;  // 53 random bits
  return static_cast<double>(bits) * 0x1p-52 - 1.0;
}

Signal make_input() {
  constexpr struct { double frequency, amplitude; } tones[] = {
      {50.0, 1.0}, {440.0, 0.5}, {1250.0, 0.25}, {3000.0, 0.25}};
  std::mt19937_64 generator(20261207);
  Signal x(100000);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / sample_rate;
    double sample = 0.1 * uniform_noise(generator);
    for (const auto& tone : tones) sample += tone.amplitude * std::sin(2.0 * std::numbers::pi * tone.frequency * t);
    x[i] = sample;
  }
  return x;
}

Signal make_lowpass(std::size_t taps, double cutoff) {
  const double fc = cutoff / sample_rate;  // cycles per sample
  const double centre = static_cast<double>(taps - 1) / 2.0;
  Signal h(taps);
  double sum = 0.0;
  for (std::size_t k = 0; k < taps; ++k) {
    const double m = static_cast<double>(k) - centre;
    const double sinc = m == 0.0 ? 2.0 * fc : std::sin(2.0 * std::numbers::pi * fc * m) / (std::numbers::pi * m);
    const double window = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(taps - 1));
    h[k] = sinc * window;
    sum += h[k];
  }
  for (double& tap : h) tap /= sum;
  return h;
}

}  // namespace

int main() {
  if (save_signal("input.txt", make_input()) != 0) return 1;
  if (save_signal("fir.txt", make_lowpass(64, 1000.0)) != 0) return 1;
  std::puts("wrote input.txt (100000 samples) and fir.txt (64 taps)");
  return 0;
}
