# Draws one placement's relay latency distribution that server_bench writes.
# Usage: gnuplot -e "csv='relay-latency-apart.csv'; png='relay-latency-apart.png'; placement='client on CPU 0, servers on CPU 1'" relay-latency.gp
set terminal pngcairo size 800,480 font "sans,10"
set output png
set datafile separator ","
set key bottom right
set termoption noenhanced
set title "Relay latency of one packet, server against raw forwarder (127.0.0.1; ".placement.")"
set xlabel "latency (microseconds, log scale)"
set ylabel "packets delivered within (%)"
set logscale x
set grid xtics mxtics ytics
set yrange [0:100]
# Up to the 99.9th percentile: the last rows are single stalls of a shared machine.
titles = "'302 chat, server' '302 chat, raw forwarder' '202 move, server' '202 move, raw forwarder'"
plot for [column=2:5] csv skip 1 every ::0::999 using column:1 with lines linewidth 2 \
  title word(titles, column - 1)
