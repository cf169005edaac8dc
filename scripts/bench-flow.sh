#!/usr/bin/env bash
# What a flow adds to its nodes' own render times at 1920x1080: renders two
# flows with `vorn render --comp FLOW --no-write --stats` and prints, per
# round, the wall time per frame, the sum of the nodes' times per frame and
# the difference (the flow's own work: ordering, connecting, bookkeeping).
#   A: Read -> Bleb -> Merge over <- Candle
#   B: Read -> Merge over <- Bubbles
#
#   scripts/bench-flow.sh [-r ROUNDS] [-f FRAMES] [VORN]
set -euo pipefail

rounds=3
frames=10
while getopts "r:f:" opt; do
  case $opt in
    r) rounds=$OPTARG ;;
    f) frames=$OPTARG ;;
    *) echo "usage: $0 [-r ROUNDS] [-f FRAMES] [VORN]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
root=$(cd "$(dirname "$0")/.." && pwd)
vorn=${1:-$root/build/release/bin/vorn}
work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-bench-flow.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The plate: Bleb's test card, a frame per flow frame, as lossless PNG.
"$vorn" render Bleb --size 1920x1080 --set "Amplitude 1=0.5" --frames "1-$frames" \
  --out plate/plate.####.png --quiet

shot="\"shot\": {\"first\": 1, \"last\": $frames, \"simulationStart\": 1}"
cat >a.flow.json <<JSON
{"format": "vorn flow", "version": 1, $shot,
 "nodes": [{"name": "Plate", "class": "Read", "file": "plate/plate.####.png"},
           {"name": "Warp", "class": "Bleb", "values": {"Amplitude 1": 0.8}},
           {"name": "Flame", "class": "Candle"},
           {"name": "Over", "class": "Merge"}],
 "connections": [{"from": "Plate", "to": "Warp", "input": "Input"},
                 {"from": "Warp", "to": "Over", "input": "B"},
                 {"from": "Flame", "to": "Over", "input": "A"}]}
JSON
cat >b.flow.json <<JSON
{"format": "vorn flow", "version": 1, $shot,
 "nodes": [{"name": "Plate", "class": "Read", "file": "plate/plate.####.png"},
           {"name": "Bubbles", "class": "Bubbles"},
           {"name": "Over", "class": "Merge"}],
 "connections": [{"from": "Plate", "to": "Over", "input": "B"},
                 {"from": "Bubbles", "to": "Over", "input": "A"}]}
JSON

for round in $(seq 1 "$rounds"); do
  for flow in a b; do
    "$vorn" render --comp "$flow.flow.json" --no-write --stats --quiet |
      awk -v flow="$flow" -v frames="$frames" -v round="$round" '
        /^flow / { wall = $(NF - 1) * 1000 }
        /^  node / { sum += $(NF - 1); nodes = nodes sprintf(" %s %.1f", $2, $(NF - 1) / frames) }
        END { printf "round %d flow %s: wall %.1f ms/frame, nodes %.1f ms/frame (%s ), flow %.2f ms/frame (%.1f %%)\n",
                     round, flow, wall / frames, sum / frames, nodes, (wall - sum) / frames,
                     100 * (wall - sum) / sum }'
  done
done
