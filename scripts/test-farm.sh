#!/usr/bin/env bash
# Renders on a one-node Slurm cluster started for the test and checks that the
# farm gives what one local run gives:
#  - job arrays through scripts/farm-submit.sh: Candle 24 frames at 320 x 180
#    in 4 tasks, a Bubbles shot in 3 chunks, a Bleb sequence whose frames come
#    from its input files on disk; every frame byte-identical to a local run,
#    and each array's check task ends well;
#  - a task requeued while it renders (its vorn is killed) finishes the frames
#    left with --skip-existing, still byte-identical;
#  - the check task fails and names the frame when one is missing.
# Prints the local and the farm wall times and the scheduler's time per task.
# Skips, saying why, only where Slurm cannot start (not installed, not root,
# daemons that do not come up). The cluster is stopped however the test ends.
#
#   scripts/test-farm.sh [BUILD_DIR]     (default build/release)
#   KEEP=1 keeps the work folder (printed) for a look afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
vorn=$build/bin/vorn
limit=${FARM_TIMEOUT:-600}  # seconds any one wait may take

skip() {
  echo "test-farm: SKIPPED: $*" >&2
  exit 0
}
fail() {
  echo "test-farm: FAILED: $*" >&2
  exit 1
}
say() { echo "test-farm: $*"; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

[[ -x "$vorn" ]] || fail "no vorn at $vorn; build first (cmake --build --preset release)"
for tool in munged slurmctld slurmd sbatch squeue scontrol scancel; do
  command -v "$tool" >/dev/null ||
    skip "Slurm cannot start here: $tool is not installed (apt-get install slurm-wlm munge)"
done
[[ $(id -u) -eq 0 ]] || skip "Slurm cannot start here: slurmd needs root, and this is $(id -un)"

work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-farm.XXXXXX")
cluster=$work/cluster
cleanup() {
  "$root/scripts/slurm-cluster.sh" stop "$cluster" >/dev/null 2>&1 || true
  if [[ -n "${KEEP:-}" ]]; then echo "test-farm: kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! started=$("$root/scripts/slurm-cluster.sh" start "$cluster" 2>&1); then
  echo "$started" >&2
  tail -n 5 "$cluster"/*.log 2>/dev/null >&2 || true
  skip "Slurm cannot start here: the one-node cluster did not come up (see above)"
fi
export SLURM_CONF=$cluster/slurm.conf
say "cluster up: $SLURM_CONF"

export VORN=$vorn LOG_DIR=$work/logs CPUS_PER_TASK=1
unset NUM_PROC_VORN
cd "$work"

# The job's state and exit code once it has left the queue.
job_field() { scontrol show job "$1" 2>/dev/null | tr ' ' '\n' | sed -n "s/^$2=//p" | head -n 1; }

# Waits until none of the jobs is pending or running.
wait_jobs() {
  local start=$SECONDS
  while [[ -n "$(squeue -h -j "$(IFS=,; echo "$*")" 2>/dev/null)" ]]; do
    [[ $((SECONDS - start)) -lt $limit ]] || fail "jobs $* still queued after $limit s: $(squeue)"
    sleep 0.2
  done
}

# Every task of an array (and a check job) completed with exit code 0.
expect_completed() {
  local id=$1 states
  states=$(scontrol show job "$id" 2>/dev/null | tr ' ' '\n' | sed -n 's/^JobState=//p' | sort -u)
  [[ "$states" == COMPLETED ]] || fail "job $id ended $(echo $states); logs in $LOG_DIR"
}

same_files() {  # same_files DIR-A DIR-B: the same names with the same bytes
  local a=$1 b=$2
  diff <(cd "$a" && ls) <(cd "$b" && ls) >/dev/null || fail "$a and $b hold different files"
  for f in "$a"/*; do
    cmp -s "$f" "$b/$(basename "$f")" || fail "$(basename "$f") differs between $a and $b"
  done
}

candle=(Candle --size 320x180 --frames 1-24)
bubbles=(Bubbles --size 320x180 --set "Preroll Bubbles=1" --frames 0-17)
bleb=(Bleb --set "Amplitude 1=0@1,1.5@24" --input "Input=$work/plates/plate.#.png")

mkdir -p plates local/candle local/bubbles local/bleb local/slow farm/candle farm/bubbles \
  farm/bleb farm/slow farm/broken
# The Bleb sequence's plates, then one local run of every render.
"$vorn" render -q Candle --size 320x180 --frames 1-24 --preset 1 --out plates/plate.#.png
t0=$(now)
"$vorn" render -q "${candle[@]}" --out local/candle/c.#.png
"$vorn" render -q "${bubbles[@]}" --out local/bubbles/b.#.png
"$vorn" render -q "${bleb[@]}" --out local/bleb/w.#.png
t1=$(now)
local_wall=$(elapsed "$t0" "$t1")
[[ $(ls local/bleb | wc -l) -eq 24 ]] || fail "the Bleb render did not take its frames from the plates"

# submit NAME CHUNKS [SBATCH... --] ARGS: sets NAME_array and NAME_check.
submit() {
  local name=$1 out
  shift
  out=$("$root/scripts/farm-submit.sh" "$@") || fail "farm-submit.sh $* failed"
  printf -v "${name}_array" '%s' "$(awk '$1 == "array" { print $2 }' <<<"$out")"
  printf -v "${name}_check" '%s' "$(awk '$1 == "check" { print $2 }' <<<"$out")"
}
t0=$(now)
submit candle 4 "${candle[@]}" --out farm/candle/c.#.png
submit bubbles 3 "${bubbles[@]}" --out farm/bubbles/b.#.png
submit bleb 3 "${bleb[@]}" --out farm/bleb/w.#.png
wait_jobs "$candle_array" "$bubbles_array" "$bleb_array" "$candle_check" "$bubbles_check" "$bleb_check"
t1=$(now)
farm_wall=$(elapsed "$t0" "$t1")
for id in "$candle_array" "$candle_check" "$bubbles_array" "$bubbles_check" "$bleb_array" "$bleb_check"; do
  expect_completed "$id"
done
grep -q '(6 of 6, 100%' "$LOG_DIR/render-$candle_array-1.log" ||
  fail "no progress line with a percentage in $LOG_DIR/render-$candle_array-1.log"
same_files local/candle farm/candle
same_files local/bubbles farm/bubbles
same_files local/bleb farm/bleb
say "arrays: 24 Candle frames in 4 tasks, 18 Bubbles frames in 3, 24 Bleb frames in 3: byte-identical"

# A task killed while it renders and requeued resumes with the frames left.
slow=(Candle --size 960x540 --frames 1-40)
"$vorn" render -q "${slow[@]}" --out local/slow/s.#.png
submit slow 2 "${slow[@]}" --out farm/slow/s.#.png
start=$SECONDS
until [[ $(ls farm/slow 2>/dev/null | grep -c '^s\.00[01][0-9]\.png$') -ge 3 ]]; do
  [[ $((SECONDS - start)) -lt $limit ]] || fail "task 1 of the slow array wrote no frame in $limit s"
  sleep 0.1
done
scontrol requeue "${slow_array}_1"
say "requeued task 1 of job $slow_array while it rendered"
# A requeued job waits for its begin time; let it start now, but only once
# the killed run has ended and a second has passed: the scheduler refuses to
# launch a job again within the second its credential was revoked, and
# fails it.
log=$LOG_DIR/render-$slow_array-1.log
start=$SECONDS
until grep -q 'interrupted by SIGTERM' "$log" 2>/dev/null &&
  [[ "$(job_field "${slow_array}_1" JobState)" == PENDING ]]; do
  [[ $((SECONDS - start)) -lt $limit ]] || fail "the requeued task did not stop in $limit s; see $log"
  sleep 0.1
done
sleep 2
scontrol update jobid="${slow_array}_1" starttime=now 2>/dev/null || true
wait_jobs "$slow_array" "$slow_check"
expect_completed "$slow_array"
expect_completed "$slow_check"
grep -q 'interrupted by SIGTERM' "$log" || fail "task 1 was not stopped by the requeue; see $log"
grep -q 'frames are written already (--skip-existing)' "$log" ||
  fail "the requeued task did not resume with --skip-existing; see $log"
same_files local/slow farm/slow
say "a requeued task resumed: $(grep -o '[0-9]* of [0-9]* frames are written already' "$log")"

# The check task fails when a frame is missing: a folder where frame 3 goes,
# made once the job is queued (vorn refuses such a request at submission),
# makes task 1 refuse its frames.
submit broken 2 --hold -- Candle --size 64x36 --frames 1-6 --out farm/broken/b.#.png
mkdir farm/broken/b.0003.png
scontrol release "$broken_array" "$broken_check"
wait_jobs "$broken_array" "$broken_check"
[[ "$(job_field "$broken_check" JobState)" == FAILED ]] ||
  fail "the check job ended $(job_field "$broken_check" JobState) with a frame missing"
grep -qx 'farm/broken/b.0003.png' "$LOG_DIR/check-$broken_array.log" ||
  fail "the check job did not name the missing frame; see $LOG_DIR/check-$broken_array.log"
say "the check job failed and named the missing frame"

# The scheduler's time per task: an array of tasks that do nothing.
t0=$(now)
empty=$(sbatch --parsable --array=1-16 --cpus-per-task=1 --output=/dev/null --wrap=true)
wait_jobs "${empty%%;*}"
t1=$(now)
empty_wall=$(elapsed "$t0" "$t1")
slots=$(sinfo -h -o %c | head -n 1)
say "local: $local_wall s for 66 frames; farm: $farm_wall s (3 arrays, 10 tasks, $slots CPUs, 1 per task)"
say "scheduler: 16 empty tasks in $empty_wall s on $slots CPUs:" \
  "$(awk -v w="$empty_wall" -v s="$slots" 'BEGIN { printf "%.2f", w * s / 16 }') s per task"
say "passed"
