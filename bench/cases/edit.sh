# Editing a 10-minute stereo document: Cut of 10 seconds (the whole operation, index rebuild
# included) against cp of the working file, Reverse against cp, and the UI-thread part of Undo
# (target in seconds).
source "$BENCH_LIB"
src="$WORK/edit-10min.wav"
bench_store make "$src" 600
k=(); v=(); r=(); u=()
for i in 1 2 3 4 5; do
  k+=("$(bench_edit cut "$src" 10)")
  r+=("$(seconds cp "$src" "$WORK/cp.wav")"); rm -f "$WORK/cp.wav"
  v+=("$(bench_edit reverse "$src")")
  u+=("$(bench_edit undo "$src")")
done
ref=$(median "${r[@]}")
bench_line edit-cut-10s-of-10min "$(median "${k[@]}")" "$ref" 1.5
bench_line edit-reverse-10min "$(median "${v[@]}")" "$ref" 2
bench_line edit-undo-ui-part "$(median "${u[@]}")" "" 0.005
rm -f "$src"
