#!/usr/bin/env bash
# Times 'velt decode' (PNG files and raw RGBA) beside ffmpeg decoding a GIF and
# an APNG of the same frames to raw RGBA, and prints a Markdown table of
# medians (wall and CPU = user + system seconds). The programs take turns run
# by run, so that a change in the machine's load falls on all of them.
#
# Usage: bench/decode_vs_ffmpeg.sh [FOLDER...]
# Each FOLDER holds frame_0.png, frame_1.png, ...; the default is the photograph,
# camera and screen sequences that bench/run_bench.sh cuts into <build>/bench-data.
# Settings (environment): VELT_BUILD_DIR (default build), VELT_BENCH_RUNS
# (default 7).
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(cd "${VELT_BUILD_DIR:-build}" && pwd)
runs=${VELT_BENCH_RUNS:-7}
folders=("$@")
if [ ${#folders[@]} -eq 0 ]; then folders=("$build/bench-data/photo" "$build/bench-data/camera" "$build/bench-data/screen"); fi
for f in "${folders[@]}"; do
  [ -f "$f/frame_0.png" ] || { echo "bench: no $f/frame_0.png (run bench/run_bench.sh first)" >&2; exit 1; }
done
command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is not installed" >&2; exit 1; }

# a printf-style output pattern: the random name may hold an X, which would
# stand for the frame number in an X pattern
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

source bench/median.sh

echo "| sequence | frames | size | program | wall s | CPU s | wall / velt --raw |"
echo "|---|---|---|---|---|---|---|"
for folder in "${folders[@]}"; do
  name=$(basename "$folder")
  frames=$(find "$folder" -maxdepth 1 -name 'frame_*.png' | wc -l)
  # the same frames in each container, at the rate velt's files get by default
  "$build/velt" encode "$folder/frame_X.png" "$work/$name.velt" --quiet --jobs 2
  ffmpeg -nostdin -v error -y -framerate 20 -start_number 0 -i "$folder/frame_%d.png" \
    -vf "split[a][b];[a]palettegen[p];[b][p]paletteuse" "$work/$name.gif"
  ffmpeg -nostdin -v error -y -framerate 20 -start_number 0 -i "$folder/frame_%d.png" \
    -plays 0 -f apng "$work/$name.apng"
  size=$("$build/velt" info "$work/$name.velt" --no-wire-size | sed -n 's/^ *size[^0-9]*\([0-9]* *x *[0-9]*\).*/\1/p' | head -1)

  labels=("velt decode, PNG files" "velt decode --raw" "ffmpeg, GIF to raw" "ffmpeg, APNG to raw")
  commands=(
    "$build/velt decode $work/$name.velt $work/out/%d.png"
    "$build/velt decode $work/$name.velt - --raw"
    "ffmpeg -nostdin -v error -i $work/$name.gif -f rawvideo -pix_fmt rgba -y /dev/null"
    "ffmpeg -nostdin -v error -i $work/$name.apng -f rawvideo -pix_fmt rgba -y /dev/null")
  for ((r = 0; r < runs; r++)); do
    for i in "${!commands[@]}"; do
      rm -rf "$work/out"
      mkdir -p "$work/out"
      # shellcheck disable=SC2086  # each command is a plain word list
      /usr/bin/time -f "%e %U %S" -a -o "$work/times.$i" ${commands[$i]} >/dev/null
    done
  done
  raw_wall=$(awk '{ print $1 }' "$work/times.1" | median)
  for i in "${!commands[@]}"; do
    wall=$(awk '{ print $1 }' "$work/times.$i" | median)
    cpu=$(awk '{ print $2 + $3 }' "$work/times.$i" | median)
    ratio=$(awk -v a="$wall" -v b="$raw_wall" 'BEGIN { printf "%.1f", (b > 0) ? a / b : 0 }')
    echo "| $name | $frames | $size | ${labels[$i]} | $wall | $cpu | $ratio |"
  done
  rm -f "$work"/times.*
done
