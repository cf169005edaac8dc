#!/usr/bin/env bash
# Builds vorn and the tools, then renders the demo: a short sequence of every
# tool's presets with built-in images, a contact sheet and, with ffmpeg, MP4s.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --demo
cmake --preset release
cmake --build --preset release
build/release/bin/vorn demo --out "${1:-demo}"
