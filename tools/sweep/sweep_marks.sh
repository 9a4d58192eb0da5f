#!/usr/bin/env bash
# Reads what tools/sweep/sweep.gp marks from fir_sweep's table: N, the CPU,
# the crossovers against fir_bench's FFT and against the best FFT, each
# with fir_sweep's words on it, and the first filter length whose errors
# cover sampled outputs only. Prints them as one line of gnuplot
# assignments, for `gnuplot -e`.
#
#   tools/sweep/sweep_marks.sh TABLE
set -euo pipefail
table=$1
samples=$(sed -n 's/^# N = \([0-9]*\) samples.*/\1/p' "$table")
cpu=$(sed -n 's/^# seed .*, CPU \(.*\), FFTW .*/\1/p' "$table")
# "# [best ]FFT loop ...; [best ]FFT call ... (N = n)": the loop's part and
# the call's, and the M each names.
read_crossovers() {
  local summary
  summary=$(sed -n "s/^# $1\\(FFT loop .*\\) (N = [0-9]*)\$/$1\\1/p" "$table")
  loop_text=${summary%%; $1FFT call*}
  call_text=${summary#*; }
  loop=$(echo "$loop_text" | sed -n 's/.*faster from M = \([0-9]*\).*/\1/p')
  call=$(echo "$call_text" | sed -n 's/.*faster from M = \([0-9]*\).*/\1/p')
}
read_crossovers "best "
best_loop=$loop best_call=$call best_loop_text=$loop_text best_call_text=$call_text
read_crossovers ""
# Fewer error_outputs than N + M - 1: the errors cover sampled outputs.
sampled=$(awk -F'\t' -v n="$samples" '
  $1 == "taps" { for (c = 1; c <= NF; ++c) if ($c == "error_outputs") column = c }
  column && $1 ~ /^[0-9]+$/ && $column < n + $1 - 1 { print $1; exit }' "$table")
printf "samples=%s; cpu='%s'; " "$samples" "$cpu"
printf "loop_crossover=%s; call_crossover=%s; loop_text='%s'; call_text='%s'; " \
  "${loop:-0}" "${call:-0}" "$loop_text" "$call_text"
printf "best_loop_crossover=%s; best_call_crossover=%s; best_loop_text='%s'; best_call_text='%s'; " \
  "${best_loop:-0}" "${best_call:-0}" "$best_loop_text" "$best_call_text"
printf "sampled_from=%s\n" "${sampled:-0}"
