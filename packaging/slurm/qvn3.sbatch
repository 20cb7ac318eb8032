#!/bin/bash
# The Quorvane client as a preemptible, requeueable batch job: it works units while the node is idle, ends
# cleanly when the job is told to stop (its queue saved whole) and comes back later to resume its unit.
#
#   sbatch -p scavenger qvn3.sbatch                 one node
#   sbatch -p scavenger --array=1-64 qvn3.sbatch    many (one client per job; up to four per node)
#
# Each job works in a directory that persists per node, QVN3_ROOT/<node>/<N>, where N (1 to 4) is the first
# slot of the node no other job holds and the client's machine ID; the clients of one node share the user
# ID its first job obtains. Variables (sbatch passes the submitter's environment on):
#   QVN3_ROOT     the root of the nodes' directories, node-local by default: /var/tmp/qvn3
#   QVN3_SEED     the seed configuration copied into a new directory: /etc/qvn3/client.cfg
#   QVN3_PROGRAM  the client: qvn3 (from PATH)
#   QVN3_LIBEXEC  the client's helpers, qvn3-seed and qvn3-prepare: /usr/libexec/qvn3
#
#SBATCH --job-name=qvn3
#SBATCH --ntasks=1
# the processors the core uses
#SBATCH --cpus-per-task=1
# SIGTERM to the client two minutes before the time limit's kill. (Not B:, to this script: that signal goes
# to every process of the batch step, srun among them, and srun answers a SIGTERM by killing the step.)
#SBATCH --signal=TERM@120
#SBATCH --requeue
# a requeued run writes on after the earlier ones
#SBATCH --open-mode=append
#SBATCH --output=qvn3-%j.out
set -u
root=${QVN3_ROOT:-/var/tmp/qvn3}
seed=${QVN3_SEED:-/etc/qvn3/client.cfg}
program=${QVN3_PROGRAM:-qvn3}
libexec=${QVN3_LIBEXEC:-/usr/libexec/qvn3}
node=${SLURMD_NODENAME:-$(hostname -s)}
say() { echo "qvn3.sbatch: $(date +%s.%N) $*"; }

umask 077
mkdir -p "$root/$node" || exit 1
# The first free slot: its lock is held by this script for the whole run (file descriptor 8).
slot=
for n in 1 2 3 4; do
  exec 8>>"$root/$node/slot-$n.lock"
  if flock -n 8; then slot=$n; break; fi
  exec 8>&-
done
if [ -z "$slot" ]; then
  say "all four slots of $node are taken; nothing to do"
  exit 0
fi
dir=$root/$node/$slot
mkdir -p "$dir" && cd "$dir" || exit 1
"$libexec/qvn3-seed" "$dir" "$seed" || exit 1
say "job ${SLURM_JOB_ID:-?} (restart ${SLURM_RESTART_COUNT:-0}) runs the client in $dir"

# The client runs as the job's step, which is what Slurm signals: preemption sends it SIGCONT and SIGTERM at
# once (SIGKILL after the partition's GraceTime), the time limit SIGTERM two minutes early (--signal above).
# A SIGTERM sent to this script alone (kill on the node) is passed on. On SIGTERM the client's queue is
# already whole on disk: it ends with status 0, or srun reports it ended by the SIGTERM (143) when Slurm
# also ends the step; the job is then requeued to resume its unit. (No trap on SIGCONT: Slurm sends it with
# the SIGTERM, and a trap on it races with the one on SIGTERM.)
signals=0
# (To the step through Slurm: srun itself answers SIGTERM by killing the step.)
trap 'signals=$((signals + 1)); say "SIGTERM: stopping the client"
      scancel --signal=TERM "${SLURM_JOB_ID:-}" 2>/dev/null || kill -TERM "$client" 2>/dev/null' TERM
srun --ntasks=1 --cpus-per-task="${SLURM_CPUS_PER_TASK:-1}" "$libexec/qvn3-prepare" "$slot" "$program" \
  </dev/null &
client=$!
while :; do
  seen=$signals
  wait "$client"
  status=$?
  # A wait that a trapped signal broke returns 128+15 whatever the client did: wait again, which gives the
  # client's own status once it has ended (the shell keeps it).
  [ "$signals" = "$seen" ] && break
done
say "client ended with status $status"
if [ "$status" -eq 0 ] || [ "$status" -eq 143 ]; then
  # The client ends so only when told to stop: the job asks to be requeued (a preempted one would be at the
  # grace time's end; this is sooner).
  scontrol requeue "${SLURM_JOB_ID:-}" >/dev/null 2>&1 || true
  exit 0
fi
# Any other end is a failure: the job ends with the client's status and is not requeued, so a broken node or
# configuration cannot loop for ever.
exit "$status"
