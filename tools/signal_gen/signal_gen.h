// Test signals and FIR filters for the bench, and the command line of the
// generator that writes them as "input.txt" and "fir.txt".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "signal/signal.h"

// ---- Signals ------------------------------------------------------------------

enum class SignalKind { sines, noise, chirp, impulse, step };

struct Tone {
  double frequency;  // Hz
  double amplitude;
};

struct SignalSettings {
  SignalKind kind = SignalKind::sines;
  std::size_t length = 100000;
  double sample_rate = 8000.0;  // Hz
  // sines: the tones, plus uniform noise of amplitude `noise` from `seed`.
  std::vector<Tone> tones = {{50.0, 1.0}, {440.0, 0.5}, {1250.0, 0.25}, {3000.0, 0.25}};
  double noise = 0.1;
  std::uint64_t seed = 20261207;  // noise and sines
  double amplitude = 1.0;         // noise, chirp, impulse, step
  double chirp_start = 0.0;       // Hz, at the first sample
  std::optional<double> chirp_end;  // Hz, at the last; half the sample rate when unset
  std::size_t delay = 0;          // impulse, step: index of the first non-zero sample
};

// x[k] for the settings, the same on every run: noise comes from the raw bits of
// a seeded mt19937_64 (uniform in [-A, A)), not from a library distribution.
Signal make_signal(const SignalSettings& settings);

// ---- Filters -------------------------------------------------------------------

enum class FilterKind { lowpass, highpass, bandpass, average };
enum class Window { hamming, blackman, kaiser };

struct FilterSettings {
  FilterKind kind = FilterKind::lowpass;
  std::size_t taps = 64;
  double cutoff = 1000.0;  // Hz: lowpass, highpass
  double band_low = 0.0;   // Hz: bandpass edges
  double band_high = 0.0;
  Window window = Window::hamming;
  double kaiser_beta = 8.6;
};

// Windowed-sinc taps, symmetric (linear phase). Lowpass: gain 1 at DC.
// Highpass (odd tap count): the lowpass subtracted from a unit impulse, gain
// 0 at DC. Bandpass: the difference of two lowpasses, scaled to gain 1 at
// the band's centre. Moving average: M taps of 1/M.
Signal make_filter(const FilterSettings& settings, double sample_rate);

// The generator's default lowpass with `taps` taps (Hamming, 1000 Hz at
// 8000 Hz, gain 1 at DC) and its noise of `count` samples in [-1, 1) from
// `seed`: what fir_sweep and the benchmarks filter, the same on every run.
Signal standard_lowpass(std::size_t taps);
Signal standard_noise(std::size_t count, std::uint64_t seed);

// |H(f)| of taps h at f Hz: the magnitude of sum h[k] exp(-2 pi i f k / rate).
double magnitude_response(const Signal& h, double frequency, double sample_rate);

// ---- The command line ----------------------------------------------------------------

struct GenOptions {
  SignalSettings signal;
  FilterSettings filter;
  // The files chosen: what the options ask for (a signal option the
  // signal, a filter option the filter; both kinds, or neither, both), or
  // what --only-signal or --only-filter says.
  bool signal_chosen = true;
  bool filter_chosen = true;
  bool signal_option_given = false;  // set while parsing
  bool filter_option_given = false;
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name into `options` (which starts
// from the defaults: the shipped examples). Returns false with a one-line
// `error` naming the option for an unknown option, a missing or malformed
// value, or values that do not fit together.
bool parse_gen_arguments(const std::vector<std::string>& arguments, GenOptions& options, std::string& error);

std::string gen_help_text();
