# Sample store: copyfrom of a 10-minute stereo working file into a new store, against cp of the
# same file; RebuildIndex throughput in GB/s (kestrune= is GB/s on that line, target is a minimum).
source "$BENCH_LIB"
src="$WORK/store-10min.wav"
bench_store make "$src" 600
cp "$src" "$WORK/warm.wav"; rm -f "$WORK/warm.wav"
k=(); r=()
for i in 1 2 3 4 5; do
  k+=("$(bench_store copy "$src" "$WORK/copy.wav")"); rm -f "$WORK/copy.wav"
  r+=("$(seconds cp "$src" "$WORK/cp.wav")"); rm -f "$WORK/cp.wav"
done
bench_line store-copyfrom-10min "$(median "${k[@]}")" "$(median "${r[@]}")" 1.5
t=()
for i in 1 2 3 4 5; do t+=("$(bench_store rebuild "$src")"); done
bytes=$(stat -c %s "$src")
gbs=$(awk -v b="$bytes" -v s="$(median "${t[@]}")" 'BEGIN{ printf "%.2f", b / s / 1e9 }')
bench_line store-rebuildindex-GBps "$gbs" "" ">=1"
rm -f "$src"
