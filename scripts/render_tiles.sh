#!/usr/bin/env bash
# Replaces the placeholder tile of each tool that exists by a small render of it
# (116 x 87, written as the 32-bit bitmap the libraries embed). Run after a build.
set -euo pipefail
cd "$(dirname "$0")/.."
vorn=${VORN:-build/release/bin/vorn}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if "$vorn" tools | grep -q BlebPlugIn; then
  "$vorn" --quiet render Bleb --size 116x87 --set "Amplitude 1=3" --set "Amplitude 3=3" \
    --set "Amplitude 5=3" --set "Angle 3=120" --set "Angle 5=-120" --set "Sharp 1=3" \
    --set "Sharp 3=3" --set "Sharp 5=3" --set "Scale=0.8" --out "$tmp/bleb.png"
  python3 scripts/png_to_bmp.py "$tmp/bleb.png" resources/bleb.bmp
fi
if "$vorn" tools | grep -q CandlePlugIn; then
  # "Turb1-Soft" in a light breeze over the built-in background.
  "$vorn" --quiet render Candle --size 116x87 --set "Demos=2" --set "Wind Speed=10" \
    --out "$tmp/candle.png"
  python3 scripts/png_to_bmp.py "$tmp/candle.png" resources/candle.bmp
fi
if "$vorn" tools | grep -q BubblesPlugIn; then
  # "Basic Bubbles" after its preroll, larger and born higher to fill the tile.
  "$vorn" --quiet render Bubbles --size 116x87 --set "Demos=1" --set "Bubble Size=24" \
    --set "Bubble Quantity=2" --set "XY Left Source=0.05,0.2" --set "XY Right Source=0.95,0.2" \
    --set "Preroll Bubbles=1" --out "$tmp/bubbles.png"
  python3 scripts/png_to_bmp.py "$tmp/bubbles.png" resources/bubbles.bmp
fi
