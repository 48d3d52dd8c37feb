# Ringtone encoding: a 5-minute stereo music-like raw file streamed through the AAC writer in
# 4096-sample blocks, against the ffmpeg command line encoding the same samples to the same
# format. Runs alternate; medians of 5.
source "$BENCH_LIB"
raw="$WORK/export-5min.s16le"
# A chord of decaying notes with harmonics, a new one every 0.4 s, slightly different per side.
ffmpeg -nostdin -v error -f lavfi -i "aevalsrc='0.2*exp(-mod(t,0.4)/0.3)*(sin(2*PI*(220+55*floor(mod(t/0.4,8)))*t)+0.5*sin(4*PI*(220+55*floor(mod(t/0.4,8)))*t)+0.3*sin(6*PI*(220+55*floor(mod(t/0.4,8)))*t))|0.2*exp(-mod(t,0.4)/0.3)*(sin(2*PI*(330+44*floor(mod(t/0.4,8)))*t)+0.4*sin(4*PI*(330+44*floor(mod(t/0.4,8)))*t)+0.2*sin(8*PI*(330+44*floor(mod(t/0.4,8)))*t))':s=44100:d=300" \
  -f s16le -ac 2 -ar 44100 -y "$raw"
k=(); r=()
for i in 1 2 3 4 5; do
  k+=("$(seconds bench_encode "$raw" "$WORK/k.m4r")"); rm -f "$WORK/k.m4r"
  r+=("$(seconds ffmpeg -nostdin -f s16le -ar 44100 -ac 2 -i "$raw" -c:a aac -b:a 128k -f ipod -y "$WORK/r.m4r")"); rm -f "$WORK/r.m4r"
done
bench_line export-aac-5min "$(median "${k[@]}")" "$(median "${r[@]}")" 1.05

# The document's Export of the same samples (bench_edit times the operation from SaveRange to
# its end), against the same ffmpeg command; then kestrune-cli create of a whole 5-minute WAV
# against ffmpeg encoding that WAV. Whole processes for the latter.
wav="$WORK/export-5min.wav"
ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 2 -i "$raw" -y "$wav"
k=(); r=(); c=(); f=()
for i in 1 2 3 4 5; do
  k+=("$(bench_edit export "$wav" "$WORK/k.m4r")"); rm -f "$WORK/k.m4r"
  r+=("$(seconds ffmpeg -nostdin -f s16le -ar 44100 -ac 2 -i "$raw" -c:a aac -b:a 128k -f ipod -y "$WORK/r.m4r")"); rm -f "$WORK/r.m4r"
  c+=("$(TMPDIR="$WORK" seconds kestrune-cli create "$wav" "$WORK/c.m4r" --force)"); rm -f "$WORK/c.m4r"
  f+=("$(seconds ffmpeg -nostdin -i "$wav" -c:a aac -b:a 128k -f ipod -y "$WORK/f.m4r")"); rm -f "$WORK/f.m4r"
done
bench_line export-document-5min "$(median "${k[@]}")" "$(median "${r[@]}")" 1.05
bench_line create-cli-5min-wav "$(median "${c[@]}")" "$(median "${f[@]}")" 1.10
rm -f "$raw" "$wav"
