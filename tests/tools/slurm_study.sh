#!/usr/bin/env bash
# The study tool against a real Slurm: starts a one-node cluster on this
# machine (munged, slurmctld, slurmd, all in a temporary folder, on free
# ports), submits a small study as a job array with `pdpcell-study slurm`,
# waits for it, and checks that `collect` and `report` give the same tables
# as the local runner. Stops every daemon it started.
#
#   tests/tools/slurm_study.sh [PDPCELL_BINARY]     (default build/pdpcell)
#
# Needs root (the daemons run as root here) and Debian's slurm-wlm and munge,
# which scripts/install-slurm.sh installs; without them it says why and skips.
set -euo pipefail
SOURCE="$(cd "$(dirname "$0")/../.." && pwd)"
BINARY="$(realpath "${1:-$SOURCE/build/pdpcell}")"
TOOL="$SOURCE/tools/pdpcell-study"
WAIT_S=${SLURM_TEST_WAIT_S:-900}

skip() { echo "SKIPPED: Slurm study test: $*"; exit 0; }
[ "$(id -u)" -eq 0 ] || skip "it must run as root to start slurmctld, slurmd and munged"
[ -x "$BINARY" ] || { echo "FAILED: no pdpcell binary at $BINARY"; exit 1; }
if ! bash "$SOURCE/scripts/install-slurm.sh" >/tmp/slurm-install.$$.log 2>&1; then
  cat /tmp/slurm-install.$$.log
  skip "Debian's slurm-wlm and munge could not be installed (log above)"
fi
rm -f /tmp/slurm-install.$$.log

T="$(mktemp -d /tmp/slurm-study.XXXXXX)"
chmod 755 "$T"
pids=()
cleanup() {
  local rc=$?
  command -v scancel >/dev/null && [ -n "${JOB:-}" ] && scancel "$JOB" 2>/dev/null || true
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.1; done
    kill -9 "${pids[i]}" 2>/dev/null || true
  done
  if [ $rc -ne 0 ]; then
    for log in "$T"/munged.log "$T"/slurmctld.log "$T"/slurmd.log; do
      [ -f "$log" ] && { echo "---- $log (last lines)"; tail -n 25 "$log"; }
    done
  fi
  rm -rf "$T"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
wait_for() {   # seconds, description, command...
  local limit=$1 what=$2; shift 2
  for _ in $(seq $((limit * 5))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  echo "FAILED: $what did not happen within ${limit} s"; return 1
}

# MUNGE: its own key and socket, so nothing of the machine's is touched.
mkdir -m 700 "$T/munge"
dd if=/dev/urandom of="$T/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$T/munge/munge.key"
munged --foreground --force --socket="$T/munge/munge.sock" --key-file="$T/munge/munge.key" \
  --pid-file="$T/munge/munged.pid" --log-file="$T/munged.log" --seed-file="$T/munge/seed" 2>>"$T/munged.log" &
pids+=($!)
wait_for 20 "munged start" munge -n -S "$T/munge/munge.sock"

NODE="$(hostname -s)"
MEM=$(( $(awk '/MemTotal/ {print $2}' /proc/meminfo) / 2048 ))
mkdir -p "$T/state" "$T/spool"
cat > "$T/slurm.conf" <<CONF
ClusterName=pdpstudy
SlurmctldHost=$NODE(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$T/munge/munge.sock
StateSaveLocation=$T/state
SlurmdSpoolDir=$T/spool
SlurmctldPidFile=$T/slurmctld.pid
SlurmdPidFile=$T/slurmd.pid
SlurmctldLogFile=$T/slurmctld.log
SlurmdLogFile=$T/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU_Memory
SchedulerType=sched/builtin
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
MaxArraySize=1000
NodeName=$NODE NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=$MEM State=UNKNOWN
PartitionName=study Nodes=$NODE Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$T/slurm.conf"
# in the foreground, so that their ids are ours to stop; their output goes to their logs
slurmctld -D -i -f "$SLURM_CONF" 2>>"$T/slurmctld.log" &
pids+=($!)
wait_for 30 "slurmctld answering" scontrol ping
slurmd -D -f "$SLURM_CONF" -N "$NODE" 2>>"$T/slurmd.log" &
pids+=($!)
node_idle() { sinfo -h -n "$NODE" -o %t | grep -qx idle; }
wait_for 60 "node $NODE idle" node_idle

# The same small study twice: once by the local runner, once as a job array.
for where in local slurm; do
  cat > "$T/$where.toml" <<STUDY
[study]
name = "slurm-check"
base = "$SOURCE/examples/sustain"
output = "$T/out-$where"
[run]
max_steps = 1300
options = ["--quiet", "--progress-every", "0"]
delete = ["SUSTAIN_STATE.txt"]
[vary]
voltage = [160, 180]
seeds = {first = 1100, count = 2}
[analysis]
fire_ions = 50
STUDY
done
"$TOOL" run "$T/local.toml" --jobs 2 --binary "$BINARY"
JOB=$("$TOOL" slurm "$T/slurm.toml" --binary "$BINARY" --time 00:10:00 --mem 400M --cpus 1)
echo "job array $JOB submitted"
job_gone() { [ -z "$(squeue -h -j "$JOB" 2>/dev/null)" ]; }
wait_for "$WAIT_S" "job array $JOB finishing" job_gone
"$TOOL" status "$T/slurm.toml" --binary "$BINARY"

"$TOOL" report "$T/local.toml" --binary "$BINARY" >/dev/null
"$TOOL" report "$T/slurm.toml" --binary "$BINARY" >/dev/null
fail=0
tasks=$(ls "$T/out-slurm/slurm"/task-*.out 2>/dev/null | wc -l)
[ "$tasks" -eq 4 ] || { echo "FAILED: $tasks task outputs, not 4"; fail=1; }
grep -q ',done,0,pulses,1$' "$T/out-slurm/runs.csv" || { echo "FAILED: no finished run in the Slurm study"; fail=1; }
for table in runs.csv all_pulses.csv report/firing.csv report/delays.csv report/margins.csv; do
  if ! cmp -s "$T/out-local/$table" "$T/out-slurm/$table"; then
    echo "FAILED: $table differs between the local and the Slurm study"
    diff "$T/out-local/$table" "$T/out-slurm/$table" || true
    fail=1
  fi
done
[ $fail -eq 0 ] && echo "PASSED: Slurm job array of 4 runs; collect and report equal the local runner's"
exit $fail
