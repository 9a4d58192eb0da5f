# One picture of a run: the input, both filtered signals, their difference
# on a log scale, and the filter's magnitude response.
#
#   gnuplot -e "dir='build/release/run'; out='plot.png'; rate=8000" tools/plot.gp
#
# dir:    folder with input.txt, fir.txt and the three output_*.txt files
# out:    PNG to write (default: dir/plot.png)
# rate:   sample rate in Hz, for the response's frequency axis (default 8000)
# window: how many samples the signal panels show (default 600)

if (!exists("dir")) dir = "."
if (!exists("out")) out = dir . "/plot.png"
if (!exists("rate")) rate = 8000.0
if (!exists("window")) window = 600
file(name) = dir . "/" . name

set terminal pngcairo size 1400,1000 font "sans,10" noenhanced
set output out
set datafile separator whitespace

# The taps, for the response H(f) = |sum h[k] exp(-2 pi i f k / rate)|.
stats file("fir.txt") using 1 nooutput
taps = STATS_records
array h[taps]
set table $discard
plot file("fir.txt") using (h[int($0) + 1] = $1) with table
unset table
re(f) = sum [k = 1:taps] h[k] * cos(2 * pi * f * (k - 1) / rate)
im(f) = sum [k = 1:taps] h[k] * sin(2 * pi * f * (k - 1) / rate)
response_db(f) = 10 * log10(re(f)**2 + im(f)**2 + 1e-30)

stats file("input.txt") using 1 nooutput
samples = STATS_records
set multiplot layout 2,2 title sprintf("fir_bench: %d samples, %d taps (%s)", samples, taps, dir) font "sans,13"
set grid
set key top right box opaque

set title sprintf("Input signal (first %d samples)", window)
set xlabel "sample index"
set ylabel "amplitude"
plot file("input.txt") every ::0::(window - 1) using 0:1 with lines lw 1 lc rgb "#4477aa" title "input.txt"

set title sprintf("Filtered signal (first %d samples)", window)
plot file("output_linear.txt") every ::0::(window - 1) using 0:1 with lines lw 3 lc rgb "#66ccee" title "direct (output_linear.txt)", \
     file("output_fft.txt") every ::0::(window - 1) using 0:1 with lines lw 1.5 dt 2 lc rgb "#bb2233" title "FFT overlap-add (output_fft.txt)"

set title "|direct - FFT| over the whole result (log scale; exact zeros are not shown)"
set ylabel "absolute difference"
set logscale y
set format y "1e%T"
set key top left
set autoscale xfix
plot file("output_diff.txt") using 0:(abs($1) > 0 ? abs($1) : NaN) with dots lc rgb "#228833" title "output_diff.txt"
unset logscale y
set format y "%g"

set title "Filter magnitude response"
set xlabel "frequency (Hz)"
set ylabel "gain (dB)"
set key top right
set samples 800
set autoscale xfix
set xrange [0:rate / 2]
set yrange [-120:10]
plot response_db(x) with lines lw 2 lc rgb "#aa3377" title "fir.txt"

unset multiplot
