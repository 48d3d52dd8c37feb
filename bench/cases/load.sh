# Loading through the document's Load (`kestrune-cli info`: decoding into the working file with
# its peak index, then deleting it) against the ffmpeg command line decoding the same file to
# 16-bit stereo at 44100 Hz; a 5-minute stereo MP3 and a 5-minute 48 kHz stereo FLAC
# (resampled). Whole processes, runs alternate; medians of 5. Then the peak resident memory of
# loading a 60-minute MP3: on that line kestrune= is in MB and the target is a maximum in MB.
source "$BENCH_LIB"
mp3="$WORK/load-5min.mp3"
flac="$WORK/load-5min-48k.flac"
# Music-like: a few drifting tones and a tremolo partial per side over pink noise.
tones="aevalsrc='0.2*sin(2*PI*220*t)+0.15*sin(2*PI*330*t+0.5*sin(2*PI*0.3*t))+0.1*sin(2*PI*1760*t)*sin(2*PI*2*t)|0.2*sin(2*PI*221*t)+0.15*sin(2*PI*440*t)+0.1*sin(2*PI*2637*t)*sin(2*PI*3*t)':s=RATE:d=300"
noise="anoisesrc=c=pink:a=0.05:r=RATE:d=300"
make_audio() {  # make_audio RATE OUTPUT CODEC…
  local rate=$1 out=$2; shift 2
  ffmpeg -nostdin -v error -f lavfi -i "${tones//RATE/$rate}" -f lavfi -i "${noise//RATE/$rate}" \
    -filter_complex "[0][1]amix=inputs=2:normalize=0" -ac 2 "$@" -y "$out"
}
make_audio 44100 "$mp3" -c:a libmp3lame -b:a 192k
make_audio 48000 "$flac" -c:a flac

for item in "load-mp3-5min $mp3" "load-flac48-5min $flac"; do
  name=${item%% *}; file=${item#* }
  k=(); r=()
  for i in 1 2 3 4 5; do
    k+=("$(TMPDIR="$WORK" seconds kestrune-cli info "$file")")
    r+=("$(seconds ffmpeg -nostdin -i "$file" -ar 44100 -ac 2 -f s16le -y "$WORK/r.raw")")
    rm -f "$WORK/r.raw"
  done
  bench_line "$name" "$(median "${k[@]}")" "$(median "${r[@]}")" 1.10
done

# Sixty minutes: twelve copies of the 5-minute MP3 joined without re-encoding.
long="$WORK/load-60min.mp3"
list="$WORK/load-60min.txt"
: >"$list"
for i in $(seq 12); do echo "file '$mp3'" >>"$list"; done
ffmpeg -nostdin -v error -f concat -safe 0 -i "$list" -c copy -y "$long"
kb=$(TMPDIR="$WORK" /usr/bin/time -f %M kestrune-cli info "$long" 2>&1 >/dev/null | tail -n 1)
bench_line load-mp3-60min-peak-rss "$(awk -v kb="$kb" 'BEGIN{ printf "%.1f", kb / 1024 }')" "" 64
rm -f "$mp3" "$flac" "$long" "$list"
