#!/usr/bin/env bash
# velt against lossy WebP on the same frames of real footage, in one run:
# `velt encode --jobs 1` and `--jobs 2` in mode opaque, `--jobs 2` in mode
# opaque12, and img2webp (Debian's `webp`, one thread) making a lossy animated
# WebP of the same PNG frames, taking turns. Checks that the velt files of
# both job counts are the same and prints a Markdown table of medians of wall
# and CPU time (user + system, the workers' included), the files' sizes and
# the ratios the targets are about.
#
# Usage: bench/against_webp.sh [FOLDER...]   (default: the benchmark's camera
# and screen sequences, cut with the benchmark's settings when missing)
# Settings (environment): VELT_BUILD_DIR (default build), VELT_BENCH_RUNS
# (default 7), VELT_BENCH_FRAMES (default 24, for the sequences cut here).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VELT_BUILD_DIR:-build}
runs=${VELT_BENCH_RUNS:-7}
frames=${VELT_BENCH_FRAMES:-24}
source tools/install_missing.sh
install_missing webp ffmpeg
cmake --build "$build" -j2 --target velt >/dev/null
build=$(cd "$build" && pwd)
source bench/median.sh

folders=("$@")
if [ ${#folders[@]} = 0 ]; then
  source tools/packaged_media.sh
  cut_bench_videos "$build/bench-data" "$frames" >&2
  folders=("$build/bench-data/camera" "$build/bench-data/screen")
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

kinds=(jobs1 jobs2 opaque12 webp)
echo "| sequence | frames | program | runs | wall s | CPU s | size KiB |"
echo "|---|---:|---|---:|---:|---:|---:|"
summary=()
for folder in "${folders[@]}"; do
  name=$(basename "$folder")
  count=$(find "$folder" -maxdepth 1 -name 'frame_*.png' | wc -l)
  pngs=()
  for ((n = 0; n < count; n++)); do pngs+=("$folder/frame_$n.png"); done
  for ((r = 0; r < runs; r++)); do
    timed "$work/$name.jobs1" "$build/velt" encode "$folder" "$work/jobs1.velt" --jobs 1 --quiet
    timed "$work/$name.jobs2" "$build/velt" encode "$folder" "$work/jobs2.velt" --jobs 2 --quiet
    timed "$work/$name.opaque12" "$build/velt" encode "$folder" "$work/opaque12.velt" --jobs 2 \
      --quiet --mode opaque12
    # (img2webp names the file it wrote on its standard error)
    timed "$work/$name.webp" img2webp -lossy -q 75 -m 4 "${pngs[@]}" -o "$work/frames.webp" 2>/dev/null
  done
  cmp -s "$work/jobs1.velt" "$work/jobs2.velt" || { echo "bench: --jobs 2 wrote other bytes" >&2; exit 1; }
  declare -A wall cpu
  for kind in "${kinds[@]}"; do
    cpu[$kind]=$(awk '{ print $1 / 1000 }' "$work/$name.$kind" | median)
    wall[$kind]=$(awk '{ print $2 / 1000 }' "$work/$name.$kind" | median)
  done
  size() { echo $(( $(stat -c %s "$1") / 1024 )); }
  printf '| %s | %d | `velt encode --jobs 1` | %d | %.3f | %.3f | %s |\n' "$name" "$count" "$runs" \
    "${wall[jobs1]}" "${cpu[jobs1]}" "$(size "$work/jobs1.velt")"
  printf '| %s | %d | `velt encode --jobs 2` | %d | %.3f | %.3f | %s |\n' "$name" "$count" "$runs" \
    "${wall[jobs2]}" "${cpu[jobs2]}" "$(size "$work/jobs2.velt")"
  printf '| %s | %d | `velt encode --jobs 2 --mode opaque12` | %d | %.3f | %.3f | %s |\n' "$name" \
    "$count" "$runs" "${wall[opaque12]}" "${cpu[opaque12]}" "$(size "$work/opaque12.velt")"
  printf '| %s | %d | `img2webp -lossy -q 75 -m 4` | %d | %.3f | %.3f | %s |\n' "$name" "$count" \
    "$runs" "${wall[webp]}" "${cpu[webp]}" "$(size "$work/frames.webp")"
  summary+=("$(python3 -c 'import sys; j1, j2, o12, w = map(float, sys.argv[2:]); print(
    "| %s | %.2fx | %.2fx | %.2fx |" % (sys.argv[1], j2 / w, o12 / w, j1 / j2))' \
    "$name" "${wall[jobs1]}" "${wall[jobs2]}" "${wall[opaque12]}" "${wall[webp]}")")
  unset wall cpu
done
echo
echo "Ratios of wall times (the targets: at most 1x, at most 3x, at least 1.9x):"
echo
echo "| sequence | --jobs 2 / WebP | opaque12 --jobs 2 / WebP | --jobs 1 / --jobs 2 |"
echo "|---|---:|---:|---:|"
printf '%s\n' "${summary[@]}"
