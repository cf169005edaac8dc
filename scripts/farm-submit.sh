#!/usr/bin/env bash
# Submits a `vorn render` as a Slurm job array of N chunks, then a final task
# that checks every frame of the job was written.
#
#   scripts/farm-submit.sh N [sbatch options --] VORN-RENDER-ARGUMENTS...
#
# Each array task renders one contiguous chunk of the frame list
# (`--chunk K/N`), leaving frames that already exist (`--skip-existing`), so a
# requeued task resumes where it stopped. A tool whose frames depend on the
# frames before (Bubbles) simulates each chunk from the shot's first frame, so
# every chunk gives the bytes one long run gives. A flow (`--comp FLOW`)
# renders the same way, every output of a frame in the frame's chunk. The check task runs after
# the array, whatever its end, lists any missing frame and fails if one is.
# Prints the array's job id and the check's job id. Never more chunks than
# frames; RENDER-ARGUMENTS may not hold --chunk or the output listing options.
#
# Environment: VORN (the vorn binary; default: vorn on PATH, else the build
# tree's), CPUS_PER_TASK (default 2), LOG_DIR (default ./farm-logs).
set -euo pipefail

usage() {
  echo "usage: $0 CHUNKS [SBATCH-OPTIONS... --] VORN-RENDER-ARGUMENTS..." >&2
  exit 2
}
[[ $# -ge 2 ]] || usage
chunks=$1
shift
[[ "$chunks" =~ ^[1-9][0-9]*$ ]] || { echo "farm-submit: CHUNKS must be a positive whole number, not '$chunks'" >&2; exit 2; }

sbatch_options=()
if printf '%s\n' "$@" | grep -qx -- '--'; then
  while [[ $# -gt 0 && "$1" != "--" ]]; do sbatch_options+=("$1"); shift; done
  shift
fi
[[ $# -ge 1 ]] || usage

vorn=${VORN:-}
if [[ -z "$vorn" ]]; then
  vorn=$(command -v vorn || true)
  [[ -n "$vorn" ]] || vorn="$(cd "$(dirname "$0")/.." && pwd)/build/release/bin/vorn"
fi
[[ -x "$vorn" ]] || { echo "farm-submit: no vorn binary at '$vorn' (set VORN)" >&2; exit 2; }
command -v sbatch >/dev/null || { echo "farm-submit: sbatch not found (is Slurm installed?)" >&2; exit 2; }

for a in "$@"; do
  case "$a" in
    --chunk | --chunk=* | --list-outputs | --list-frames | --check-outputs | --no-write)
      echo "farm-submit: leave out $a; each task gets its own --chunk" >&2
      exit 2
      ;;
  esac
done

# Refuse a request vorn refuses before anything is queued; never more chunks
# than frames. Frames, not files: a flow with two Write nodes writes two
# files a frame.
frames=$("$vorn" render "$@" --list-frames | wc -l)
[[ $frames -ge 1 ]] || { echo "farm-submit: the request names no frame" >&2; exit 2; }
if [[ $chunks -gt $frames ]]; then
  echo "farm-submit: $frames frames: $frames chunks, not $chunks" >&2
  chunks=$frames
fi

log_dir=${LOG_DIR:-farm-logs}
mkdir -p "$log_dir"
cpus=${CPUS_PER_TASK:-2}

# The command line never passes through a shell's parser: it is stored as
# bytes, NUL-separated, in a file of the log folder (which every node sees),
# and a bash job script reads it back into an array, so any byte of a name
# (quotes, $(...), backticks, newlines, non-ASCII in any locale) reaches vorn
# as given. The job script's own arguments reach it through sbatch unparsed.
args_file=$(mktemp "$log_dir/args-XXXXXX")
printf '%s\0' "$vorn" render "$@" >"$args_file"
args_file=$(cd "$(dirname "$args_file")" && pwd -P)/$(basename "$args_file")
job_script=$(mktemp "${TMPDIR:-/tmp}/vorn-task.XXXXXX")
trap 'rm -f "$job_script"' EXIT
cat >"$job_script" <<'EOF'
#!/bin/bash
# One task of a vorn farm job: $1 holds vorn's command line (NUL-separated);
# $2 is "check" for the check task, else the chunk count of the array.
set -euo pipefail
mapfile -d '' -t argv <"$1"
if [[ $2 == check ]]; then
  exec "${argv[@]}" --check-outputs
fi
exec "${argv[@]}" --chunk "$SLURM_ARRAY_TASK_ID/$2" --skip-existing
EOF

# A requeued task appends to its log, so the first attempt's lines stay.
array_id=$(sbatch --parsable --array="1-$chunks" --cpus-per-task="$cpus" --requeue \
  --open-mode=append --job-name=vorn-render --output="$log_dir/render-%A-%a.log" \
  "${sbatch_options[@]}" "$job_script" "$args_file" "$chunks")
array_id=${array_id%%;*}

check_id=$(sbatch --parsable --dependency="afterany:$array_id" --job-name=vorn-check \
  --output="$log_dir/check-$array_id.log" "${sbatch_options[@]}" "$job_script" "$args_file" check)
check_id=${check_id%%;*}
echo "array $array_id"
echo "check $check_id"
