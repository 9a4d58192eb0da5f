# The sweep over filter lengths as one picture: above, both stages' times
# against M, the loop (what fir_bench prints) and the whole call (what a
# program that filters once waits for), each crossover marked; below, the
# deviations and each method's distance from the exact convolution, beside
# the rounding scale.
#
#   gnuplot -e "dir='build/release/sweep'" tools/sweep.gp
#   gnuplot -e "table='t.tsv'; scale='s.tsv'; out='t.png'" tools/sweep.gp
#
# table: the table from fir_sweep (default: dir/sweep.tsv)
# scale: its --scale file (default: dir/scale.tsv)
# dir:   the folder of both when they are not named (default: .)
# out:   PNG to write (default: dir/sweep.png)
# The marks come from the table's "#" lines as they stand: N and the CPU
# for the title, each crossover with its band of ties. Printed on standard
# error as read.

if (!exists("dir")) dir = "."
if (!exists("out")) out = dir . "/sweep.png"
if (!exists("table")) table = dir . "/sweep.tsv"
if (!exists("scale")) scale = dir . "/scale.tsv"

samples = 0; cpu = "unknown CPU"
loop_rule = 0; loop_rule_from = 0; loop_rule_to = -1; call_rule = 0; call_rule_from = 0; call_rule_to = -1
loop_best = 0; loop_best_from = 0; loop_best_to = -1; call_best = 0; call_best_from = 0; call_best_to = -1
set datafile separator "\t"
set datafile commentschars ""
# One pass over every line: a "#" line's key picks what its fields set.
crossover(time, fft) = strcol(3) eq time && strcol(4) eq fft
stats table using (strcol(1) ne "#" ? 0 : \
  strcol(2) eq "samples" ? (samples = column(3), 0) : \
  strcol(2) eq "cpu" ? (cpu = strcol(3), 0) : \
  strcol(2) ne "crossover" ? 0 : \
  crossover("loop", "rule") ? (loop_rule = column(5), loop_rule_from = column(6), loop_rule_to = column(7), 0) : \
  crossover("call", "rule") ? (call_rule = column(5), call_rule_from = column(6), call_rule_to = column(7), 0) : \
  crossover("loop", "best") ? (loop_best = column(5), loop_best_from = column(6), loop_best_to = column(7), 0) : \
  crossover("call", "best") ? (call_best = column(5), call_best_from = column(6), call_best_to = column(7), 0) : 0) \
  nooutput
set datafile commentschars "#"
set datafile columnheaders
# The first M whose errors cover sampled outputs only (fewer than N + M - 1).
sampled_from = 0
stats table using (sampled_from == 0 && column("error_outputs") < samples + column("taps") - 1 ? \
  (sampled_from = column("taps"), 0) : 0) nooutput

# "FFT loop faster from M = 184 (a tie, within the measured spread, from M = 183 to 184)"
mark_text(what, taps, from, to) = taps == 0 ? what . " not faster at the longest filter" : \
  sprintf("%s faster from M = %.0f", what, taps) . \
  (from <= to ? sprintf(" (a tie, within the measured spread, from M = %.0f to %.0f)", from, to) : "")
loop_text = mark_text("FFT loop", loop_rule, loop_rule_from, loop_rule_to)
call_text = mark_text("FFT call", call_rule, call_rule_from, call_rule_to)
best_loop_text = mark_text("best FFT loop", loop_best, loop_best_from, loop_best_to)
best_call_text = mark_text("best FFT call", call_best, call_best_from, call_best_to)
print sprintf("N = %.0f, %s; %s; %s; %s; %s; sampled from M = %.0f", samples, cpu, loop_text, call_text, \
  best_loop_text, best_call_text, sampled_from)

set terminal pngcairo size 1100,1100 font "sans,10" noenhanced
set output out
set logscale xy 2
set format x "%.0f"
set xlabel "taps M"
set grid
set key left top
set multiplot layout 2,1

set title sprintf("stage times, N = %.0f samples, %s", samples, cpu)
set ylabel "ms (lines: minimum; points: median)"
set logscale y 10
set format y "%g"
if (loop_rule > 0) {
  set arrow 1 from loop_rule, graph 0 to loop_rule, graph 1 nohead linewidth 1.5 linecolor rgb "#444444"
  set label 1 "solid line: " . loop_text at graph 0.01, graph 0.09 left
}
if (call_rule > 0) {
  set arrow 2 from call_rule, graph 0 to call_rule, graph 1 nohead dashtype 2 linecolor rgb "#444444"
  set label 2 "dashed line: " . call_text at graph 0.01, graph 0.04 left
}
if (loop_best > 0) {
  set arrow 3 from loop_best, graph 0 to loop_best, graph 1 nohead linewidth 1.5 linecolor rgb "#2ca02c"
  set label 3 "green solid line: " . best_loop_text at graph 0.01, graph 0.19 left
}
if (call_best > 0) {
  set arrow 4 from call_best, graph 0 to call_best, graph 1 nohead dashtype 2 linecolor rgb "#2ca02c"
  set label 4 "green dashed line: " . best_call_text at graph 0.01, graph 0.14 left
}
plot table using "taps":"direct_min_ms" with lines linewidth 2 linecolor rgb "#1f77b4" title "direct, loop (fir_bench's time)", \
     "" using "taps":"direct_median_ms" with points pointtype 7 pointsize 0.5 linecolor rgb "#1f77b4" notitle, \
     "" using "taps":"fft_min_ms" with lines linewidth 2 linecolor rgb "#d62728" title "FFT overlap-add, loop (fir_bench's time)", \
     "" using "taps":"fft_median_ms" with points pointtype 7 pointsize 0.5 linecolor rgb "#d62728" notitle, \
     "" using "taps":"direct_call_min_ms" with lines dashtype 2 linewidth 2 linecolor rgb "#1f77b4" title "direct, whole call", \
     "" using "taps":"direct_call_median_ms" with points pointtype 6 pointsize 0.5 linecolor rgb "#1f77b4" notitle, \
     "" using "taps":"fft_call_min_ms" with lines dashtype 2 linewidth 2 linecolor rgb "#d62728" title "FFT overlap-add, whole call (planning included)", \
     "" using "taps":"fft_call_median_ms" with points pointtype 6 pointsize 0.5 linecolor rgb "#d62728" notitle, \
     "" using "taps":"fft_best_min_ms" with lines linewidth 2 linecolor rgb "#2ca02c" title "FFT at its best length, loop", \
     "" using "taps":"fft_best_call_min_ms" with lines dashtype 2 linewidth 2 linecolor rgb "#2ca02c" title "FFT at its best length, whole call"
unset arrow 1
unset arrow 2
unset arrow 3
unset arrow 4
unset label 1
unset label 2
unset label 3
unset label 4

over = sampled_from > 0 ? sprintf("over all outputs below M = %.0f, over sampled outputs from there", sampled_from) \
                        : "over all outputs"
set title "accuracy: the deviation between the methods and each one's error against the exact sum\n(largest " . over . ")"
set ylabel "absolute error"
set format y "%.0e"
plot table using "taps":"max_abs" with linespoints pointtype 6 linecolor rgb "#9467bd" title "max |direct - FFT|", \
     "" using "taps":(column("direct_error") > 0 ? column("direct_error") : NaN) with linespoints pointtype 7 linecolor rgb "#1f77b4" title "direct: max |y - exact|", \
     "" using "taps":"fft_error" with linespoints pointtype 7 linecolor rgb "#d62728" title "FFT: max |y - exact|", \
     "" using "taps":"fft_best_error" with linespoints pointtype 5 linecolor rgb "#2ca02c" title "best FFT: max |y - exact|", \
     scale using 1:2 with lines dashtype 2 linecolor rgb "#444444" title "2^-53 * sum|h| * max|x|"

unset multiplot
