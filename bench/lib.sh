# Helpers for bench/cases/*.sh (sourced; also exported to them through BENCH_LIB).
export BENCH_LIB="${BASH_SOURCE[0]}"

# bench_line NAME KESTRUNE_SECONDS REFERENCE_SECONDS TARGET
# Prints the standard line; the ratio is computed when there is a reference.
bench_line() {
  local name=$1 k=$2 r=${3:-} t=${4:-} ratio=""
  if [ -n "$r" ]; then ratio=$(awk -v k="$k" -v r="$r" 'BEGIN{ if (r > 0) printf "%.3f", k / r }'); fi
  echo "bench $name kestrune=$k reference=$r ratio=$ratio target=$t"
}

# seconds CMD…: wall time of one run of CMD, in seconds.
seconds() {
  local s e
  s=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  e=$(date +%s.%N)
  awk -v s="$s" -v e="$e" 'BEGIN{ printf "%.4f", e - s }'
}

# median N…: the median of the numbers given.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { if (NR % 2) print a[(NR + 1) / 2]; else printf "%.4f\n", (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
