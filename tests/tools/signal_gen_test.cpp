// The test-signal generator: its command line, and the defining property of
// every signal and filter kind it offers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <string>
#include <vector>

#include "signal_gen/signal_gen.h"
#include "support/plain_convolution.h"

namespace {

using namespace test_support;

double decibels(double magnitude) { return 20.0 * std::log10(magnitude); }

// ---- Command line ------------------------------------------------------------------

GenOptions parsed(const std::vector<std::string>& arguments) {
  GenOptions options;
  std::string error;
  EXPECT_TRUE(parse_gen_arguments(arguments, options, error)) << error;
  return options;
}

TEST(GenArguments, ValuesReachTheirFields) {
  const GenOptions o = parsed({"--signal", "chirp", "--length=500", "--rate", "48000", "--chirp", "100,2000",
                               "--filter", "bandpass", "--band=300,3400", "--taps", "101", "--window", "kaiser",
                               "--beta", "5"});
  EXPECT_EQ(o.signal.kind, SignalKind::chirp);
  EXPECT_EQ(o.signal.length, 500u);
  EXPECT_EQ(o.signal.sample_rate, 48000.0);
  EXPECT_EQ(o.signal.chirp_start, 100.0);
  EXPECT_EQ(o.signal.chirp_end, 2000.0);
  EXPECT_EQ(o.filter.kind, FilterKind::bandpass);
  EXPECT_EQ(o.filter.band_low, 300.0);
  EXPECT_EQ(o.filter.band_high, 3400.0);
  EXPECT_EQ(o.filter.taps, 101u);
  EXPECT_EQ(o.filter.window, Window::kaiser);
  EXPECT_EQ(o.filter.kaiser_beta, 5.0);
}

TEST(GenArguments, TonesTakeOptionalAmplitudes) {
  const GenOptions o = parsed({"--tones", "100:0.5,200", "--noise", "0", "--only-signal"});
  ASSERT_EQ(o.signal.tones.size(), 2u);
  EXPECT_EQ(o.signal.tones[0].frequency, 100.0);
  EXPECT_EQ(o.signal.tones[0].amplitude, 0.5);
  EXPECT_EQ(o.signal.tones[1].amplitude, 1.0);
  EXPECT_TRUE(o.signal_chosen);
  EXPECT_FALSE(o.filter_chosen);
}

TEST(GenArguments, HelpStopsChecking) {
  const GenOptions o = parsed({"--taps", "0", "--help"});
  EXPECT_TRUE(o.help);
  EXPECT_NE(gen_help_text().find("--signal KIND"), std::string::npos);
}

struct ErrorCase {
  std::vector<std::string> arguments;
  std::string error;
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.error; }

class GenArgumentErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(GenArgumentErrors, NameTheOptionAndTheProblem) {
  GenOptions options;
  std::string error;
  EXPECT_FALSE(parse_gen_arguments(GetParam().arguments, options, error));
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GenArgumentErrors,
    testing::Values(
        ErrorCase{{"--frobnicate"}, "unknown option '--frobnicate' (see --help)"},
        ErrorCase{{"--length"}, "--length: needs a value: a sample count"},
        ErrorCase{{"--length", "-5"}, "--length: expected a sample count, got '-5'"},
        ErrorCase{{"--length", "1e3"}, "--length: expected a sample count, got '1e3'"},
        ErrorCase{{"--length", "99999999999"}, "--length: expected a sample count, got '99999999999'"},
        ErrorCase{{"--rate", "fast"}, "--rate: expected a sample rate in Hz, got 'fast'"},
        ErrorCase{{"--rate", "0"}, "--rate: must lie between 0.001 and 1e12 Hz"},
        ErrorCase{{"--rate", "1e-300"}, "--rate: must lie between 0.001 and 1e12 Hz"},
        ErrorCase{{"--rate", "1,5"}, "--rate: expected a sample rate in Hz, got '1,5'"},
        ErrorCase{{"--signal", "square"}, "--signal: expected sines, noise, chirp, impulse or step, got 'square'"},
        ErrorCase{{"--tones", "100:x"},
                  "--tones: expected frequencies in Hz, each with an optional :amplitude, separated by commas, got '100:x'"},
        ErrorCase{{"--tones", "5000"}, "--tones: frequencies must lie between 0 and half the sample rate (4000.000000 Hz)"},
        ErrorCase{{"--noise", "-1"}, "--noise: must not be negative"},
        ErrorCase{{"--length", "10", "--tones", "1000:1e308,1000:1e308", "--noise", "0", "--only-signal"},
                  "--tones: the amplitudes and the noise add up beyond the largest double"},
        ErrorCase{{"--signal", "impulse", "--length", "10", "--delay", "10"}, "--delay: must be less than --length"},
        ErrorCase{{"--taps", "0"}, "--taps: at least one tap is needed"},
        ErrorCase{{"--cutoff", "4000"},
                  "--cutoff: must lie strictly between 0 and half the sample rate (4000.000000 Hz)"},
        ErrorCase{{"--filter", "highpass", "--taps", "64"},
                  "--taps: a highpass needs an odd tap count (an even one has a zero at half the sample rate)"},
        ErrorCase{{"--filter", "bandpass"}, "--band: a bandpass needs 0 < LOW < HIGH < half the sample rate (4000.000000 Hz)"},
        ErrorCase{{"--filter", "bandpass", "--band", "900,300"},
                  "--band: a bandpass needs 0 < LOW < HIGH < half the sample rate (4000.000000 Hz)"},
        ErrorCase{{"--window", "hann"}, "--window: expected hamming, blackman or kaiser, got 'hann'"},
        ErrorCase{{"--only-filter", "--filter", "bandpass", "--band", "800,1600", "--taps", "2"},
                  "--taps: a bandpass needs at least 3 taps (with fewer its two lowpasses cancel, leaving no gain)"},
        ErrorCase{{"--window", "kaiser", "--beta", "-2"},
                  "--beta: must lie between 0 and 700 (beyond, the window's Bessel function overflows)"},
        ErrorCase{{"--window", "kaiser", "--beta", "800"},
                  "--beta: must lie between 0 and 700 (beyond, the window's Bessel function overflows)"}));

// ---- Signals -------------------------------------------------------------------------

TEST(GenSignals, ImpulseIsASingleOneAtItsDelay) {
  SignalSettings settings;
  settings.kind = SignalKind::impulse;
  settings.length = 50;
  settings.delay = 7;
  const Signal x = make_signal(settings);
  ASSERT_EQ(x.size(), 50u);
  for (std::size_t i = 0; i < x.size(); ++i) EXPECT_EQ(x[i], i == 7 ? 1.0 : 0.0) << i;
}

TEST(GenSignals, StepIsZeroThenItsAmplitude) {
  SignalSettings settings;
  settings.kind = SignalKind::step;
  settings.length = 20;
  settings.delay = 5;
  settings.amplitude = 2.5;
  const Signal x = make_signal(settings);
  for (std::size_t i = 0; i < x.size(); ++i) EXPECT_EQ(x[i], i < 5 ? 0.0 : 2.5) << i;
}

TEST(GenSignals, NoiseIsSeededAndBounded) {
  SignalSettings settings;
  settings.kind = SignalKind::noise;
  settings.length = 10000;
  settings.amplitude = 0.5;
  const Signal a = make_signal(settings);
  EXPECT_EQ(make_signal(settings), a);
  settings.seed += 1;
  EXPECT_NE(make_signal(settings), a);
  EXPECT_TRUE(std::all_of(a.begin(), a.end(), [](double v) { return v >= -0.5 && v < 0.5; }));
  const double mean = std::accumulate(a.begin(), a.end(), 0.0) / 10000.0;
  EXPECT_NEAR(mean, 0.0, 0.02);
}

TEST(GenSignals, SinesAreTheSumOfTheirTones) {
  SignalSettings settings;
  settings.length = 64;
  settings.tones = {{1000.0, 2.0}};
  settings.noise = 0.0;
  const Signal x = make_signal(settings);
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_NEAR(x[i], 2.0 * std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / 8000.0), 1e-12);
  }
}

// A linear sweep completes (F0 + F1) / 2 cycles per second on average: its
// zero crossings count them.
TEST(GenSignals, ChirpSweepsItsBand) {
  SignalSettings settings;
  settings.kind = SignalKind::chirp;
  settings.length = 80001;  // 10 s at 8 kHz
  settings.chirp_start = 10.0;
  settings.chirp_end = 110.0;
  const Signal x = make_signal(settings);
  int crossings = 0;
  for (std::size_t i = 1; i < x.size(); ++i) crossings += (x[i - 1] < 0.0) != (x[i] < 0.0);
  EXPECT_NEAR(crossings, 2 * 60 * 10, 2);
  EXPECT_EQ(x[0], 0.0);
  EXPECT_TRUE(std::all_of(x.begin(), x.end(), [](double v) { return std::fabs(v) <= 1.0; }));
}

// ---- Filters ------------------------------------------------------------------------

FilterSettings filter(FilterKind kind, std::size_t taps, Window window = Window::hamming) {
  FilterSettings settings;
  settings.kind = kind;
  settings.taps = taps;
  settings.window = window;
  settings.band_low = 1000.0;
  settings.band_high = 2000.0;
  return settings;
}

bool symmetric(const Signal& h) {
  for (std::size_t k = 0; k < h.size(); ++k) {
    if (std::fabs(h[k] - h[h.size() - 1 - k]) > 1e-15) return false;
  }
  return true;
}

// The stopband of each window at 64 taps: where its main lobe has passed,
// the response stays below the window's known side-lobe level.
struct LowpassCase {
  Window window;
  double stopband_from;    // Hz, cutoff 1000 Hz at 8 kHz
  double attenuation_db;   // at least this far down from there on
};
void PrintTo(const LowpassCase& c, std::ostream* os) { *os << static_cast<int>(c.window); }

class GenLowpass : public testing::TestWithParam<LowpassCase> {};

TEST_P(GenLowpass, UnitDcGainAndStopband) {
  const Signal h = make_filter(filter(FilterKind::lowpass, 64, GetParam().window), 8000.0);
  ASSERT_EQ(h.size(), 64u);
  EXPECT_NEAR(std::accumulate(h.begin(), h.end(), 0.0), 1.0, 1e-14);
  EXPECT_TRUE(symmetric(h));
  EXPECT_NEAR(magnitude_response(h, 1000.0, 8000.0), 0.5, 0.02);  // -6 dB at the cutoff
  double worst = -1000.0;
  for (double f = GetParam().stopband_from; f <= 4000.0; f += 5.0) {
    worst = std::max(worst, decibels(magnitude_response(h, f, 8000.0)));
  }
  EXPECT_LT(worst, -GetParam().attenuation_db);
}

INSTANTIATE_TEST_SUITE_P(Windows, GenLowpass,
                         testing::Values(LowpassCase{Window::hamming, 1500.0, 50.0},
                                         LowpassCase{Window::blackman, 1800.0, 70.0},
                                         LowpassCase{Window::kaiser, 1800.0, 80.0}));

TEST(GenFilters, HighpassBlocksDcAndPassesNyquist) {
  const Signal h = make_filter(filter(FilterKind::highpass, 65), 8000.0);
  EXPECT_NEAR(std::accumulate(h.begin(), h.end(), 0.0), 0.0, 1e-14);
  EXPECT_NEAR(magnitude_response(h, 4000.0, 8000.0), 1.0, 1e-3);
  double worst = -1000.0;  // the mirror of the lowpass stopband, as for the Hamming lowpass above
  for (double f = 0.0; f <= 500.0; f += 5.0) worst = std::max(worst, decibels(magnitude_response(h, f, 8000.0)));
  EXPECT_LT(worst, -45.0);
  EXPECT_TRUE(symmetric(h));
}

TEST(GenFilters, BandpassHasUnitGainAtItsCentre) {
  const Signal h = make_filter(filter(FilterKind::bandpass, 101), 8000.0);
  EXPECT_NEAR(magnitude_response(h, 1500.0, 8000.0), 1.0, 1e-12);
  EXPECT_LT(decibels(magnitude_response(h, 0.0, 8000.0)), -50.0);
  EXPECT_LT(decibels(magnitude_response(h, 3500.0, 8000.0)), -50.0);
  EXPECT_TRUE(symmetric(h));
}

TEST(GenFilters, MovingAverageTapsAreEqualAndSumToOne) {
  const Signal h = make_filter(filter(FilterKind::average, 10), 8000.0);
  ASSERT_EQ(h.size(), 10u);
  EXPECT_TRUE(std::all_of(h.begin(), h.end(), [](double v) { return v == 0.1; }));
  EXPECT_NEAR(std::accumulate(h.begin(), h.end(), 0.0), 1.0, 1e-15);
}

TEST(GenFilters, OneTapLowpassIsUnity) {
  EXPECT_EQ(make_filter(filter(FilterKind::lowpass, 1), 8000.0), Signal{1.0});
}

}  // namespace
