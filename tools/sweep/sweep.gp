# The sweep over filter lengths as one picture: above, both stages' times
# against M, the loop (what fir_bench prints) and the whole call (what a
# program that filters once waits for), each crossover marked; below, the
# deviations and each method's distance from the exact convolution, beside
# the rounding scale.
#
#   gnuplot -e "dir='build/release/sweep'; loop_crossover=223; call_crossover=1100" tools/sweep/sweep.gp
#
# dir:             folder with sweep.tsv and scale.tsv from fir_sweep
# out:             PNG to write (default: dir/sweep.png)
# loop_crossover:  the M from which the FFT loop (fir_bench's rule) stays faster (0: none)
# call_crossover:  the same for the whole call (0: none)
# loop_text, call_text: fir_sweep's words on each (the band of ties)
# best_loop_crossover, best_call_crossover, best_loop_text, best_call_text:
#                  the same against the FFT at its best transform length
# samples, cpu:    N and the processor, for the title
# sampled_from:    the first M whose errors cover sampled outputs only (0: none)

if (!exists("dir")) dir = "."
if (!exists("out")) out = dir . "/sweep.png"
if (!exists("loop_crossover")) loop_crossover = 0
if (!exists("call_crossover")) call_crossover = 0
if (!exists("loop_text")) loop_text = sprintf("FFT loop faster from M = %.0f", loop_crossover)
if (!exists("call_text")) call_text = sprintf("FFT call faster from M = %.0f", call_crossover)
if (!exists("best_loop_crossover")) best_loop_crossover = 0
if (!exists("best_call_crossover")) best_call_crossover = 0
if (!exists("best_loop_text")) best_loop_text = sprintf("best FFT loop faster from M = %.0f", best_loop_crossover)
if (!exists("best_call_text")) best_call_text = sprintf("best FFT call faster from M = %.0f", best_call_crossover)
if (!exists("samples")) samples = 100000
if (!exists("cpu")) cpu = "unknown CPU"
if (!exists("sampled_from")) sampled_from = 0
table = dir . "/sweep.tsv"
scale = dir . "/scale.tsv"

set terminal pngcairo size 1100,1100 font "sans,10" noenhanced
set output out
set datafile separator "\t"
set datafile columnheaders
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
if (loop_crossover > 0) {
  set arrow 1 from loop_crossover, graph 0 to loop_crossover, graph 1 nohead linewidth 1.5 linecolor rgb "#444444"
  set label 1 "solid line: " . loop_text at graph 0.01, graph 0.09 left
}
if (call_crossover > 0) {
  set arrow 2 from call_crossover, graph 0 to call_crossover, graph 1 nohead dashtype 2 linecolor rgb "#444444"
  set label 2 "dashed line: " . call_text at graph 0.01, graph 0.04 left
}
if (best_loop_crossover > 0) {
  set arrow 3 from best_loop_crossover, graph 0 to best_loop_crossover, graph 1 nohead linewidth 1.5 linecolor rgb "#2ca02c"
  set label 3 "green solid line: " . best_loop_text at graph 0.01, graph 0.19 left
}
if (best_call_crossover > 0) {
  set arrow 4 from best_call_crossover, graph 0 to best_call_crossover, graph 1 nohead dashtype 2 linecolor rgb "#2ca02c"
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
