#!/usr/bin/env bash
# Reads what tools/sweep/sweep.gp marks from fir_sweep's table: N, the CPU,
# both crossovers with fir_sweep's words on them, and the first filter
# length whose errors cover sampled outputs only. Prints them as one line
# of gnuplot assignments, for `gnuplot -e`.
#
#   tools/sweep/sweep_marks.sh TABLE
set -euo pipefail
table=$1
samples=$(sed -n 's/^# N = \([0-9]*\) samples.*/\1/p' "$table")
cpu=$(sed -n 's/^# seed .*, CPU \(.*\), FFTW .*/\1/p' "$table")
summary=$(sed -n 's/^# \(FFT loop .*\) (N = [0-9]*)$/\1/p' "$table")
loop_text=${summary%%; FFT call*}
call_text=${summary#*; }
loop=$(echo "$loop_text" | sed -n 's/.*faster from M = \([0-9]*\).*/\1/p')
call=$(echo "$call_text" | sed -n 's/.*faster from M = \([0-9]*\).*/\1/p')
# Fewer error_outputs than N + M - 1: the errors cover sampled outputs.
sampled=$(awk -F'\t' -v n="$samples" '
  $1 == "taps" { for (c = 1; c <= NF; ++c) if ($c == "error_outputs") column = c }
  column && $1 ~ /^[0-9]+$/ && $column < n + $1 - 1 { print $1; exit }' "$table")
printf "samples=%s; cpu='%s'; loop_crossover=%s; call_crossover=%s; loop_text='%s'; call_text='%s'; sampled_from=%s\n" \
  "$samples" "$cpu" "${loop:-0}" "${call:-0}" "$loop_text" "$call_text" "${sampled:-0}"
