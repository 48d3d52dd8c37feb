# Playback through SDL's dummy driver: the time from Play to the first audio callback that
# delivers the range's first sample (median of 15 runs; target in seconds), and the CPU time the
# whole process uses while a stereo range plays for 4 seconds. On the second line kestrune= is
# in percent of one core, not seconds, and the target is a maximum in percent.
source "$BENCH_LIB"
bench_line playback-start-latency "$(bench_playback latency 15)" "" 0.030
bench_line playback-cpu-percent "$(bench_playback cpu 4)" "" 2
