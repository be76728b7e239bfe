#!/usr/bin/env bash
# Measures what each sequence costs on the wire: for every encoding (velt
# exact in each mode that suits it, velt --tolerance N where velt has the
# option, lossy and lossless animated WebP, GIF) the file's bytes as written, after gzip -9 -n and after
# brotli -q 11, its visible PSNR and SSIM against the sources, and the CPU
# time (user + system) the encoding took, the median of runs in which the
# encoders take turns. The sequences: the camera and screen sequences of
# bench/run_bench.sh, a game sprite with alpha, the bundled example and a
# game menu in which one icon moves. The report goes to
# <build>/bench-data/wire-size.md, the files to <build>/bench-data/wire/.
#
# Settings (environment): VELT_BUILD_DIR (default build), VELT_BENCH_FRAMES
# (frames of the camera and screen sequences, default 24, as
# bench/run_bench.sh), VELT_WIRE_TOLERANCES (default "4 7 12"),
# VELT_WIRE_RUNS (timed runs of each encoder, default 3).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VELT_BUILD_DIR:-build}
frames=${VELT_BENCH_FRAMES:-24}
read -r -a tolerances <<<"${VELT_WIRE_TOLERANCES:-4 7 12}"
runs=${VELT_WIRE_RUNS:-3}
source tools/install_missing.sh
source tools/packaged_media.sh
source bench/median.sh

bash tools/setup.sh
install_missing ffmpeg webp brotli python3-pil python3-numpy
python=/usr/bin/python3  # Debian's, which has the packaged PIL and numpy

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target velt
build=$(cd "$build" && pwd)
velt=$build/velt
data=$build/bench-data
work=$data/wire
rm -rf "$work"
mkdir -p "$work"
cut -d' ' -f1-3 /proc/loadavg >"$work/load-start.txt"

cut_bench_videos "$data" "$frames"
cut_sprite "$data/sources/sprite" "$data/sprite" 1 "$sprite_frames"
mapfile -t menu_files < <(menu_paths)
fetch_package_files "$menu_package" "$data/sources/menu" "$menu_sha256" "${menu_files[@]}"
if [ ! -f "$data/menu/.made-$menu_icon_frames" ]; then
  rm -rf "$data/menu"
  "$python" bench/make_menu_frames.py "$data/sources/menu" "$data/menu" --frames "$menu_icon_frames"
  touch "$data/menu/.made-$menu_icon_frames"
fi
# name, folder, frames a second, velt's modes (alpha and alpha12 where the
# frames are transparent in places), what it is
sequences=(
  "camera|$data/camera|10|opaque|camera"
  "screen|$data/screen|15|opaque|screen recording"
  "sprite|$data/sprite|20|alpha alpha12|sprite"
  "wheel|$PWD/examples/wheel|20|alpha alpha12|UI: the bundled wheel"
  "menu|$data/menu|20|opaque|UI: a menu, one icon turning"
)

# velt encode --tolerance, while it is new: its rows are left out without it
if "$velt" encode --help | grep -q -- --tolerance; then
  echo yes >"$work/tolerance.txt"
else
  echo "wire: 'velt encode' has no --tolerance option: only exact velt rows"
  echo no >"$work/tolerance.txt"
fi
# The encodings of a sequence whose velt modes are MODES: velt:MODE and
# velt:MODE:N (--tolerance N) for each mode, then the others.
encodings() {  # modes...
  local mode n
  for mode in "$@"; do
    echo "velt:$mode"
    if [ "$(cat "$work/tolerance.txt")" = yes ]; then
      for n in "${tolerances[@]}"; do echo "velt:$mode:$n"; done
    fi
  done
  printf '%s\n' webp-lossy webp-lossless gif
}
encoder_command() {  # encoding folder fps count output: sets cmd
  local encoding=$1 folder=$2 fps=$3 count=$4 out=$5 pngs=() n velt_mode velt_tolerance
  for ((n = 0; n < count; n++)); do pngs+=("$folder/frame_$n.png"); done
  case $encoding in
    velt:*)
      IFS=: read -r _ velt_mode velt_tolerance <<<"$encoding"
      cmd=("$velt" encode "$folder/frame_X.png" "$out" --mode "$velt_mode" --fps "$fps" --jobs 1 --quiet
        ${velt_tolerance:+--tolerance "$velt_tolerance"}) ;;
    webp-lossy) cmd=(img2webp -loop 0 -lossy -q 75 -m 4 -d "$(frame_ms "$fps")" "${pngs[@]}" -o "$out") ;;
    webp-lossless) cmd=(img2webp -loop 0 -lossless -d "$(frame_ms "$fps")" "${pngs[@]}" -o "$out") ;;
    gif) cmd=(ffmpeg -nostdin -v error -y -framerate "$fps" -i "$folder/frame_%d.png"
      -filter_complex "[0:v]split[a][b];[a]palettegen[p];[b][p]paletteuse" "$out") ;;
  esac
}
frame_ms() { echo $(((1000 + $1 / 2) / $1)); }  # a frame's duration in whole milliseconds
output_of() {  # sequence encoding: the file it writes
  case $2 in
    velt:*) echo "$work/$1.${2//:/-}.velt" ;;
    webp-*) echo "$work/$1.$2.webp" ;;
    gif) echo "$work/$1.gif" ;;
  esac
}
# the CPU seconds (user + system, to the microsecond) of a command, which
# must succeed; its output is thrown away
cpu_seconds() {
  "$python" -c 'import sys; sys.path.insert(0, "bench"); from part_times import timed
_, user, system = timed(sys.argv[1:]); print(f"{user + system:.6f}")' "$@"
}
# the overall visible PSNR (None when exact) and SSIM of velt compare's JSON
# or bench/visible_quality.py's
overall() {
  "$python" -c 'import json, sys; o = json.load(sys.stdin)["overall"]; print(o["visible_psnr"], o["visible_ssim"])'
}
# velt compare's figures of a velt file, after checking that
# bench/visible_quality.py, which measures the others, finds the same in the
# frames velt decode makes of it
velt_quality() {  # file sources mode
  local quality check decoded=$work/decoded
  quality=$("$velt" compare "$1" "$2/frame_X.png" --mode "$3" --json | overall)
  rm -rf "$decoded"
  mkdir -p "$decoded"
  "$velt" decode "$1" "$decoded/frame_X.png" --mode "$3"
  check=$("$python" bench/visible_quality.py "$2" "$decoded" | overall)
  rm -rf "$decoded"
  if ! awk -v a="$quality" -v b="$check" 'BEGIN {
    split(a, x); split(b, y)
    d = (x[1] == "None" || y[1] == "None") ? (x[1] != y[1]) : x[1] - y[1]
    exit !(d * d < 1e-6 && (x[2] - y[2]) ^ 2 < 1e-10) }'; then
    echo "wire: bench/visible_quality.py gives $check on $1, velt compare $quality" >&2
    return 1
  fi
  echo "$quality"
}

# one line a file: sequence, encoding, bytes, gzip, brotli, PSNR, SSIM, CPU seconds
: >"$work/results.tsv"
for entry in "${sequences[@]}"; do
  IFS='|' read -r name folder fps modes _ <<<"$entry"
  count=$(find "$folder" -maxdepth 1 -name 'frame_*.png' | wc -l)
  echo "== $name: $count frames ($(date -u +%H:%M:%S))"
  mapfile -t list < <(encodings $modes)
  : >"$work/$name-times.tsv"
  for ((r = 1; r <= runs; r++)); do
    for encoding in "${list[@]}"; do
      encoder_command "$encoding" "$folder" "$fps" "$count" "$(output_of "$name" "$encoding")"
      seconds=$(cpu_seconds "${cmd[@]}" 2>>"$work/encoders.log")
      printf '%s\t%s\n' "$encoding" "$seconds" >>"$work/$name-times.tsv"
    done
  done
  for encoding in "${list[@]}"; do
    out=$(output_of "$name" "$encoding")
    case $encoding in
      velt:*) quality=$(velt_quality "$out" "$folder" "$(cut -d: -f2 <<<"$encoding")") ;;
      *) quality=$("$python" bench/visible_quality.py "$folder" "$out" --frame-ms "$(frame_ms "$fps")" |
        overall) ;;
    esac
    cpu=$(awk -F'\t' -v e="$encoding" '$1 == e { print $2 }' "$work/$name-times.tsv" | median)
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$encoding" "$(stat -c %s "$out")" \
      "$(gzip -9 -n -c "$out" | wc -c)" "$(brotli -q 11 -c "$out" | wc -c)" \
      ${quality// /$'\t'} "$cpu" | tee -a "$work/results.tsv"
  done
done
cut -d' ' -f1-3 /proc/loadavg >"$work/load-end.txt"

# the report
{
  echo "- Machine: $(nproc) cores; load average $(cat "$work/load-start.txt") at the start, $(cat "$work/load-end.txt") at the end"
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M') UTC"
  echo "- Code (as built for this run): \`$(git log --oneline -1 2>/dev/null || echo "not a git checkout")\`; uncommitted changes: $(git status --short 2>/dev/null | wc -l) files"
  echo "- Encoders: $("$velt" --version | head -1); img2webp $(img2webp -version 2>/dev/null | head -1 | sed 's/.*version: //'); $(ffmpeg -version | head -1 | cut -d' ' -f1,3)"
  echo "- velt --tolerance: $(cat "$work/tolerance.txt")"
  echo
  echo "| sequence | what | size | frames | fps | RGBA bytes |"
  echo "|---|---|---|---:|---:|---:|"
  for entry in "${sequences[@]}"; do
    IFS='|' read -r name folder fps _ what <<<"$entry"
    count=$(find "$folder" -maxdepth 1 -name 'frame_*.png' | wc -l)
    size=$("$python" -c 'import sys; from PIL import Image; print("%dx%d" % Image.open(sys.argv[1]).size)' \
      "$folder/frame_0.png")
    echo "| $name | $what | $size | $count | $fps | $((count * ${size%x*} * ${size#*x} * 4)) |"
  done
  echo
  echo "Bytes of each file as written, after \`gzip -9 -n\` and after \`brotli -q 11\`; visible PSNR and SSIM over the worse of black and white backgrounds, over all frames; encode CPU = user + system seconds, the median of $runs runs in which the encoders take turns (\`velt encode --jobs 1\`)."
  echo
  echo "| sequence | encoding | bytes | gzip -9 | brotli -q 11 | visible PSNR dB | visible SSIM | encode CPU s |"
  echo "|---|---|---:|---:|---:|---:|---:|---:|"
  awk -F'\t' '{
    split($2, e, ":")
    if (e[1] == "velt") name = "velt " e[2] (e[3] == "" ? "" : " --tolerance " e[3])
    else if ($2 == "webp-lossy") name = "WebP lossy -q 75 -m 4"
    else if ($2 == "webp-lossless") name = "WebP lossless"
    else name = "GIF (ffmpeg palettegen)"
    psnr = ($6 == "None") ? "exact" : sprintf("%.2f", $6)
    printf "| %s | %s | %d | %d | %d | %s | %.6f | %.3f |\n", $1, name, $3, $4, $5, psnr, $7, $8
  }' "$work/results.tsv"
} >"$data/wire-size.md"
cat "$data/wire-size.md"
