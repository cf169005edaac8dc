#!/usr/bin/env bash
# Browser tests of `vorn serve`: installs the page's npm packages, builds the
# page and the tests with tsc, starts `vorn serve` on a free port and drives
# it with headless chromium through playwright-core. Skips (exit 0) with a
# message only when chromium cannot start here.
#   scripts/test-browser.sh [BUILD_DIR]           (default build/release)
#   scripts/test-browser.sh --bench [BUILD_DIR]   change-to-screen latency at
#                                                 1280 x 720 instead of the tests
# VORN_SCREENSHOTS=DIR saves a picture of each tool's page there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bench=0
if [[ "${1:-}" == "--bench" ]]; then
  bench=1
  shift
fi
build=${1:-build/release}
scripts/deps.sh --browser
vorn="$build/bin/vorn"
[[ -x "$vorn" ]] || { echo "test-browser: $vorn is not built" >&2; exit 1; }
chromium=${CHROMIUM:-/usr/bin/chromium}
if [[ ! -x "$chromium" ]]; then
  echo "test-browser: SKIPPED: no chromium at $chromium (apt-get install chromium)"
  exit 0
fi
command -v npm >/dev/null || { echo "test-browser: npm is needed" >&2; exit 1; }

(cd web && npm ci --no-audit --no-fund --loglevel=error && npx tsc -p tsconfig.json &&
  npx tsc -p tests/tsconfig.json)

work=$(mktemp -d)
server=""
cleanup() {
  # The server ends by the signal: its status is not the tests' outcome.
  if [[ -n "$server" ]]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Chromium must start headless here; where it cannot (no kernel support, a
# broken install) the tests are skipped, not failed.
if ! timeout 60 "$chromium" --headless=new --no-sandbox --disable-gpu \
    --disable-background-networking --disable-component-update --disable-sync --no-first-run \
    --user-data-dir="$work/profile" --dump-dom about:blank >"$work/probe.txt" 2>&1; then
  echo "test-browser: SKIPPED: chromium cannot start headless here:"
  tail -n 5 "$work/probe.txt"
  exit 0
fi

mkdir "$work/shot"
(cd "$work/shot" && exec "$root/$vorn" --plugins "$root/$build/lib/vorn" serve \
  --web "$root/web" --frames 0-48 --size 1280x720 >"$work/serve.out" 2>"$work/serve.err") &
server=$!
url=""
for _ in $(seq 1 100); do
  url=$(grep -o 'http://127.0.0.1:[0-9]*/?token=[0-9a-f]*' "$work/serve.out" || true)
  [[ -n "$url" ]] && break
  kill -0 "$server" 2>/dev/null || { cat "$work/serve.err" >&2; exit 1; }
  sleep 0.1
done
[[ -n "$url" ]] || { echo "test-browser: vorn serve printed no URL" >&2; exit 1; }

status=0
if [[ $bench -eq 1 ]]; then
  echo "machine: $(nproc) hardware threads; workers per render: ${NUM_PROC_VORN:-$(nproc)}"
  VORN_URL="$url" node web/tests/dist/latency.bench.js || status=$?
else
  VORN_URL="$url" node web/tests/dist/serve.test.js || status=$?
fi
if [[ $status -ne 0 ]]; then
  echo "-- vorn serve's messages:"
  cat "$work/serve.err"
fi
exit $status
