# The sweep over filter lengths as one picture: above, both stages' times
# against M (minimum as a line, median as points) with the crossover
# marked; below, the deviations and each method's distance from the exact
# convolution, beside the rounding scale.
#
#   gnuplot -e "dir='build/release/sweep'; crossover=128" tools/sweep/sweep.gp
#
# dir:        folder with sweep.tsv and scale.tsv from fir_sweep
# out:        PNG to write (default: dir/sweep.png)
# crossover:  the M from which the FFT stage stays faster (0: none)
# samples:    N, for the title (default 100000)

if (!exists("dir")) dir = "."
if (!exists("out")) out = dir . "/sweep.png"
if (!exists("crossover")) crossover = 0
if (!exists("samples")) samples = 100000
table = dir . "/sweep.tsv"
scale = dir . "/scale.tsv"

set terminal pngcairo size 1100,1000 font "sans,10" noenhanced
set output out
set datafile separator "\t"
set key autotitle columnheader
set logscale xy 2
set format x "%.0f"
set xlabel "taps M"
set grid
set multiplot layout 2,1

set title sprintf("stage times, N = %.0f samples (fir_bench's own stopwatch)", samples)
set ylabel "ms"
set logscale y 10
set format y "%g"
if (crossover > 0) {
  set arrow 1 from crossover, graph 0 to crossover, graph 1 nohead dashtype 2 linecolor rgb "#444444"
  set label 1 sprintf(" FFT faster from M = %.0f", crossover) at crossover, graph 0.92 left
}
plot table using 1:3 with lines linewidth 2 linecolor rgb "#1f77b4" title "direct, minimum", \
     "" using 1:4 with points pointtype 7 pointsize 0.6 linecolor rgb "#1f77b4" title "direct, median", \
     "" using 1:5 with lines linewidth 2 linecolor rgb "#d62728" title "FFT overlap-add, minimum", \
     "" using 1:6 with points pointtype 7 pointsize 0.6 linecolor rgb "#d62728" title "FFT overlap-add, median"
unset arrow 1
unset label 1

set title "accuracy: largest deviation between the methods, and each one's largest error against the exact sum"
set ylabel "absolute error"
set format y "%.0e"
plot table using 1:8 with linespoints pointtype 6 linecolor rgb "#2ca02c" title "max |direct - FFT|", \
     "" using 1:($9 > 0 ? $9 : NaN) with linespoints pointtype 7 linecolor rgb "#1f77b4" title "direct: max |y - exact|", \
     "" using 1:10 with linespoints pointtype 7 linecolor rgb "#d62728" title "FFT: max |y - exact|", \
     scale using 1:2 with lines dashtype 2 linecolor rgb "#444444" title "2^-53 * sum|h| * max|x|"

unset multiplot
