#!/usr/bin/env bash
# Times GIF decoding inside velt's encoder module against ffmpeg's native GIF
# decoding of the same file to raw RGBA, and prints a Markdown table of
# medians of CPU time (user + system seconds). velt's side is
# velt-bench-animation-decode (bench/animation_decode_host.cc): every picture
# decoded in the module as velt compare reads it, once (not again for each
# period it is held), and discarded. ffmpeg's is
#   ffmpeg -v error -i FILE -fps_mode passthrough -f rawvideo -pix_fmt rgba -y /dev/null
# where passthrough writes each decoded picture once (without it, ffmpeg
# repeats pictures to a constant rate: 612 frames for 1_partyanimsm2.gif).
# Both times include the program's start-up, measured on a GIF of one
# 16x16 frame and shown subtracted as well. The table also says whether both
# decoded the same pixels. The programs take turns run by
# run, so that a change in the machine's load falls on both.
#
# Usage: bench/gif_decode.sh [GIF...]
# The default: the largest real GIFs (tools/real_animations.sh, into
# <build>/real-frames/animations as the tests have them), ffmpeg's testsrc2
# pattern at 640x480 and 25 fps for 8 s, and 6 s of the camera video of
# tools/packaged_media.sh at 768x576 and 10 fps with a palette of its own,
# made under <build>/bench-data/gif. With VELT_BENCH_CALLGRIND=1, the
# instructions each program runs on each GIF, by callgrind, follow.
# Settings (environment): VELT_BUILD_DIR (default build), VELT_BENCH_RUNS
# (default 7).
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(cd "${VELT_BUILD_DIR:-build}" && pwd)
runs=${VELT_BENCH_RUNS:-7}
host="$build/bench/velt-bench-animation-decode"
[ -x "$host" ] || { echo "bench: no $host: build first (bash tools/build.sh)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is not installed" >&2; exit 1; }
source tools/packaged_media.sh
source bench/median.sh

made="$build/bench-data/gif"
mkdir -p "$made"
gifs=("$@")
if [ ${#gifs[@]} -eq 0 ]; then
  animations="$build/real-frames/animations"
  bash tools/real_animations.sh "$animations" >/dev/null
  fetch_package_files "$camera_package" "$build/bench-data/sources" "$camera_sha256" "$camera_video"
  [ -f "$made/testsrc2.gif" ] ||
    ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x480:rate=25 -t 8 "$made/testsrc2.gif"
  [ -f "$made/camera.gif" ] ||
    ffmpeg -nostdin -v error -ss 10 -t 6 -i "$build/bench-data/sources/$(basename "$camera_video")" \
      -vf "split[a][b];[a]palettegen[p];[b][p]paletteuse" "$made/camera.gif"
  gifs=("$animations/1_partyanimsm2.gif" "$animations/circular-table.gif" "$animations/aero.gif"
        "$made/testsrc2.gif" "$made/camera.gif")
fi
one="$made/one-frame.gif"
[ -f "$one" ] || ffmpeg -nostdin -v error -f lavfi -i color=c=gray:size=16x16 -frames:v 1 "$one"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

velt_decode() { "$host" "$1" >/dev/null; }
ffmpeg_decode() {
  ffmpeg -nostdin -v error -i "$1" -fps_mode passthrough -f rawvideo -pix_fmt rgba -y /dev/null
}

# CPU seconds of one run, appended to file $1
TIMEFORMAT='%3U %3S'
timed() {
  local out=$1
  shift
  { time "$@" >/dev/null 2>&1; } 2>>"$out.raw"
  tail -n 1 "$out.raw" | awk '{ print $1 + $2 }' >>"$out"
}

files=("$one" "${gifs[@]}")
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for ((r = 0; r < runs; r++)); do
  for i in "${!files[@]}"; do
    # the programs take turns at going first
    if ((r % 2 == 0)); then
      timed "$work/velt.$i" velt_decode "${files[$i]}"
      timed "$work/ffmpeg.$i" ffmpeg_decode "${files[$i]}"
    else
      timed "$work/ffmpeg.$i" ffmpeg_decode "${files[$i]}"
      timed "$work/velt.$i" velt_decode "${files[$i]}"
    fi
  done
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)" >&2

start_velt=$(median <"$work/velt.0")
start_ffmpeg=$(median <"$work/ffmpeg.0")
echo "| GIF | size | frames | velt frames | same pixels | velt CPU s | ffmpeg CPU s | velt / ffmpeg | less start-up: velt s | ffmpeg s | velt / ffmpeg |"
echo "|---|---|---:|---:|---|---:|---:|---:|---:|---:|---:|"
for i in "${!files[@]}"; do
  file=${files[$i]}
  # what the host says: "FILE: WxH, S source frames held as N at R fps, checksum C"
  said=$("$host" "$file")
  size=$(sed -n 's/.*: \([0-9]*x[0-9]*\), .*/\1/p' <<<"$said")
  source_frames=$(sed -n 's/.*, \([0-9]*\) source frames.*/\1/p' <<<"$said")
  held=$(sed -n 's/.* held as \([0-9]*\) at.*/\1/p' <<<"$said")
  # the pictures both decoded, each once; ffmpeg given velt's colour for
  # transparent pixels
  "$host" "$file" --rgba "$work/velt.rgba" >/dev/null
  ffmpeg -nostdin -v error -trans_color 0 -i "$file" -fps_mode passthrough -f rawvideo \
    -pix_fmt rgba -y "$work/ffmpeg.rgba"
  same=$(cmp -s "$work/velt.rgba" "$work/ffmpeg.rgba" && echo yes || echo no)
  rm -f "$work/velt.rgba" "$work/ffmpeg.rgba"
  velt=$(median <"$work/velt.$i")
  ff=$(median <"$work/ffmpeg.$i")
  awk -v name="$(basename "$file")" -v size="$size" -v frames="$source_frames" -v held="$held" \
    -v same="$same" -v v="$velt" -v f="$ff" -v sv="$start_velt" -v sf="$start_ffmpeg" -v first="$i" 'BEGIN {
      ratio = (f > 0) ? sprintf("%.2f", v / f) : "-"
      if (first == 0) { printf "| %s (start-up) | %s | %d | %d | %s | %.3f | %.3f | %s | | | |\n", name, size, frames, held, same, v, f, ratio; exit }
      dv = v - sv; df = f - sf
      less = (df > 0) ? sprintf("%.2f", dv / df) : "-"
      printf "| %s | %s | %d | %d | %s | %.3f | %.3f | %s | %.3f | %.3f | %s |\n", name, size, frames, held, same, v, f, ratio, dv, df, less
    }'
done

if [ "${VELT_BENCH_CALLGRIND:-0}" = 1 ]; then
  command -v valgrind >/dev/null || { echo "bench: valgrind is not installed" >&2; exit 1; }
  # instructions (Ir) of a whole run, start-up included
  instructions() {
    valgrind --tool=callgrind --dump-instr=no --callgrind-out-file="$work/callgrind.out" "$@" \
      >/dev/null 2>"$work/callgrind.log"
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$work/callgrind.log"
  }
  echo
  echo "| callgrind | velt instructions | ffmpeg instructions | velt / ffmpeg | less start-up: velt / ffmpeg |"
  echo "|---|---:|---:|---:|---:|"
  start_v=0 start_f=0
  for file in "$one" "${gifs[@]}"; do
    v=$(instructions "$host" "$file")
    f=$(instructions ffmpeg -nostdin -v error -i "$file" -fps_mode passthrough -f rawvideo \
      -pix_fmt rgba -y /dev/null)
    if [ "$file" = "$one" ]; then start_v=$v start_f=$f; fi
    awk -v name="$(basename "$file")" -v v="$v" -v f="$f" -v sv="$start_v" -v sf="$start_f" \
      'BEGIN { less = (f > sf) ? sprintf("%.2f", (v - sv) / (f - sf)) : "-"
               printf "| %s | %d | %d | %.2f | %s |\n", name, v, f, v / f, less }'
  done
fi
