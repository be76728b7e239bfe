#!/usr/bin/env bash
# Runs the Slurm job scripts of cluster/slurm on a real one-node cluster
# started here: munge, slurmctld and slurmd, every file of theirs in a fresh
# directory and on free ports. Each case's output is checked against what
# `velt encode --jobs 1` makes of the same frames on this machine. Whatever
# happens, the jobs are cancelled, the queue is waited empty and the daemons
# are stopped. Skips (status 77) where Slurm is not installed or cannot be
# started, unless VELT_CLUSTER_REQUIRED=1, when that fails.
#
# Usage: slurm_cluster_test.sh VELT SCRIPTS_DIR REAL_FRAMES_DIR   (as root)
set -uo pipefail
velt=$(realpath "$1") scripts=$(realpath "$2") real=$(realpath -m "${VELT_REAL_FRAMES_DIR:-$3}")

give_up() {
  if [ "${VELT_CLUSTER_REQUIRED:-}" = 1 ]; then
    echo "FAIL: $1 (VELT_CLUSTER_REQUIRED=1)" >&2
    exit 1
  fi
  echo "skipped: $1"
  exit 77
}
for program in munged mungekey slurmctld slurmd sbatch squeue scontrol scancel sinfo; do
  command -v "$program" >/dev/null || give_up "$program is not installed (tools/setup.sh installs Slurm)"
done
[ "$(id -u)" = 0 ] || give_up "a Slurm node runs as root"
if [ ! -d "$real/camera" ] || [ ! -d "$real/animations" ]; then
  [ "${VELT_REAL_FRAMES_REQUIRED:-}" = 1 ] && { echo "FAIL: no real frames in $real" >&2; exit 1; }
  echo "skipped: no real frames in $real (tools/real_frames.sh, tools/real_animations.sh)"
  exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"  # munged wants its socket's directory readable by all
export SLURM_CONF=$work/slurm.conf
munged_pid= slurmctld_pid= slurmd_pid=
# Stops what this test started: the jobs first (slurmstepd ignores SIGTERM,
# so slurmd goes only once its jobs have), then each daemon by its own id.
stop_cluster() {
  if [ -n "$slurmctld_pid" ]; then
    local jobs
    jobs=$(squeue -h -o %A 2>/dev/null | sort -u)
    [ -n "$jobs" ] && scancel $jobs 2>/dev/null
    wait_for_empty_queue 60 || echo "the queue did not empty: $(squeue -h 2>&1)" >&2
  fi
  local pid
  for pid in $slurmd_pid $slurmctld_pid $munged_pid; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap stop_cluster EXIT
trap 'exit 1' INT TERM HUP  # through the EXIT trap, when ctest stops the test

wait_for_empty_queue() {
  local deadline=$((SECONDS + $1))
  while [ -n "$(squeue -h -o %i 2>/dev/null)" ]; do
    [ $SECONDS -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    [ -z "$(ss -Htln "sport = :$port")" ] && [ "$port" != "${1:-}" ] && echo "$port" && return
  done
}

started=$SECONDS
mkdir -p "$work/munge" "$work/slurmctld" "$work/slurmd" "$work/logs"
chmod 700 "$work/munge"
mungekey -c -k "$work/munge/key" || give_up "mungekey could not make a key"
chmod 755 "$work/munge"
munged -F --force --socket="$work/munge/socket" --key-file="$work/munge/key" \
  --pid-file="$work/munge/pid" --log-file="$work/munge/log" --seed-file="$work/munge/seed" >/dev/null 2>&1 &
munged_pid=$!
ctld_port=$(free_port)
slurmd_port=$(free_port "$ctld_port")
cat >"$SLURM_CONF" <<EOF
ClusterName=velt-test
SlurmctldHost=localhost
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
StateSaveLocation=$work/slurmctld
SlurmdSpoolDir=$work/slurmd
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
MpiDefault=none
ReturnToService=2
# a scheduling round as soon as a task ends, rather than 3 s later, and
# every second rather than every minute, for a job whose start time has come
SchedulerParameters=batch_sched_delay=0,sched_interval=1
NodeName=localhost CPUs=$(nproc) RealMemory=1000 State=UNKNOWN
PartitionName=velt Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
for _ in $(seq 50); do [ -S "$work/munge/socket" ] && break; sleep 0.1; done
[ -S "$work/munge/socket" ] || give_up "munged did not start: $(tail -n 1 "$work/munge/log" 2>&1)"
slurmctld -D -f "$SLURM_CONF" >/dev/null 2>&1 &
slurmctld_pid=$!
slurmd -D -N localhost -f "$SLURM_CONF" >/dev/null 2>&1 &
slurmd_pid=$!
deadline=$((SECONDS + 30))
until [ "$(sinfo -h -N -o %T 2>/dev/null)" = idle ]; do
  [ $SECONDS -ge $deadline ] &&
    give_up "the node is not idle after 30 s: $(sinfo -h -N -o %T 2>&1); $(tail -n 1 "$work/slurmd.log" 2>&1)"
  sleep 0.1
done
echo "cluster up in $((SECONDS - started)) s"

# the job scripts run velt from the build, confined as everywhere else: the
# jobs take this environment with them
export VELT_PROGRAM=$velt
logs=$work/logs

# Waits for the given jobs to leave the queue, at most 180 s.
wait_for_jobs() {
  local deadline=$((SECONDS + 180))
  while [ -n "$(squeue -h -o %i -j "$(tr ' ' , <<<"$*")" 2>/dev/null)" ]; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}
# The state and exit code of each task of a job, one "JobState=... ExitCode=..." a line.
job_states() {
  scontrol -o show job "$1" | grep -o 'JobState=[A-Z_]* .*ExitCode=[0-9:]*' |
    sed 's/JobState=\([A-Z_]*\) .*ExitCode=\([0-9:]*\)/\1 \2/'
}
# The frames of a case: SOURCE's frames repeated up to COUNT frames, and the
# frame BROKEN (unless -) cut short so that it cannot be decoded.
make_frames() {
  local dir=$1 source=$2 count=$3 broken=$4 i
  local sources=("$real/$source"/frame_*.png)
  mkdir -p "$dir"
  for ((i = 0; i < count; i++)); do
    cp "$real/$source/frame_$((i % ${#sources[@]})).png" "$dir/frame_$i.png"
  done
  if [ "$broken" != - ]; then
    head -c 3000 "$dir/frame_$broken.png" >"$dir/cut" && mv "$dir/cut" "$dir/frame_$broken.png"
  fi
}

failures=0
fail() {
  echo "FAIL: $name: $*"
  failures=$((failures + 1))
}

# An animation in parts: the join makes what the single run makes, with its
# exit status and its reason for a failed frame, and leaves nothing beside it.
run_parts() {
  local frames=$work/in/$name ref=$work/ref/$name out=$work/out/$name
  make_frames "$frames" "$source" "$count" "$broken"
  mkdir -p "$ref" "$out"
  "$velt" encode "$frames" "$ref/a.velt" --jobs 1 --mode "$mode" --quiet 2>"$ref/message"
  local ref_status=$?
  local case_started=$SECONDS ids parts join
  if [ "$kind" = dead ]; then
    # velt is not where the tasks look for it: every part task fails
    ids=$(cd "$logs" && VELT_PROGRAM=$work/no-velt "$scripts/submit.sh" \
      "$frames" "$out/a.velt" "$mode" "$parts_count") || { fail "submit.sh: $ids"; return; }
  else
    ids=$(cd "$logs" && "$scripts/submit.sh" "$frames" "$out/a.velt" "$mode" \
      "$parts_count") || { fail "submit.sh: $ids"; return; }
  fi
  parts=$(sed -n 's/^parts: //p' <<<"$ids")
  join=$(sed -n 's/^join: //p' <<<"$ids")
  if [ "$kind" = requeue ]; then
    # the last part is requeued while its velt runs: before its part is written
    local last=$((parts_count - 1)) deadline=$((SECONDS + 60))
    until [ "$(squeue -h -o %T -j "${parts}_$last" 2>/dev/null)" = RUNNING ]; do
      [ $SECONDS -ge $deadline ] && { fail "part $last never ran"; return; }
      sleep 0.05
    done
    sleep 0.5
    [ -e "$out/a.part$last" ] && fail "part $last was done before it could be requeued"
    scontrol requeue "${parts}_$last" || fail "scontrol requeue ${parts}_$last failed"
    # Slurm holds a requeued job back for two minutes, so that no node takes
    # it for the run it has just stopped (slurmd refuses a job killed within
    # the same second); a few seconds are enough here
    until [ "$(squeue -h -o %T -j "${parts}_$last" 2>/dev/null)" = PENDING ]; do
      [ $SECONDS -ge $deadline ] && { fail "part $last was not requeued"; return; }
      sleep 0.05
    done
    scontrol update JobId="${parts}_$last" StartTime=now+3 || fail "the requeued part cannot be started"
  fi
  wait_for_jobs "$parts" "$join" || { fail "jobs $parts and $join still queued after 180 s"; return; }
  local seconds=$((SECONDS - case_started))

  local join_state
  join_state=$(job_states "$join")
  if [ "$kind" = dead ]; then
    [[ $join_state == CANCELLED* ]] || fail "the join is '$join_state', not cancelled"
    [ -z "$(ls -A "$out")" ] || fail "left behind: $(ls -A "$out" | tr '\n' ' ')"
    echo "$name: $seconds s"
    return
  fi
  if [ "$kind" = requeue ]; then
    scontrol -o show job "${parts}_$((parts_count - 1))" | grep -q ' Restarts=1 ' ||
      fail "part $((parts_count - 1)) was not restarted"
  fi
  [ "$join_state" = "$([ $ref_status = 0 ] && echo COMPLETED || echo FAILED) $ref_status:0" ] ||
    fail "the join ended '$join_state', the single run with status $ref_status"
  if [ -e "$ref/a.velt" ]; then
    cmp -s "$ref/a.velt" "$out/a.velt" || fail "the joined file differs from the single run's"
    [ "$(ls -A "$out")" = a.velt ] || fail "beside the output: $(ls -A "$out" | tr '\n' ' ')"
  else
    [ -z "$(ls -A "$out")" ] || fail "left behind: $(ls -A "$out" | tr '\n' ' ')"
  fi
  if [ "$broken" != - ]; then
    # the single run's own line (relayed from the part that could not be
    # written), or the join's, naming the frame by its number
    local single reason line said=false
    single=$(cat "$ref/message")
    reason=${single#*frame_$broken.png: }
    while IFS= read -r line; do
      [[ $line == "$single" || ($line == *"frame $broken"[!0-9]* && $line == *": $reason") ]] && said=true
    done < <(cat "$logs/slurm-$join.out" 2>/dev/null)
    $said || fail "the join's message '$(cat "$logs/slurm-$join.out")' is not of frame $broken: '$reason'"
  fi
  echo "$name: $seconds s"
}

# Many animations, one a task: each output is that of the single run.
run_batch() {
  local ref=$work/ref/$name out=$work/out/$name gif ids batch case_started=$SECONDS
  local gifs=("$real/animations"/*.gif)
  mkdir -p "$ref" "$out"
  for gif in "${gifs[@]}"; do
    gif=$(basename "$gif" .gif)
    "$velt" encode "$real/animations/$gif.gif" "$ref/$gif.velt" --jobs 1 --mode "$mode" --quiet ||
      fail "the single run of $gif.gif failed"
  done
  ids=$(cd "$logs" && "$scripts/submit-batch.sh" "$out" "$mode" "${gifs[@]}") ||
    { fail "submit-batch.sh: $ids"; return; }
  batch=$(sed -n 's/^batch: //p' <<<"$ids")
  wait_for_jobs "$batch" || { fail "job $batch still queued after 180 s"; return; }
  [ "$(job_states "$batch" | sort -u)" = "COMPLETED 0:0" ] ||
    fail "tasks ended $(job_states "$batch" | sort | uniq -c | tr '\n' ' ')"
  for gif in "${gifs[@]}"; do
    gif=$(basename "$gif" .gif)
    cmp -s "$ref/$gif.velt" "$out/$gif.velt" || fail "$gif.velt differs from the single run's"
  done
  [ "$(ls "$out")" = "$(ls "$ref")" ] || fail "made $(ls "$out" | tr '\n' ' ')"
  echo "$name: ${#gifs[@]} animations, $((SECONDS - case_started)) s"
}

# name | kind | frames of | frames | cut short | mode | parts
while IFS='|' read -r name kind source count broken mode parts_count; do
  [[ -z $name || $name == \#* ]] && continue
  read -r name kind source count broken mode parts_count <<<"$name $kind $source $count $broken $mode $parts_count"
  case $kind in
    parts | requeue | dead) run_parts ;;
    batch) run_batch ;;
  esac
done <<'CASES'
camera-opaque   | parts   | camera |  10 | - | opaque   | 8
screen-alpha12  | parts   | screen |  10 | - | alpha12  | 8
# frame 5 ends part 3 (frames 4 and 5): part 4, which starts after it,
# writes nothing, and parts 5 to 7 are not needed
cut-part-end    | parts   | camera |  10 | 5 | opaque   | 8
# frame 5 is inside part 1 (frames 4 to 8): parts 2 and 3 are written but not needed
cut-mid-part    | parts   | camera |  16 | 5 | alpha12  | 4
# frame 0 fails every part: the join reports part 0's failure
cut-frame-0     | parts   | camera |  10 | 0 | alpha12  | 4
requeued        | requeue | camera | 100 | - | opaque12 | 2
no-program      | dead    | camera |  10 | - | opaque   | 4
gifs            | batch   | -      |   - | - | alpha    | -
CASES

echo "$failures failures"
[ "$failures" = 0 ]
