#!/usr/bin/env bash
# The Slurm health check through a real single-node Slurm of Debian's packages: munged,
# slurmctld and slurmd started here as root, with their state in a temporary folder, the node
# replaying a machine through kfdsim. A node that matches its reference stays IDLE; once its
# machine carries a fault, the next health check drains it, with kfdtopo-diff's finding as the
# reason. The daemons are stopped by their process ids; nothing is left running.
# Usage: slurm_test.sh <bin dir> <health check script> <tests/data>
# Exit 77 (skipped) where Slurm's packages are missing or the test does not run as root.
set -euo pipefail
bin=$1 healthcheck=$2 data=$3
plant=$(cd "$(dirname "$0")" && pwd)/plant.py
for program in munged slurmctld slurmd scontrol sinfo; do
    if ! command -v "$program" >/dev/null && [ ! -x "/usr/sbin/$program" ]; then
        echo "skipped: $program is not installed (scripts/setup.sh installs Slurm's packages)"
        exit 77
    fi
done
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: Slurm's daemons start as root, and this runs as $(id -un)"
    exit 77
fi
export PATH=/usr/sbin:$PATH

work=$(mktemp -d)
chmod 755 "$work"
pids=()
stop() {
    # slurmd first, munged last.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        while kill -0 "${pids[i]}" 2>/dev/null; do sleep 0.1; done
    done
    rm -rf "$work"
}
trap stop EXIT
fail() {
    echo "$1"
    for log in "$work"/*.log; do
        [ ! -f "$log" ] || { echo "--- $log"; tail -n 15 "$log"; }
    done
    exit 1
}

# The machines: a good one, and one whose GPU lost its hive.
"$bin/kfdtopo-replay" "$data/captures/mi210-x8-2socket" kfdtopo-export "$work/full.json"
python3 "$plant" "$work/full.json" "$work/reference.json" lean
python3 "$plant" "$work/full.json" "$work/good.json" lean identities:3
python3 "$plant" "$work/full.json" "$work/faulty.json" lean identities:3 set:c3:HiveID:0
cp "$work/good.json" "$work/machine.json"
expected=$("$bin/kfdtopo-diff" "$work/reference.json" "$work/faulty.json" | head -n 1) || true

# Free ports above 1024, chosen from this process's id so that parallel runs keep apart.
port=$((20000 + ($$ % 20000)))
node=kfdnode
# slurmd runs the health check with an environment of its own: a wrapper sets ours.
cat >"$work/healthcheck" <<WRAPPER
#!/bin/sh
echo run >>"$work/healthcheck.runs"
export SLURM_CONF=$work/slurm.conf
export KFDTOPO_REFERENCE=$work/reference.json
export KFDTOPO_DIFF="$bin/kfdtopo-replay $work/machine.json kfdtopo-diff"
export KFDTOPO_NODE=$node
export KFDTOPO_HEALTHCHECK_DEFAULTS=/nonexistent
exec "$healthcheck" 2>>"$work/healthcheck.log"
WRAPPER
chmod +x "$work/healthcheck"
mkdir -p "$work/state" "$work/spool"
cat >"$work/slurm.conf" <<CONF
ClusterName=kfdtopo
SlurmctldHost=$(hostname -s)(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge.socket
CredType=cred/munge
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
MpiDefault=none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ReturnToService=2
HealthCheckProgram=$work/healthcheck
HealthCheckInterval=2
NodeName=$node NodeAddr=127.0.0.1 NodeHostname=$(hostname -s) CPUs=1 State=UNKNOWN
PartitionName=gpu Nodes=$node Default=YES State=UP
CONF
export SLURM_CONF=$work/slurm.conf

dd if=/dev/urandom of="$work/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge.key"
munged --foreground --force --key-file="$work/munge.key" --socket="$work/munge.socket" \
    --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge.seed" >>"$work/munged.out.log" 2>&1 &
pids+=($!)
slurmctld -D -i -f "$work/slurm.conf" >>"$work/slurmctld.out.log" 2>&1 &
pids+=($!)
slurmd -D -N "$node" -f "$work/slurm.conf" >>"$work/slurmd.out.log" 2>&1 &
pids+=($!)

# Waits up to 30 s for the node's state and reason to match.
wait_for() {
    local want=$1 state
    for _ in $(seq 300); do
        state=$(sinfo -h -n "$node" -o '%T|%E' 2>/dev/null || true)
        [[ "$state" != $want ]] || return 0
        sleep 0.1
    done
    fail "node $node: state \"$state\", expected $want"
}
runs() { wc -l <"$work/healthcheck.runs" 2>/dev/null || echo 0; }

wait_for 'idle|none'
before=$(runs)
for _ in $(seq 300); do
    [ "$(runs)" -le "$((before + 1))" ] || break
    sleep 0.1
done
[ "$(runs)" -gt "$((before + 1))" ] || fail "the health check did not run again"
wait_for 'idle|none'

cp "$work/faulty.json" "$work/machine.json"
wait_for "drained|kfdtopo-diff: $expected (1 difference)"
echo "Slurm: a matching node stays idle, a faulty one drains with \"$expected\""
