#include "signal_gen/signal_gen.h"

#include <charconv>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string_view>

namespace {

constexpr double two_pi = 2.0 * std::numbers::pi;

// Uniform in [-1, 1) from the generator's raw bits, the same with every
// standard library (the distributions' algorithms are not specified).
double uniform_noise(std::mt19937_64& generator) {
  const std::uint64_t bits = generator() >> 11;  // 53 random bits
  return static_cast<double>(bits) * 0x1p-52 - 1.0;
}

double sample_time(std::size_t i, double sample_rate) { return static_cast<double>(i) / sample_rate; }

Signal make_sines(const SignalSettings& settings) {
  std::mt19937_64 generator(settings.seed);
  Signal x(settings.length);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = sample_time(i, settings.sample_rate);
    double sample = settings.noise * uniform_noise(generator);
    for (const Tone& tone : settings.tones) sample += tone.amplitude * std::sin(two_pi * tone.frequency * t);
    x[i] = sample;
  }
  return x;
}

Signal make_noise(const SignalSettings& settings) {
  std::mt19937_64 generator(settings.seed);
  Signal x(settings.length);
  for (double& sample : x) sample = settings.amplitude * uniform_noise(generator);
  return x;
}

// Linear sweep: the instantaneous frequency runs from chirp_start at the
// first sample to chirp_end at the last.
Signal make_chirp(const SignalSettings& settings) {
  const double end = settings.chirp_end.value_or(settings.sample_rate / 2.0);
  const double duration = settings.length > 1 ? sample_time(settings.length - 1, settings.sample_rate) : 1.0;
  const double sweep_rate = (end - settings.chirp_start) / duration;  // Hz per second
  Signal x(settings.length);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = sample_time(i, settings.sample_rate);
    x[i] = settings.amplitude * std::sin(two_pi * (settings.chirp_start * t + 0.5 * sweep_rate * t * t));
  }
  return x;
}

Signal make_impulse_or_step(const SignalSettings& settings) {
  Signal x(settings.length, 0.0);
  for (std::size_t i = settings.delay; i < x.size(); ++i) {
    x[i] = settings.amplitude;
    if (settings.kind == SignalKind::impulse) break;
  }
  return x;
}

double window_value(const FilterSettings& settings, std::size_t k) {
  if (settings.taps == 1) return 1.0;
  const double position = static_cast<double>(k) / static_cast<double>(settings.taps - 1);  // 0 .. 1
  switch (settings.window) {
    case Window::hamming:
      return 0.54 - 0.46 * std::cos(two_pi * position);
    case Window::blackman:
      return 0.42 - 0.5 * std::cos(two_pi * position) + 0.08 * std::cos(2.0 * two_pi * position);
    case Window::kaiser: {
      const double r = 2.0 * position - 1.0;
      return std::cyl_bessel_i(0.0, settings.kaiser_beta * std::sqrt(1.0 - r * r)) / std::cyl_bessel_i(0.0, settings.kaiser_beta);
    }
  }
  return 1.0;
}

// Windowed sinc with cutoff `cutoff` Hz, scaled to a DC gain of exactly 1.
Signal windowed_lowpass(const FilterSettings& settings, double cutoff, double sample_rate) {
  const double fc = cutoff / sample_rate;  // cycles per sample
  const double centre = static_cast<double>(settings.taps - 1) / 2.0;
  Signal h(settings.taps);
  double sum = 0.0;
  for (std::size_t k = 0; k < settings.taps; ++k) {
    const double m = static_cast<double>(k) - centre;
    const double sinc = m == 0.0 ? 2.0 * fc : std::sin(two_pi * fc * m) / (std::numbers::pi * m);
    h[k] = sinc * window_value(settings, k);
    sum += h[k];
  }
  for (double& tap : h) tap /= sum;
  return h;
}

}  // namespace

Signal make_signal(const SignalSettings& settings) {
  switch (settings.kind) {
    case SignalKind::sines:
      return make_sines(settings);
    case SignalKind::noise:
      return make_noise(settings);
    case SignalKind::chirp:
      return make_chirp(settings);
    case SignalKind::impulse:
    case SignalKind::step:
      return make_impulse_or_step(settings);
  }
  return {};
}

Signal make_filter(const FilterSettings& settings, double sample_rate) {
  switch (settings.kind) {
    case FilterKind::lowpass:
      return windowed_lowpass(settings, settings.cutoff, sample_rate);
    case FilterKind::highpass: {
      Signal h = windowed_lowpass(settings, settings.cutoff, sample_rate);
      for (double& tap : h) tap = -tap;
      h[settings.taps / 2] += 1.0;  // odd tap count: the centre tap
      return h;
    }
    case FilterKind::bandpass: {
      Signal h = windowed_lowpass(settings, settings.band_high, sample_rate);
      const Signal lower = windowed_lowpass(settings, settings.band_low, sample_rate);
      for (std::size_t k = 0; k < h.size(); ++k) h[k] -= lower[k];
      const double centre_gain = magnitude_response(h, (settings.band_low + settings.band_high) / 2.0, sample_rate);
      for (double& tap : h) tap /= centre_gain;
      return h;
    }
    case FilterKind::average:
      return Signal(settings.taps, 1.0 / static_cast<double>(settings.taps));
  }
  return {};
}

double magnitude_response(const Signal& h, double frequency, double sample_rate) {
  std::complex<double> sum = 0.0;
  for (std::size_t k = 0; k < h.size(); ++k) {
    sum += h[k] * std::polar(1.0, -two_pi * frequency * static_cast<double>(k) / sample_rate);
  }
  return std::abs(sum);
}

Signal standard_lowpass(std::size_t taps) {
  FilterSettings settings;
  settings.taps = taps;
  return make_filter(settings, SignalSettings{}.sample_rate);
}

Signal standard_noise(std::size_t count, std::uint64_t seed) {
  SignalSettings settings;
  settings.kind = SignalKind::noise;
  settings.length = count;
  settings.seed = seed;
  return make_signal(settings);
}
