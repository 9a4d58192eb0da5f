#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <string_view>

#include "options/options.h"
#include "signal_gen/signal_gen.h"

namespace {

using tool_options::parse_count;

// ---- Values -----------------------------------------------------------------------

bool parse_number(std::string_view text, double& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size() && std::isfinite(value);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool parse_pair(std::string_view text, char separator, double& first, double& second) {
  const auto parts = split(text, separator);
  return parts.size() == 2 && parse_number(parts[0], first) && parse_number(parts[1], second);
}

bool parse_tones(std::string_view text, std::vector<Tone>& tones) {
  tones.clear();
  for (std::string_view part : split(text, ',')) {
    Tone tone{0.0, 1.0};
    if (part.find(':') == std::string_view::npos ? !parse_number(part, tone.frequency)
                                                  : !parse_pair(part, ':', tone.frequency, tone.amplitude)) {
      return false;
    }
    tones.push_back(tone);
  }
  return true;
}

template <typename Kind>
bool parse_kind(std::string_view text, const std::map<std::string_view, Kind>& names, Kind& kind) {
  const auto it = names.find(text);
  if (it == names.end()) return false;
  kind = it->second;
  return true;
}

const std::map<std::string_view, SignalKind> signal_kinds = {{"sines", SignalKind::sines},
                                                             {"noise", SignalKind::noise},
                                                             {"chirp", SignalKind::chirp},
                                                             {"impulse", SignalKind::impulse},
                                                             {"step", SignalKind::step}};
const std::map<std::string_view, FilterKind> filter_kinds = {{"lowpass", FilterKind::lowpass},
                                                             {"highpass", FilterKind::highpass},
                                                             {"bandpass", FilterKind::bandpass},
                                                             {"average", FilterKind::average}};
const std::map<std::string_view, Window> windows = {
    {"hamming", Window::hamming}, {"blackman", Window::blackman}, {"kaiser", Window::kaiser}};

// ---- Options ------------------------------------------------------------------------

using ValueOption = tool_options::ValueOption<GenOptions>;
using Store = std::function<bool(std::string_view, GenOptions&)>;

// An option of the signal (input.txt) or of the filter (fir.txt): giving
// it asks for that file.
ValueOption signal_option(const char* expects, Store store) {
  return {expects, [store](std::string_view v, GenOptions& o) { return (o.signal_option_given = true) && store(v, o); }};
}
ValueOption filter_option(const char* expects, Store store) {
  return {expects, [store](std::string_view v, GenOptions& o) { return (o.filter_option_given = true) && store(v, o); }};
}

bool store_size(std::string_view text, std::size_t& target) {
  std::uint64_t value = 0;
  if (!parse_count(text, value) || value > signal_max_length) return false;
  target = static_cast<std::size_t>(value);
  return true;
}

const std::map<std::string_view, ValueOption>& value_options() {
  static const std::map<std::string_view, ValueOption> options = {
      {"--signal", signal_option("sines, noise, chirp, impulse or step",
                    [](std::string_view v, GenOptions& o) { return parse_kind(v, signal_kinds, o.signal.kind); })},
      {"--length", signal_option("a sample count", [](std::string_view v, GenOptions& o) { return store_size(v, o.signal.length); })},
      {"--rate", {"a sample rate in Hz",
                  [](std::string_view v, GenOptions& o) { return parse_number(v, o.signal.sample_rate); }}},
      {"--tones", signal_option("frequencies in Hz, each with an optional :amplitude, separated by commas",
                   [](std::string_view v, GenOptions& o) { return parse_tones(v, o.signal.tones); })},
      {"--noise", signal_option("a noise amplitude", [](std::string_view v, GenOptions& o) { return parse_number(v, o.signal.noise); })},
      {"--seed", signal_option("a whole number", [](std::string_view v, GenOptions& o) { return parse_count(v, o.signal.seed); })},
      {"--amplitude", signal_option("a number", [](std::string_view v, GenOptions& o) { return parse_number(v, o.signal.amplitude); })},
      {"--chirp", signal_option("two frequencies in Hz, F0,F1",
                   [](std::string_view v, GenOptions& o) {
                     double end = 0.0;
                     if (!parse_pair(v, ',', o.signal.chirp_start, end)) return false;
                     o.signal.chirp_end = end;
                     return true;
                   })},
      {"--delay", signal_option("a sample index", [](std::string_view v, GenOptions& o) { return store_size(v, o.signal.delay); })},
      {"--filter", filter_option("lowpass, highpass, bandpass or average",
                    [](std::string_view v, GenOptions& o) { return parse_kind(v, filter_kinds, o.filter.kind); })},
      {"--taps", filter_option("a tap count", [](std::string_view v, GenOptions& o) { return store_size(v, o.filter.taps); })},
      {"--cutoff", filter_option("a frequency in Hz", [](std::string_view v, GenOptions& o) { return parse_number(v, o.filter.cutoff); })},
      {"--band", filter_option("two frequencies in Hz, LOW,HIGH",
                  [](std::string_view v, GenOptions& o) {
                    return parse_pair(v, ',', o.filter.band_low, o.filter.band_high);
                  })},
      {"--window", filter_option("hamming, blackman or kaiser",
                    [](std::string_view v, GenOptions& o) { return parse_kind(v, windows, o.filter.window); })},
      {"--beta", filter_option("a Kaiser window beta", [](std::string_view v, GenOptions& o) { return parse_number(v, o.filter.kaiser_beta); })},
  };
  return options;
}

std::string hz(double value) { return std::to_string(value); }

// Sample rates in Hz: wide enough for any use, and narrow enough that every
// sample time i / rate and every phase stays a finite double.
constexpr double lowest_rate = 1e-3, highest_rate = 1e12;
// Beyond about 713 the Kaiser window's Bessel function I0(beta) exceeds the
// largest double.
constexpr double highest_beta = 700.0;

// Checks that the values fit together and give finite samples and taps;
// the first problem found, or "".
std::string check(const GenOptions& o) {
  const SignalSettings& s = o.signal;
  const FilterSettings& f = o.filter;
  const double nyquist = s.sample_rate / 2.0;
  if (!(s.sample_rate >= lowest_rate && s.sample_rate <= highest_rate)) {
    return "--rate: must lie between 0.001 and 1e12 Hz";
  }
  if (o.signal_chosen) {
    if (s.kind == SignalKind::sines) {
      if (s.tones.empty()) return "--tones: at least one tone is needed";
      double bound = s.noise;  // no sample exceeds the noise plus every amplitude
      for (const Tone& tone : s.tones) {
        if (tone.frequency < 0.0 || tone.frequency > nyquist) {
          return "--tones: frequencies must lie between 0 and half the sample rate (" + hz(nyquist) + " Hz)";
        }
        bound += std::fabs(tone.amplitude);
      }
      if (s.noise < 0.0) return "--noise: must not be negative";
      if (!std::isfinite(bound)) return "--tones: the amplitudes and the noise add up beyond the largest double";
    }
    if (s.kind == SignalKind::chirp) {
      const double end = s.chirp_end.value_or(nyquist);
      if (s.chirp_start < 0.0 || s.chirp_start > nyquist || end < 0.0 || end > nyquist) {
        return "--chirp: frequencies must lie between 0 and half the sample rate (" + hz(nyquist) + " Hz)";
      }
    }
    if ((s.kind == SignalKind::impulse || s.kind == SignalKind::step) && s.length > 0 && s.delay >= s.length) {
      return "--delay: must be less than --length";
    }
  }
  if (o.filter_chosen) {
    if (f.taps == 0) return "--taps: at least one tap is needed";
    const bool cutoff_used = f.kind == FilterKind::lowpass || f.kind == FilterKind::highpass;
    if (cutoff_used && !(f.cutoff > 0.0 && f.cutoff < nyquist)) {
      return "--cutoff: must lie strictly between 0 and half the sample rate (" + hz(nyquist) + " Hz)";
    }
    if (f.kind == FilterKind::highpass && f.taps % 2 == 0) {
      return "--taps: a highpass needs an odd tap count (an even one has a zero at half the sample rate)";
    }
    if (f.kind == FilterKind::bandpass && !(f.band_low > 0.0 && f.band_low < f.band_high && f.band_high < nyquist)) {
      return "--band: a bandpass needs 0 < LOW < HIGH < half the sample rate (" + hz(nyquist) + " Hz)";
    }
    if (f.kind == FilterKind::bandpass && f.taps < 3) {
      return "--taps: a bandpass needs at least 3 taps (with fewer its two lowpasses cancel, leaving no gain)";
    }
    if (f.window == Window::kaiser && !(f.kaiser_beta >= 0.0 && f.kaiser_beta <= highest_beta)) {
      return "--beta: must lie between 0 and 700 (beyond, the window's Bessel function overflows)";
    }
  }
  return "";
}

}  // namespace

bool parse_gen_arguments(const std::vector<std::string>& arguments, GenOptions& options, std::string& error) {
  std::string_view only;
  const auto flag = [&only](std::string_view name, GenOptions& o) {
    if (name == "--help" || name == "-h") {
      o.help = true;
    } else if (name == "--version") {
      o.version = true;
    } else if (name == "--only-signal" || name == "--only-filter") {
      only = name;
    } else {
      return false;
    }
    return true;
  };
  if (!tool_options::parse<GenOptions>(arguments, value_options(), flag, options, error)) return false;
  // --rate belongs to both files and asks for neither.
  const bool signal = options.signal_option_given, filter = options.filter_option_given;
  options.signal_chosen = only.empty() ? signal || !filter : only == "--only-signal";
  options.filter_chosen = only.empty() ? filter || !signal : only == "--only-filter";
  error = options.help || options.version ? "" : check(options);
  return error.empty();
}

std::string gen_help_text() {
  return R"(usage: fir_gen [options]

Writes a test signal to input.txt and FIR filter taps to fir.txt in the
current directory, in the format fir_bench reads. Signal options write
input.txt, filter options fir.txt; options of both kinds, or none (the
shipped example data), write both; --rate, which both use, asks for
neither. The files are written under new names and renamed once all are
whole, the old ones kept until the new ones are in place and reported: a
failure leaves the folder as it was, and a second fir_gen in the folder at
the same time is refused. A link named input.txt or fir.txt is replaced by
a file; where it leads is not touched. Files that another run left are
named on standard error, never removed.

Signal (input.txt):
  --signal KIND      sines (default), noise, chirp, impulse or step
  --length N         number of samples, 0 to 4294967295 (default 100000)
  --rate HZ          sample rate in Hz, 0.001 to 1e12 (default 8000)
  --tones LIST       sines: F[:A],... frequencies in Hz from 0 to rate/2, with
                     amplitudes whose magnitudes, and the noise, add up to a
                     finite double (default 50:1,440:0.5,1250:0.25,3000:0.25)
  --noise A          sines: add uniform noise in [-A, A), A >= 0 (default 0.1)
  --seed S           seed of the noise, for sines and noise, 0 to 2^64 - 1
                     (default 20261207)
  --amplitude A      noise, chirp, impulse, step: any finite amplitude (default 1)
  --chirp F0,F1      chirp: start and end frequency in Hz, each from 0 to
                     rate/2 (default 0 to rate/2)
  --delay K          impulse, step: index of the first non-zero sample, below
                     --length (default 0)

Filter (fir.txt):
  --filter KIND      lowpass (default), highpass, bandpass or average
  --taps M           number of taps, 1 to 4294967295 (default 64; odd for a
                     highpass, at least 3 for a bandpass)
  --cutoff HZ        lowpass, highpass: cutoff in Hz, strictly between 0 and
                     rate/2 (default 1000)
  --band LOW,HIGH    bandpass: band edges in Hz, 0 < LOW < HIGH < rate/2
  --window KIND      hamming (default), blackman or kaiser
  --beta B           kaiser: window shape, 0 to 700 (default 8.6)

  --only-signal      write input.txt only, whatever the other options
  --only-filter      write fir.txt only, whatever the other options
  --version          show the version
  --help             show this text

Values may also be given as --option=value. Numbers use a decimal point.
Exit status: 0 written, 1 a file or standard output could not be written,
memory ran out or another run holds the files (nothing replaced), 2 bad
arguments (nothing touched).
)";
}
