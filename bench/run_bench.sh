#!/usr/bin/env bash
# Runs the benchmarks of the encoder's speed and memory and prints a report:
# per-block search times (fast against reference, native and in the sandbox),
# instruction counts of one block-search figure, whole runs on a photographic
# sequence (sandbox, native, decoding alone; medians of several runs) and peak
# memory at 5 and 20 frames. The report goes to <build>/bench-data/report.md; with
# --update-readme it also replaces the figures in bench/README.md.
#
# Settings (environment): VELT_BUILD_DIR (default build), VELT_BENCH_RUNS
# (whole runs in mode 0, default 5), VELT_BENCH_MODE2_RUNS (default 3),
# VELT_BENCH_MODE2_FRAMES (default 5) and VELT_BENCH_MODE2_SIZE (default
# 1020x764) to shorten the mode 2 runs while its search is slow.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VELT_BUILD_DIR:-build}
runs=${VELT_BENCH_RUNS:-5}
mode2_runs=${VELT_BENCH_MODE2_RUNS:-3}
mode2_frames=${VELT_BENCH_MODE2_FRAMES:-5}
mode2_size=${VELT_BENCH_MODE2_SIZE:-1020x764}
update_readme=()
if [ "${1:-}" = "--update-readme" ]; then update_readme=(--update-readme bench/README.md); fi

bash tools/setup.sh
# the photograph (Debian's desktop backgrounds), its conversion and the timers
packages=(mate-backgrounds python3-pil time valgrind)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bench: installing ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
python=/usr/bin/python3  # Debian's, which has the packaged PIL

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target velt-encode velt-encode-flags velt-encode-native \
  velt-bench-search velt-decode-only
build=$(cd "$build" && pwd)
data=$build/bench-data
mkdir -p "$data"
# the code measured, as it was built
{ git log --oneline -1 2>/dev/null || echo "not a git checkout"; git status --short 2>/dev/null; } \
  >"$data/code.txt"

# frames: the photograph shifted one pixel a frame, so every frame changes
photo_source=/usr/share/backgrounds/mate/nature/Dune.jpg
make_sequence() {  # folder frames size
  local stamp="$1/.made-$2-$3"
  if [ ! -f "$stamp" ]; then
    rm -rf "$1"
    "$python" bench/make_frames.py "$photo_source" "$1" --frames "$2" --size "$3"
    touch "$stamp"
  fi
}
make_sequence "$data/seq20" 20 1020x764
mkdir -p "$data/seq5"
for n in 0 1 2 3 4; do ln -sf "../seq20/frame_$n.png" "$data/seq5/frame_$n.png"; done
seq5=$data/seq5/frame_X.png
seq20=$data/seq20/frame_X.png
if [ "$mode2_frames" = 5 ] && [ "$mode2_size" = 1020x764 ]; then
  seq_mode2=$seq5
else
  make_sequence "$data/seq_mode2" "$mode2_frames" "$mode2_size"
  seq_mode2=$data/seq_mode2/frame_X.png
fi
photo=$data/seq20/frame_0.png

echo "== per-block search times"
"$build/bench/velt-bench-search" --benchmark_out="$data/search.json" \
  --benchmark_out_format=json "$photo" | tee "$data/search.txt"

echo "== instruction counts (callgrind), photo16 blocks"
: >"$data/callgrind.tsv"
for mode in 0 2; do
  for where in native module; do
    for path in fast reference; do
      out=$data/callgrind.$mode.$where.$path.out
      valgrind --tool=callgrind --collect-atstart=no --toggle-collect=counted_encode \
        --callgrind-out-file="$out" "$build/bench/velt-bench-search" --count "$where" "$mode" \
        photo16 "$path" "$photo" >/dev/null 2>&1
      ir=$(sed -n 's/^summary: *//p' "$out")
      printf '%s\t%s\t%s\t%s\n' "$mode" "$where" "$path" "$ir" | tee -a "$data/callgrind.tsv"
    done
  done
done

echo "== whole runs"
# the three programs take turns, so that a change in the machine's load falls
# on all of them; each line of run<mode>.tsv: program, wall, user, system
# seconds and peak KiB
timed() {  # label output command...
  local label=$1 out=$2
  shift 2
  /usr/bin/time -f "$label %e %U %S %M" -a -o "$out" "$@" >/dev/null
}
whole_run() {  # mode runs pattern
  local out=$data/run$1.tsv
  local sandbox=("$build/velt-encode-flags" "$3" "$data/run$1.sandbox.velt" 20 "$1")
  [ "$1" = 0 ] && sandbox=("$build/velt-encode" "$3" "$data/run$1.sandbox.velt" 20)
  : >"$out"
  for ((r = 1; r <= $2; r++)); do
    timed sandbox "$out" "${sandbox[@]}"
    timed native "$out" "$build/tools/velt-encode-native" "$3" "$data/run$1.native.velt" 20 "$1"
    timed decode "$out" "$build/bench/velt-decode-only" "$3"
  done
  cat "$out"
  if cmp -s "$data/run$1.sandbox.velt" "$data/run$1.native.velt"; then
    echo "same" >"$data/run$1.compare"
  else
    echo "DIFFERENT" >"$data/run$1.compare"
  fi
}
whole_run 0 "$runs" "$seq5"
whole_run 2 "$mode2_runs" "$seq_mode2"

echo "== peak memory, mode 0"
: >"$data/memory.tsv"
for program in sandbox native; do
  for frames in 5 20; do
    pattern=$seq5
    [ "$frames" = 20 ] && pattern=$seq20
    if [ "$program" = sandbox ]; then
      command=("$build/velt-encode" "$pattern" "$data/memory.velt" 20)
    else
      command=("$build/tools/velt-encode-native" "$pattern" "$data/memory.velt" 20 0)
    fi
    kb=$( { /usr/bin/time -f '%M' "${command[@]}" >/dev/null; } 2>&1 | tail -1)
    printf '%s\t%s\t%s\n' "$program" "$frames" "$kb" | tee -a "$data/memory.tsv"
  done
done

"$python" bench/report.py "$data" --mode2-frames "$mode2_frames" --mode2-size "$mode2_size" \
  "${update_readme[@]}" | tee "$data/report.md"
