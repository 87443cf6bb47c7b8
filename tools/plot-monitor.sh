#!/usr/bin/env bash
# Draws a CSV written by `elq770ctl monitor --csv` as a PNG: the measurement,
# both peaks and the moments an alarm word came in. Documentation aid, not
# part of the build; needs gnuplot (Debian: apt-get install gnuplot-nox).
#   tools/plot-monitor.sh run.csv run.png
set -euo pipefail
csv=${1:?usage: plot-monitor.sh CSV PNG}
png=${2:?usage: plot-monitor.sh CSV PNG}
command -v gnuplot >/dev/null || { echo "plot-monitor.sh: gnuplot is missing (apt-get install gnuplot-nox)" >&2; exit 1; }

gnuplot <<PLOT
set terminal pngcairo size 900,420 font "DejaVu Sans,10"
set output "$png"
set datafile separator ","
set xdata time
set timefmt "%Y-%m-%dT%H:%M:%S"
set format x "%H:%M:%S"
set xlabel "time"
set ylabel "power [% of scale]"
set yrange [0:105]
set xtics 10
set key outside right top
set grid
set title "elq770ctl monitor: $(basename "$csv")"
plot "$csv" every ::1 using 1:2 with lines lw 1.5 lc rgb "#1f5fa8" title "measurement", \
     "" every ::1 using 1:4 with steps lc rgb "#c0392b" dt 2 title "max peak", \
     "" every ::1 using 1:5 with steps lc rgb "#27ae60" dt 2 title "min peak", \
     "" every ::1 using 1:(strcol(6) eq "" ? NaN : \$2) with points pt 7 ps 0.6 lc rgb "#e67e22" title "alarm word"
PLOT
echo "$png"
