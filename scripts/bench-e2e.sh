#!/usr/bin/env bash
# Frame times of `vorn render --no-write --stats` for each tool at 1920x1080
# and 3840x2160 with 1 and 2 workers, the cases of bench/e2e. The variants
# are alternated within each round, so a busy spell on a shared machine hits
# all of them alike; the median and the minimum of the rounds are printed.
#
#   scripts/bench-e2e.sh [-r ROUNDS] [-f FRAMES] [-t TOOLS] [-s] [VORN ...]
#
# Each run's figure is the mean render time per frame, first frames
# included; with -s it is the median frame (the steady rate of a long
# sequence; needs a vorn whose --stats prints it).
#
# VORN: one or more vorn binaries to compare (default build/release/bin/vorn);
# with several, each case runs them one after the other. A binary's runtime
# library is taken from ../lib beside it (LD_LIBRARY_PATH), so a copied
# earlier build can be compared with the current one. TOOLS: a comma list of
# bleb7, blebcompress, candle, bubbles (default: all that the first binary
# lists). Stepped tools (Bubbles) report the mean over every step, the first
# frames of the simulation included. Set E2E_BENCH to the e2e_bench binary to
# run it afterwards with the same rounds, interleaved.
set -euo pipefail

rounds=5
frames=40
tools=""
steady=0
while getopts "r:f:t:s" opt; do
  case $opt in
    r) rounds=$OPTARG ;;
    f) frames=$OPTARG ;;
    t) tools=$OPTARG ;;
    s) steady=1 ;;
    *) echo "usage: $0 [-r ROUNDS] [-f FRAMES] [-t TOOLS] [-s] [VORN ...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
root=$(cd "$(dirname "$0")/.." && pwd)
binaries=("$@")
[ ${#binaries[@]} -eq 0 ] && binaries=("$root/build/release/bin/vorn")
for b in "${binaries[@]}"; do
  [ -x "$b" ] || { echo "$0: $b is not an executable" >&2; exit 2; }
done

lobes=(--set "Amplitude 1=0.5" --set "Amplitude 2=0.8" --set "Amplitude 3=0.3"
       --set "Amplitude 4=1.0" --set "Amplitude 5=0.6" --set "Amplitude 6=0.4"
       --set "Amplitude 7=0.7")
compress=(--set "Scale=0.6" --set "Amplitude 1=-0.3" --set "Amplitude 2=-0.48"
          --set "Amplitude 3=-0.18" --set "Amplitude 4=-0.6" --set "Amplitude 5=-0.36"
          --set "Amplitude 6=-0.24" --set "Amplitude 7=-0.42")

listed=$("${binaries[0]}" tools 2>/dev/null || true)
if [ -z "$tools" ]; then
  tools="bleb7,blebcompress"
  grep -q Candle <<<"$listed" && tools="$tools,candle"
  grep -q Bubbles <<<"$listed" && tools="$tools,bubbles"
fi

# One run: prints the render ms/frame of the stats line.
run_case() {
  local vorn=$1 tool=$2 size=$3 workers=$4
  local args
  case $tool in
    bleb7) args=(Bleb "${lobes[@]}") ;;
    blebcompress) args=(Bleb "${compress[@]}") ;;
    candle) args=(Candle) ;;
    bubbles) args=(Bubbles --preset "Basic Bubbles") ;;
    *) echo "$0: unknown tool case $tool" >&2; exit 2 ;;
  esac
  LD_LIBRARY_PATH="$(dirname "$vorn")/../lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    "$vorn" render "${args[@]}" --size "$size" --frames "0-$((frames - 1))" \
    --workers "$workers" --no-write --stats --quiet |
    if [ "$steady" -eq 1 ]; then
      sed -n 's/.*per frame:.* median \([0-9.]*\) ms.*/\1/p'
    else
      sed -n 's/.*render \([0-9.]*\) ms\/frame.*/\1/p'
    fi
}

results=$(mktemp)
trap 'rm -f "$results"' EXIT
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for ((r = 1; r <= rounds; ++r)); do
  for tool in ${tools//,/ }; do
    for size in 1920x1080 3840x2160; do
      for workers in 1 2; do
        for i in "${!binaries[@]}"; do
          ms=$(run_case "${binaries[$i]}" "$tool" "$size" "$workers")
          echo "$tool $size $workers $i $ms" >>"$results"
        done
      done
    done
  done
  echo "round $r of $rounds done, load $(cut -d' ' -f1 /proc/loadavg)" >&2
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

printf '%-13s %-10s %7s %4s %10s %10s\n' case size workers vorn median_ms min_ms
sort -k1,1 -k2,2 -k3,3n -k4,4n -k5,5g "$results" |
  awk '{ key = $1 " " $2 " " $3 " " $4; v[key, ++n[key]] = $5; if (!(key in seen)) { seen[key] = 1; order[++k] = key } }
       END { for (i = 1; i <= k; ++i) { key = order[i]; c = n[key];
               med = (c % 2) ? v[key, (c + 1) / 2] : (v[key, c / 2] + v[key, c / 2 + 1]) / 2;
               split(key, f, " ");
               printf "%-13s %-10s %7s %4s %10.2f %10.2f\n", f[1], f[2], f[3], f[4], med, v[key, 1] } }'

if [ -n "${E2E_BENCH:-}" ]; then
  "$E2E_BENCH" --benchmark_repetitions="$rounds" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_filter="${E2E_FILTER:-.}" |
    grep -E 'median|_min'
fi
