#!/usr/bin/env bash
# Encodes the parts of a real sequence on another machine with GNU parallel
# over ssh, with the command README.md gives, and joins them here. The other
# machine is an sshd of the test's own on a free port of 127.0.0.1 (its own
# config, host key and authorized key in a temporary folder), so it sees the
# frames at the same path, as the machines of a cluster must.
# Usage: parallel_ssh_test.sh VELT REAL_FRAMES_DIR
# (VELT_REAL_FRAMES_DIR, when set, names the real sequences' folder instead.)
# Skips (status 77) where sshd or parallel is missing or sshd cannot start,
# unless VELT_CLUSTER_REQUIRED=1, which makes that a failure.
set -uo pipefail
velt=$(realpath "$1")
camera=${VELT_REAL_FRAMES_DIR:-$2}/camera

skip() {
  if [ "${VELT_CLUSTER_REQUIRED:-}" = 1 ]; then
    echo "parallel_ssh_test: $1" >&2
    exit 1
  fi
  echo "parallel_ssh_test: skipped: $1"
  exit 77
}
for program in /usr/sbin/sshd ssh ssh-keygen parallel; do
  command -v "$program" >/dev/null || skip "$program is not installed (tools/setup.sh installs it)"
done
if [ ! -f "$camera/frame_9.png" ]; then
  [ "${VELT_REAL_FRAMES_REQUIRED:-}" = 1 ] && { echo "parallel_ssh_test: no real sequence in $camera" >&2; exit 1; }
  skip "no real sequence in $camera (bash tools/real_frames.sh makes it)"
fi

tmp=$(mktemp -d)
sshd_pid=
made_privsep_dir=
# The processes below process $1, by pid.
descendants() {
  local level=$1 next
  while next=$(pgrep -d, -P "$level"); do
    echo "${next//,/ }"
    level=$next
  done
}
# Stops sshd and every process it started (sessions still running when a
# step failed), found before sshd goes so that none is missed.
stop_sshd() {
  [ -n "$sshd_pid" ] || return 0
  local all
  read -ra all <<<"$sshd_pid $(descendants "$sshd_pid")"
  kill -TERM "${all[@]}" 2>/dev/null
  wait "$sshd_pid" 2>/dev/null
  sleep 0.2
  kill -KILL "${all[@]}" 2>/dev/null
  sshd_pid=
}
cleanup() {
  stop_sshd
  [ -n "$made_privsep_dir" ] && rmdir /run/sshd
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

now() { echo "${EPOCHREALTIME/[.,]/}"; }  # microseconds
seconds_since() {
  local t=$(($(now) - $1))
  printf '%d.%02d' $((t / 1000000)) $((t / 10000 % 100))
}

# The machine's keys and configs. sshd running as root needs its privilege
# separation folder, which only a running system sshd would have made.
user=$(id -un)
ssh-keygen -q -t ed25519 -N '' -C velt-test-host -f "$tmp/host_key" || exit 1
ssh-keygen -q -t ed25519 -N '' -C velt-test-client -f "$tmp/client_key" || exit 1
cp "$tmp/client_key.pub" "$tmp/authorized_keys"
echo "velt-test-machine $(cat "$tmp/host_key.pub")" >"$tmp/known_hosts"
if [ "$(id -u)" = 0 ] && [ ! -d /run/sshd ]; then
  mkdir -m 755 /run/sshd && made_privsep_dir=1
fi
cat >"$tmp/sshd_config" <<EOF
ListenAddress 127.0.0.1
HostKey $tmp/host_key
AuthorizedKeysFile $tmp/authorized_keys
AllowUsers $user
PidFile none
StrictModes no
UsePAM no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
PrintMotd no
EOF
# the test's whole ssh setup: no file of ~/.ssh or /etc/ssh is read or written
write_ssh_config() {
  cat >"$tmp/ssh_config" <<EOF
Host velt-test-machine
  HostName 127.0.0.1
  Port $1
  User $user
  HostKeyAlias velt-test-machine
  UserKnownHostsFile $tmp/known_hosts
  GlobalKnownHostsFile /dev/null
  StrictHostKeyChecking yes
  IdentityFile $tmp/client_key
  IdentitiesOnly yes
  BatchMode yes
  ConnectTimeout 10
EOF
}

# sshd on a free port: a port another program holds makes sshd exit at once,
# and the next one is tried. It ends on its own before ctest's timeout, should
# the test be killed where its trap cannot run.
started=$(now)
for _ in 1 2 3 4 5 6 7 8 9 10; do
  port=$((20000 + RANDOM % 40000))
  timeout 240 /usr/sbin/sshd -D -e -f "$tmp/sshd_config" -o "Port=$port" 2>"$tmp/sshd.log" &
  sshd_pid=$!
  for _ in $(seq 100); do
    grep -q "Server listening on 127.0.0.1 port $port" "$tmp/sshd.log" && break 2
    kill -0 "$sshd_pid" 2>/dev/null || break
    sleep 0.05
  done
  kill "$sshd_pid" 2>/dev/null
  wait "$sshd_pid" 2>/dev/null
  sshd_pid=
  grep -q 'Address already in use' "$tmp/sshd.log" || break
done
[ -n "$sshd_pid" ] || skip "sshd does not start: $(tail -n 1 "$tmp/sshd.log")"
write_ssh_config "$port"
ssh -F "$tmp/ssh_config" velt-test-machine true 2>"$tmp/ssh.log" ||
  skip "cannot log in to the test's sshd: $(tail -n 1 "$tmp/ssh.log")"
echo "sshd on port $port, logged in: $(seconds_since "$started") s"

# The machines GNU parallel uses, as README.md's machines file lists them:
# four jobs at a time on the one machine, reached with the test's ssh setup.
# parallel keeps its own files under $HOME/.parallel: here, in the test's folder.
echo "4/ssh -F $tmp/ssh_config velt-test-machine" >"$tmp/machines"
mkdir "$tmp/home"
# --env VELT_REQUIRE_SANDBOX takes it along, so that a part is confined there
# as it is here
# shellcheck disable=SC2016  # expanded on the other machine
there=$(cd "$tmp" && VELT_REQUIRE_SANDBOX=probe HOME=$tmp/home parallel --will-cite \
  --sshloginfile "$tmp/machines" --env VELT_REQUIRE_SANDBOX 'printf %s "$VELT_REQUIRE_SANDBOX"' ::: '')
if [ "$there" != probe ]; then
  echo "FAIL: VELT_REQUIRE_SANDBOX does not reach the other machine (got '$there')"
  exit 1
fi

failures=0
fail() {
  echo "FAIL: $name: $1"
  failures=$((failures + 1))
}
# case | mode | frame cut short (- for none) | part files made | parts joined
# (* for walk.part*, as README.md joins them)
while IFS='|' read -r name mode broken made joined; do
  [[ -z $name || $name == \#* ]] && continue
  started=$(now)
  work=$tmp/$name
  mkdir "$work" && cp -r "$camera" "$work/frames" || exit 1
  cd "$work" || exit 1
  if [ "$broken" != - ]; then
    head -c 3000 "frames/frame_$broken.png" >cut.png && mv cut.png "frames/frame_$broken.png"
  fi
  "$velt" encode frames/ single.velt --jobs 1 --mode "$mode" 2>single.err
  single_status=$?

  # README.md's command, as it stands there but for the program's path, the
  # part count and the mode
  HOME=$tmp/home timeout 120 \
  parallel --will-cite --sshloginfile "$tmp/machines" --workdir . --env VELT_REQUIRE_SANDBOX \
    "$velt" encode frames/ walk.part{} --part {}/8 --mode "$mode" ::: 0 1 2 3 4 5 6 7 \
    >parallel.out 2>parallel.err
  parallel_status=$?
  read -ra parts <<<"$joined"
  if [ "$joined" = '*' ]; then parts=(walk.part*); else parts=("${parts[@]/#/walk.part}"); fi
  "$velt" join walk.velt "${parts[@]}" 2>join.err
  join_status=$?

  [ "$join_status" = "$single_status" ] ||
    fail "join exits with $join_status, one run with $single_status: $(cat join.err)"
  cmp -s walk.velt single.velt || fail "the joined file differs from one run's"
  if [ "$broken" = - ]; then
    [ "$parallel_status" = 0 ] || fail "parallel exits with $parallel_status: $(cat parallel.err)"
    [ ! -s join.err ] || fail "join says: $(cat join.err)"
  else
    # one line naming the frame and the reason one run gives for it; the
    # failing part's own line reaches this side through parallel
    reason=$(sed 's/^velt: encode: cannot decode frame [^:]*: //' single.err)
    if [ "$(wc -l <join.err)" != 1 ] || [[ $(cat join.err) != *"frame $broken, "*": $reason" ]]; then
      fail "join says '$(cat join.err)', one run '$(cat single.err)'"
    fi
    [ "$parallel_status" != 0 ] || fail "parallel exits with 0 though a part failed"
    grep -qxF "$(cat single.err)" parallel.err || fail "the part's failure is not shown: $(cat parallel.err)"
  fi
  # nothing beside the parts that could be made, the two files and the logs
  read -ra parts <<<"$made"
  expected=$(printf '%s\n' frames join.err parallel.err parallel.out single.err single.velt \
    walk.velt "${parts[@]/#/walk.part}" | sort)
  there=$(find . -mindepth 1 -maxdepth 1 -printf '%f\n' | sort)
  [ "$there" = "$expected" ] || fail "left behind: $(echo "$there" | tr '\n' ' ')"
  cd "$tmp" || exit 1
  echo "$name: $(seconds_since "$started") s"
done <<'CASES'
opaque|opaque|-|0 1 2 3 4 5 6 7|*
alpha12|alpha12|-|0 1 2 3 4 5 6 7|7 6 5 4 3 2 1 0
# frame 5 lies in part 3 (frames 4 and 5); part 4 is measured against it
cut-frame|opaque|5|0 1 2 3 5 6 7|*
cut-frame-needs-no-later-part|alpha12|5|0 1 2 3 5 6 7|3 1 0 2
CASES

# sshd still there, with no session left running (sshd_pid is timeout's;
# sshd is its child)
sleep 0.2
if ! listener=$(pgrep -P "$sshd_pid"); then
  echo "FAIL: sshd is gone: $(tail -n 1 "$tmp/sshd.log")"
  failures=$((failures + 1))
elif sessions=$(descendants "$listener") && [ -n "$sessions" ]; then
  echo "FAIL: processes of sshd still running: $sessions"
  failures=$((failures + 1))
fi
stopping=$(now)
stop_sshd
echo "sshd stopped: $(seconds_since "$stopping") s"
[ $failures = 0 ] || exit 1
echo "parallel_ssh_test: all cases pass"
