#!/usr/bin/env bash
# The two times fir_bench prints, from fresh processes, for several builds
# side by side: each round runs every program once on the same files, one
# after another, so that a virtual machine's drift falls on all of them.
#
#   bench/windows_times.sh [--runs R] [NAME=COMMAND ...]
#
# Without programs: the 32-bit and 64-bit Windows programs under Wine and
# the Linux release build (make windows and make run build them). Prints a
# table of printed direct and FFT times in ms, median (best), and the
# first program's direct time over each other one's, the median of the
# rounds' ratios. N = 10^5 and 10^6, M = 16, 64, 256 and 1024: noise
# through a lowpass from build/release/fir_gen.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=5
if [[ ${1:-} == --runs ]]; then runs=$2; shift 2; fi
if [[ $# -eq 0 ]]; then
  set -- "32-bit .exe=/usr/lib/wine/wine build/windows32/fir_bench.exe" \
         "64-bit .exe=/usr/lib/wine/wine64 build/windows/fir_bench.exe" \
         "Linux=build/release/fir_bench"
fi
names=() commands=()
for entry in "$@"; do
  names+=("${entry%%=*}")
  # The programs run in a scratch folder: paths made absolute.
  command=()
  for word in ${entry#*=}; do [[ -e $word ]] && command+=("$(realpath "$word")") || command+=("$word"); done
  commands+=("${command[*]}")
done
gen=$PWD/build/release/fir_gen
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# A prefix made with 32-bit Wine installed, which runs both Windows programs.
export WINEPREFIX=${WINEPREFIX:-$PWD/build/windows32/wineprefix} WINEDEBUG=-all

# The direct and FFT times of one run, blank-separated (the numbers before
# " мс", in Windows-1251 or UTF-8).
printed_times() {
  (cd "$scratch" && printf '\n' | $1 2>/dev/null) | tr -d '\r' |
    LC_ALL=C sed -n 's/^.*\t\([0-9.e+-]*\) \(\xec\xf1\|мс\)$/\1/p' | tr '\n' ' '
}

header="| N x M |"
rule="|---|"
for name in "${names[@]}"; do header+=" $name direct | $name FFT |"; rule+="---:|---:|"; done
for name in "${names[@]:1}"; do header+=" ${names[0]} / $name direct |"; rule+="---:|"; done
echo "$header"
echo "$rule"
for samples in ${SAMPLES:-100000 1000000}; do
  for taps in ${TAPS:-16 64 256 1024}; do
    (cd "$scratch" && "$gen" --signal noise --length $samples --taps $taps >/dev/null)
    results=$scratch/results
    : >"$results"
    for ((r = 0; r < runs; ++r)); do
      for p in "${!commands[@]}"; do echo "$p $(printed_times "${commands[$p]}")" >>"$results"; done
    done
    awk -v shape="$samples x $taps" -v programs=${#commands[@]} '
      function median(a, n,   i, j, t) {
        for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
        return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
      }
      function best(a, n,   i, m) { m = a[1]; for (i = 2; i <= n; ++i) if (a[i] < m) m = a[i]; return m }
      { n[$1]++; d[$1, n[$1]] = $2; f[$1, n[$1]] = $3 }
      END {
        line = "| " shape " |"
        for (p = 0; p < programs; ++p) {
          for (i = 1; i <= n[p]; ++i) { dd[i] = d[p, i]; ff[i] = f[p, i] }
          line = line sprintf(" %.3f (%.3f) | %.3f (%.3f) |", median(dd, n[p]), best(dd, n[p]), median(ff, n[p]), best(ff, n[p]))
        }
        for (p = 1; p < programs; ++p) {
          for (i = 1; i <= n[p]; ++i) ratio[i] = d[0, i] / d[p, i]
          line = line sprintf(" %.2f |", median(ratio, n[p]))
        }
        print line
      }' "$results"
  done
done
