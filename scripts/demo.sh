#!/usr/bin/env bash
# Builds vorn and the tools, then renders the demo: a short sequence of every
# tool's presets with built-in images, a contact sheet and, with ffmpeg, MP4s.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --demo
cmake --preset release
cmake --build --preset demo   # vorn, the tools and the page: no tests
out=${1:-demo}
build/release/bin/vorn demo --out "$out"
# The README's flow: a plate, a flame over it, bubbles over that.
build/release/bin/vorn render --comp examples/plate-flame-bubbles.flow.json --frames 1-24 \
  --out "$out/flow/comp.####.png"
cat <<EOF

The demo's pictures: $out/contact_sheet.png (one frame of each sequence),
the frames in $out/<sequence>/ and, where ffmpeg exists, $out/*.mp4; the
example flow's frames in $out/flow/.
Try the tools in the browser on one of them (open the URL it prints):
  build/release/bin/vorn serve Bleb --input "Input=$out/contact_sheet.png"
EOF
