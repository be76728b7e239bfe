#!/usr/bin/env bash
# Times whole runs of 'velt encode --jobs 1' with the modules' guard-page
# translation (no limit) and with their checked translation (the same run
# under a 4 GiB address-space limit, which leaves no room for the 8 GiB
# reservation), checks that both write the same bytes, and prints a Markdown
# table of medians of CPU time (user + system seconds). The two take turns,
# so that a change in the machine's load falls on both.
#
# Usage: bench/checked_translation.sh [FOLDER...]
# Each FOLDER holds frame_0.png, frame_1.png, ...; the default is the
# photograph, camera and screen sequences that bench/run_bench.sh makes in
# <build>/bench-data (those that are there). Settings (environment):
# VELT_BUILD_DIR (default build), VELT_BENCH_RUNS (default 5),
# VELT_BENCH_MODE2_FRAMES (the first frames that mode 2 runs take, default 6).
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(cd "${VELT_BUILD_DIR:-build}" && pwd)
runs=${VELT_BENCH_RUNS:-5}
mode2_frames=${VELT_BENCH_MODE2_FRAMES:-6}
limit=$((4 << 30))
folders=("$@")
if [ ${#folders[@]} -eq 0 ]; then
  for s in photo camera screen; do
    [ -f "$build/bench-data/$s/frame_0.png" ] && folders+=("$build/bench-data/$s")
  done
fi
[ ${#folders[@]} -gt 0 ] || { echo "bench: no frames (run bench/run_bench.sh first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source bench/median.sh

echo "| sequence | size | mode | frames | guard pages, CPU s | checked, CPU s | checked / guard pages | same bytes |"
echo "|---|---|---|---|---|---|---|---|"
for folder in "${folders[@]}"; do
  name=$(basename "$folder")
  for mode in opaque opaque12; do
    # mode 2 on the first frames only, as bench/run_bench.sh does
    input=$folder
    if [ "$mode" = opaque12 ]; then
      input=$work/$name-first
      rm -rf "$input"
      mkdir -p "$input"
      for ((n = 0; n < mode2_frames; n++)); do cp "$folder/frame_$n.png" "$input/"; done
    fi
    frames=$(find "$input" -maxdepth 1 -name 'frame_*.png' | wc -l)
    rm -f "$work"/times.*
    for ((r = 0; r < runs; r++)); do
      /usr/bin/time -f "%U %S" -a -o "$work/times.guard" \
        "$build/velt" encode "$input/frame_X.png" "$work/guard.velt" --jobs 1 --quiet --mode "$mode"
      /usr/bin/time -f "%U %S" -a -o "$work/times.checked" prlimit --as="$limit" -- "$build/velt" \
        encode "$input/frame_X.png" "$work/checked.velt" --jobs 1 --quiet --mode "$mode"
    done
    same=yes
    cmp -s "$work/guard.velt" "$work/checked.velt" || same=NO
    if [ "$mode" = opaque ]; then
      size=$("$build/velt" info "$work/guard.velt" --no-wire-size | sed -n 's/^size *\([0-9]* x [0-9]*\).*/\1/p')
    fi
    guard=$(awk '{ print $1 + $2 }' "$work/times.guard" | median)
    checked=$(awk '{ print $1 + $2 }' "$work/times.checked" | median)
    ratio=$(awk -v a="$checked" -v b="$guard" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')
    echo "| $name | $size | $mode | $frames | $guard | $checked | $ratio | $same |"
  done
done
