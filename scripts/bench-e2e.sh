#!/usr/bin/env bash
# Frame times of `vorn render --no-write --stats` for each tool at 1920x1080
# and 3840x2160 with 1 and 2 workers, the cases of bench/e2e. The variants
# are alternated within each round, so a busy spell on a shared machine hits
# all of them alike; the median and the minimum of the rounds are printed.
#
#   scripts/bench-e2e.sh [-r ROUNDS] [-f FRAMES] [-t TOOLS] [-s] [VORN ...]
#   scripts/bench-e2e.sh -w [-r ROUNDS] [-f FRAMES] [-o DIR] [-c CASES] [VORN ...]
#   scripts/bench-e2e.sh -m [-r ROUNDS] [-t TOOLS] [-n CHUNKS] [VORN ...]
#
# -w, writing: Bleb's default warp at 1920x1080 written as a sequence in each
# format at its default and its fastest settings, against --no-write in the
# same round (the variants alternated); prints the median and best
# "sequence" frames/s, the ratio to --no-write, writing ms/frame and the size
# of a file. CASES: a comma list of the case names below (default: all;
# nowrite is always run). Files go to DIR (default: a temporary folder), on the disk
# being measured, and are removed after each run.
#
# -m, the chunk model: each tool's default scene at 1920x1080 and 3840x2160
# (200 frames unless -f says otherwise) rendered in the chunks vorn would
# choose for 16 threads
# (VORN_CHUNK_THREADS=16), or in -n CHUNKS a pass, on this machine's
# threads, and the modelled speed-up --stats prints for 4 to 64 cores. With
# -r ROUNDS (default 1) the runs are repeated and each case's median and
# range of efficiency printed: on a shared machine one run's figure moves by
# several points.
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

rounds=""
frames=""
tools=""
steady=0
mode=render
outdir=""
cases=""
model_chunks=""
while getopts "r:f:t:swmo:c:n:" opt; do
  case $opt in
    r) rounds=$OPTARG ;;
    f) frames=$OPTARG ;;
    t) tools=$OPTARG ;;
    s) steady=1 ;;
    w) mode=write ;;
    m) mode=model ;;
    o) outdir=$OPTARG ;;
    c) cases=$OPTARG ;;
    n) model_chunks=$OPTARG ;;
    *) echo "usage: $0 [-r ROUNDS] [-f FRAMES] [-t TOOLS] [-s] [-w [-o DIR]] [-m] [VORN ...]" >&2
       exit 2 ;;
  esac
done
# The model is of a long sequence: 200 frames by default, so the first
# frame's page faults weigh as little as in a shot; the timings use 40.
[ -n "$frames" ] || { [ "$mode" = model ] && frames=200 || frames=40; }
# One round of the model unless -r says more; five of the timings.
[ -n "$rounds" ] || { [ "$mode" = model ] && rounds=1 || rounds=5; }
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

with_lib() {
  local vorn=$1
  shift
  LD_LIBRARY_PATH="$(dirname "$vorn")/../lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$vorn" "$@"
}

# Writing: NAME EXTENSION [vorn options...]; "nowrite" renders only.
write_cases=(
  "nowrite -"
  "jpeg jpg"
  "tiff tif"
  "tiff-none tif --compression none"
  "png png"
  "png-1 png --compression 1"
  "dpx10 dpx"
  "exr-zip exr"
  "exr-none exr --compression none"
  "exr-rle exr --compression rle"
  "exr-zips exr --compression zips"
  "exr-piz exr --compression piz"
  "exr-dwaa exr --compression dwaa"
)
if [ "$mode" = write ]; then
  dir=${outdir:-$(mktemp -d)}
  mkdir -p "$dir"
  [ -z "$outdir" ] && trap 'rm -f "$results"; rm -rf "$dir"' EXIT
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  for ((r = 1; r <= rounds; ++r)); do
    for c in "${write_cases[@]}"; do
      read -r name ext extra <<<"$c"
      [ -n "$cases" ] && [ "$name" != nowrite ] && [[ ",$cases," != *",$name,"* ]] && continue
      for i in "${!binaries[@]}"; do
        # A binary that does not know a setting (an older build) skips it.
        if [ "$ext" = - ]; then
          out=(--no-write)
        else
          out=(--out "$dir/f.####.$ext")
        fi
        # shellcheck disable=SC2086
        line=$(with_lib "${binaries[$i]}" render Bleb --size 1920x1080 \
                 --frames "0-$((frames - 1))" "${out[@]}" $extra --stats --quiet 2>/dev/null |
                 grep '^frames' || true)
        bytes=0
        [ "$ext" != - ] && bytes=$(stat -c %s "$dir/f.0000.$ext" 2>/dev/null || echo 0)
        rm -f "$dir"/f.*
        [ -z "$line" ] && continue
        fps=$(sed -n 's/.*sequence \([0-9.]*\) frames\/s.*/\1/p' <<<"$line")
        wms=$(sed -n 's/.*write \([0-9.]*\) ms\/frame.*/\1/p' <<<"$line")
        echo "$name $i $fps $wms $bytes" >>"$results"
      done
    done
    echo "round $r of $rounds done, load $(cut -d' ' -f1 /proc/loadavg)" >&2
  done
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  # This disk's own rate for each file size: as many files of that size as
  # the sequence has frames, written and synced two at a time with nothing
  # rendering beside (median of three runs), in files/s.
  disk_rates=$(mktemp)
  for bytes in $(awk '$5 > 0 { print $5 }' "$results" | sort -un); do
    rate=$(python3 - "$dir" "$bytes" "$frames" <<'PY'
import os, sys, threading, time
folder, size, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
data = os.urandom(size)
def write(first):
    for k in range(first, count, 2):
        path = os.path.join(folder, "disk.%d" % k)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.write(fd, data)
        os.fsync(fd)
        os.close(fd)
rates = []
for _ in range(3):
    start = time.monotonic()
    threads = [threading.Thread(target=write, args=(i,)) for i in (0, 1)]
    for t in threads: t.start()
    for t in threads: t.join()
    rates.append(count / (time.monotonic() - start))
    for k in range(count): os.unlink(os.path.join(folder, "disk.%d" % k))
print("%.2f" % sorted(rates)[1])
PY
)
    echo "$bytes $rate" >>"$disk_rates"
  done
  # The runs as measured (case, vorn, frames/s, write ms, bytes).
  sed 's/^/run: /' "$results" >&2
  # target: 0.8 of the lower of the --no-write rate and the disk's rate for
  # files of that size; "met" when the median sequence reaches it.
  printf '%-11s %4s %9s %9s %7s %9s %10s %9s %9s\n' case vorn median_fps best_fps ratio write_ms \
    file_MB disk_fps target
  awk 'FNR == NR { disk[$1] = $2; next }
       { key = $1 " " $2; fps[key, ++n[key]] = $3; w[key, n[key]] = $4; size[key] = $5
         if (!(key in seen)) { seen[key] = 1; order[++k] = key } }
       function median(a, key, c,   i, j, t, v) {
         for (i = 1; i <= c; ++i) v[i] = a[key, i]
         for (i = 1; i <= c; ++i) for (j = i + 1; j <= c; ++j) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
         return (c % 2) ? v[(c + 1) / 2] : (v[c / 2] + v[c / 2 + 1]) / 2 }
       function best(a, key, c,   i, m) { m = a[key, 1]; for (i = 2; i <= c; ++i) if (a[key, i] > m) m = a[key, i]; return m }
       END { for (i = 1; i <= k; ++i) { key = order[i]; split(key, f, " "); c = n[key]
               base = "nowrite " f[2]; nb = n[base]
               mf = median(fps, key, c); bf = nb ? median(fps, base, nb) : 0
               d = (size[key] in disk) ? disk[size[key]] : 0
               goal = 0.8 * ((d > 0 && d < bf) ? d : bf)
               printf "%-11s %4s %9.2f %9.2f %7.2f %9.2f %10.2f %9.2f %9s\n", f[1], f[2], mf,
                      best(fps, key, c), (bf > 0 ? mf / bf : 0), median(w, key, c), size[key] / 1e6,
                      d, (d > 0 ? sprintf("%.1f%s", goal, mf >= goal ? " met" : "") : "-") } }' \
    "$disk_rates" "$results"
  rm -f "$disk_rates"
  exit 0
fi

if [ "$mode" = model ]; then
  # Each run's "N cores: S× (E %)" lines go to the terminal with one round,
  # else into a table ("case cores speed-up efficiency") summed up at the end.
  modelled=$(mktemp)
  trap 'rm -f "$results" "$modelled"' EXIT
  echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  for ((r = 1; r <= rounds; ++r)); do
    for tool in ${tools//,/ }; do
      case $tool in
        bleb7 | blebcompress) args=(Bleb) ;;
        candle) args=(Candle) ;;
        bubbles) args=(Bubbles) ;;
      esac
      [ "$tool" = blebcompress ] && continue
      for size in 1920x1080 3840x2160; do
        for i in "${!binaries[@]}"; do
          name="${args[0]} $size vorn $i"
          # The chunks vorn would choose on 16 threads (VORN_CHUNK_THREADS),
          # or those of -n CHUNKS.
          if [ -n "$model_chunks" ]; then
            out=$(with_lib "${binaries[$i]}" render "${args[@]}" --size "$size" \
              --workers "$model_chunks" --frames "0-$((frames - 1))" --no-write --stats --quiet)
          else
            out=$(VORN_CHUNK_THREADS=16 with_lib "${binaries[$i]}" render "${args[@]}" \
              --size "$size" --frames "0-$((frames - 1))" --no-write --stats --quiet)
          fi
          if [ "$rounds" -eq 1 ]; then
            echo "== $name"
            grep -E 'cores:|^frames' <<<"$out"
          else
            grep -E '^[0-9]+ cores:' <<<"$out" |
              awk -v name="${name// /_}" '{ print name, $1, $3 + 0, substr($4, 2) + 0 }' \
                >>"$modelled"
          fi
        done
      done
    done
    [ "$rounds" -eq 1 ] || echo "round $r of $rounds done, load $(cut -d' ' -f1 /proc/loadavg)" >&2
  done
  if [ "$rounds" -gt 1 ]; then
    # Per case and core count: the median round's speed-up and efficiency,
    # and the least and greatest efficiency of the rounds.
    printf '%-26s %5s %9s %6s %9s\n' case cores speed-up median range
    sort -k1,1 -k2,2n -k4,4n "$modelled" |
      awk 'BEGIN { n = 0 }
           { key = $1 " " $2; if (key != last && n) flush(); last = key; name = $1; cores = $2;
             s[n] = $3; e[n] = $4; n++ }
           function flush(  m) { m = int((n - 1) / 2); gsub(/_/, " ", name);
             printf "%-26s %5d %8.1fx %5d%% %4d-%d%%\n", name, cores, s[m], e[m], e[0], e[n - 1]; n = 0 }
           END { if (n) flush() }'
  fi
  echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  exit 0
fi
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
