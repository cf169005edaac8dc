#!/usr/bin/env bash
# A one-node Slurm cluster on this machine, for the farm tests and for trying
# scripts/farm-submit.sh: munge, slurmctld and slurmd with a configuration in
# a folder of its own. Needs root and Debian's slurm-wlm and munge.
#
#   scripts/slurm-cluster.sh start DIR   # configure and start; prints the SLURM_CONF to export
#   scripts/slurm-cluster.sh stop DIR    # stop the daemons started from DIR
set -euo pipefail

action=${1:-}
dir=${2:-}
[[ -n "$action" && -n "$dir" ]] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
conf="$dir/slurm.conf"

stop() {
  # Jobs still running (a test that timed out) end with the cluster.
  if [[ -f "$conf" && -f "$dir/slurmctld.pid" ]]; then
    SLURM_CONF="$conf" timeout 10 scancel --user="$(id -un)" 2>/dev/null || true
    for _ in $(seq 30); do
      [[ -z "$(SLURM_CONF="$conf" timeout 5 squeue -h -t running 2>/dev/null)" ]] && break
      sleep 0.2
    done
  fi
  for name in slurmd slurmctld munged; do
    local pidfile="$dir/$name.pid"
    if [[ -f "$pidfile" ]]; then
      local pid
      pid=$(cat "$pidfile")
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
      rm -f "$pidfile"
    fi
  done
}

if [[ "$action" == stop ]]; then
  stop
  exit 0
fi
[[ "$action" == start ]] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

for tool in slurmctld slurmd munged sbatch; do
  command -v "$tool" >/dev/null || { echo "slurm-cluster: $tool is not installed (apt-get install slurm-wlm munge)" >&2; exit 3; }
done
[[ $(id -u) -eq 0 ]] || { echo "slurm-cluster: needs root to run slurmd" >&2; exit 3; }

host=$(hostname -s)
# The first pair of free ports from 6817 on, so a second cluster (another
# test run) or a machine's own Slurm is left alone.
port=6817
while ss -ltnH | awk '{ print $4 }' | grep -Eq ":($port|$((port + 1)))\$"; do
  port=$((port + 2))
  [[ $port -lt 6917 ]] || { echo "slurm-cluster: no free pair of ports from 6817 to 6916" >&2; exit 3; }
done
cpus=$(nproc)
memory=$(awk '/MemTotal/ { print int($2 / 1024 / 2) }' /proc/meminfo)
mkdir -p "$dir/state" "$dir/spool" "$dir/munge"

# munge: a key of its own and a socket in DIR, so a machine's own munge (if
# any) is left alone.
key="$dir/munge/munge.key"
[[ -f "$key" ]] || { dd if=/dev/urandom of="$key" bs=1024 count=1 status=none; chmod 400 "$key"; }
socket="$dir/munge/munge.socket"
munged --force --key-file="$key" --socket="$socket" --pid-file="$dir/munged.pid" \
  --log-file="$dir/munged.log" --seed-file="$dir/munge/munge.seed"

cat > "$conf" <<CONF
ClusterName=vorntest
SlurmctldHost=$host
SlurmUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$socket
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
SchedulerType=sched/backfill
SchedulerParameters=sched_interval=1
MessageTimeout=30
KillWait=2
InactiveLimit=0
MinJobAge=300
NodeName=$host CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP OverSubscribe=NO
CONF

export SLURM_CONF="$conf"
slurmctld -f "$conf"
slurmd -f "$conf"
for _ in $(seq 100); do
  if sinfo -h -o '%t' 2>/dev/null | grep -q '^idle'; then
    echo "SLURM_CONF=$conf"
    exit 0
  fi
  sleep 0.3
done
echo "slurm-cluster: the node did not become idle; see $dir/*.log" >&2
stop
exit 1
