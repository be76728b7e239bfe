#!/usr/bin/env bash
# Whole runs with and without the kernel's confinement: this build's velt and
# velt-encode against the same programs of a build from before it (made by
# the caller), taking turns, on the real sequences and animations that
# tools/real_frames.sh and tools/real_animations.sh cut. Checks that both
# write the same bytes and prints a Markdown table of medians of CPU time
# (user + system, the workers' included) and wall time, in milliseconds.
#
# Usage: bench/confinement_runs.sh BEFORE_BUILD_DIR
# Settings (environment): VELT_BUILD_DIR (default build), VELT_BENCH_RUNS
# (default 21), VELT_REAL_FRAMES_DIR (default <build>/real-frames).
set -euo pipefail
cd "$(dirname "$0")/.."

before=$(cd "${1:?usage: bench/confinement_runs.sh BEFORE_BUILD_DIR}" && pwd)
build=$(cd "${VELT_BUILD_DIR:-build}" && pwd)
runs=${VELT_BENCH_RUNS:-21}
frames_dir=${VELT_REAL_FRAMES_DIR:-$build/real-frames}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source bench/median.sh

inputs=()
for s in camera screen sprite; do
  [ -f "$frames_dir/$s/frame_0.png" ] && inputs+=("$frames_dir/$s")
done
gif=$(find "$frames_dir/animations" -name '*.gif' 2>/dev/null | sort | head -1)
[ -n "$gif" ] && inputs+=("$gif")
[ ${#inputs[@]} -gt 0 ] || { echo "bench: no real frames in $frames_dir" >&2; exit 1; }
# a long run, where the rules grow with the frames: the camera's frames over
# and over, 500 of them
if [ -f "$frames_dir/camera/frame_0.png" ]; then
  mkdir -p "$work/camera-500"
  count=$(find "$frames_dir/camera" -name 'frame_*.png' | wc -l)
  for ((n = 0; n < 500; n++)); do
    cp "$frames_dir/camera/frame_$((n % count)).png" "$work/camera-500/frame_$n.png"
  done
  inputs+=("$work/camera-500")
fi

# one command of each kind, with its output as the last word
commands() {  # BUILD INPUT OUTPUT
  echo "$1/velt encode $2 $3 --jobs 1 --quiet"
  echo "$1/velt encode $2 $3 --jobs 2 --quiet"
  [ -d "$2" ] && echo "$1/velt-encode $2/frame_X.png $3 20"
  return 0
}

echo "| input | command | runs | before CPU ms | confined CPU ms | confined / before (CPU) | before wall ms | confined wall ms | same bytes |"
echo "|---|---|---:|---:|---:|---:|---:|---:|---|"
for input in "${inputs[@]}"; do
  mapfile -t old < <(commands "$before" "$input" "$work/before.velt")
  mapfile -t new < <(commands "$build" "$input" "$work/after.velt")
  for k in "${!new[@]}"; do
    rm -f "$work"/times.*
    for ((r = 0; r < runs; r++)); do
      timed "$work/times.before" ${old[$k]}
      timed "$work/times.after" ${new[$k]}
    done
    same=yes
    cmp -s "$work/before.velt" "$work/after.velt" || same=NO
    cpu() { awk '{ print $1 }' "$1" | median; }
    wall() { awk '{ print $2 }' "$1" | median; }
    b=$(cpu "$work/times.before"); a=$(cpu "$work/times.after")
    what=$(echo "${new[$k]}" | sed "s|$build/||; s|$input|INPUT|; s|$work/after.velt|OUT|")
    printf '| %s | `%s` | %d | %.1f | %.1f | %s | %.1f | %.1f | %s |\n' "$(basename "$input")" "$what" \
      "$runs" "$b" "$a" "$(awk -v a="$a" -v b="$b" 'BEGIN { printf (b > 0 ? "%.2fx" : "-"), a / b }')" \
      "$(wall "$work/times.before")" "$(wall "$work/times.after")" "$same"
  done
done
