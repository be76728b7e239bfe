#!/usr/bin/env bash
# Runs the benchmarks of the encoder's speed and memory and prints a report:
# per-block search times (fast against reference, native and in the sandbox),
# instruction counts of one block-search figure, whole runs on three sequences
# (a photograph, real camera footage and a screen recording: sandbox, native,
# decoding alone, and 'velt encode --jobs'; medians of interleaved runs), the
# build before this round's work in mode 2, peak memory, and the parts of
# 'velt encode --part K/N' timed one by one for a projection to 16 cores. The
# raw timings stay in <build>/bench-data/ and the report goes to
# <build>/bench-data/report.md; with --update-readme it also replaces the
# figures in bench/README.md.
#
# Settings (environment): VELT_BUILD_DIR (default build), VELT_BENCH_FRAMES
# (frames of each sequence, default 24), VELT_BENCH_RUNS (mode 0 runs, default
# 5), VELT_BENCH_MODE2_FRAMES (the first frames of each sequence that mode 2
# runs take, default 6), VELT_BENCH_MODE2_RUNS (default 3),
# VELT_BENCH_PART_RUNS (rounds of the parts timed one by one, default 1) and
# VELT_BENCH_SEARCH=0 to leave out the per-block search and its instruction
# counts.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VELT_BUILD_DIR:-build}
frames=${VELT_BENCH_FRAMES:-24}
runs=${VELT_BENCH_RUNS:-5}
mode2_frames=${VELT_BENCH_MODE2_FRAMES:-6}
mode2_runs=${VELT_BENCH_MODE2_RUNS:-3}
search=${VELT_BENCH_SEARCH:-1}
part_runs=${VELT_BENCH_PART_RUNS:-1}
((mode2_frames > frames)) && mode2_frames=$frames
jobs=2  # the parallel runs' worker count, against --jobs 1
wide=16  # the part count of the projection on paper
# the build before the sandbox and parallel work, timed beside this one
baseline_commit=edc7dde
update_readme=()
if [ "${1:-}" = "--update-readme" ]; then update_readme=(--update-readme bench/README.md); fi

bash tools/setup.sh
# the photograph (Debian's desktop backgrounds), its conversion, ffmpeg to cut
# the videos, and the timers
source tools/install_missing.sh
install_missing mate-backgrounds python3-pil ffmpeg time valgrind
python=/usr/bin/python3  # Debian's, which has the packaged PIL

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target velt velt-encode-flags velt-encode-native velt-bench-search \
  velt-decode-only
build=$(cd "$build" && pwd)
data=$build/bench-data
mkdir -p "$data"
# the code measured, as it was built, and the load it was measured under
{ git log --oneline -1 2>/dev/null || echo "not a git checkout"; git status --short 2>/dev/null; } \
  >"$data/code.txt"
cut -d' ' -f1-3 /proc/loadavg >"$data/load-start.txt"

section() {  # a heading with the time, to see where a run spends it
  echo "== $* ($(date -u +%H:%M:%S))"
}
section "sequences"
# the photograph shifted one pixel a frame, so every frame changes
photo_source=/usr/share/backgrounds/mate/nature/Dune.jpg
make_photo() {  # folder frames
  local stamp="$1/.made-$2-1020x764"
  if [ ! -f "$stamp" ]; then
    rm -rf "$1"
    "$python" bench/make_frames.py "$photo_source" "$1" --frames "$2" --size 1020x764
    touch "$stamp"
  fi
}
# Real footage: video files that Debian packages ship, taken out of the
# package file without installing the package and checked by checksum
# (tools/packaged_media.sh)
source tools/packaged_media.sh
cut_bench_videos "$data" "$frames"

sequences=(photo camera screen)
make_photo "$data/photo" "$frames"
# mode 2 runs take the first frames of each sequence (hard links, plain files)
: >"$data/sequences.tsv"
for s in "${sequences[@]}"; do
  rm -rf "$data/$s-mode2"
  mkdir -p "$data/$s-mode2"
  for ((n = 0; n < mode2_frames; n++)); do ln "$data/$s/frame_$n.png" "$data/$s-mode2/frame_$n.png"; done
  size=$("$python" -c 'import sys; from PIL import Image; print("%dx%d" % Image.open(sys.argv[1]).size)' \
    "$data/$s/frame_0.png")
  printf '%s\t%s\t%s\t%s\n' "$s" "$frames" "$mode2_frames" "$size" | tee -a "$data/sequences.tsv"
done
photo=$data/photo/frame_0.png

# velt encode --jobs, while it is new: the parallel rows are left out without it
if "$build/velt" encode --help 2>/dev/null | grep -q -- --jobs; then
  echo yes >"$data/jobs.txt"
else
  echo "bench: 'velt encode' has no --jobs option: no parallel runs"
  echo no >"$data/jobs.txt"
fi
have_jobs() { [ "$(cat "$data/jobs.txt")" = yes ]; }

section "the build of $baseline_commit"
# its own checkout and build folder under the build folder, kept between runs
baseline_src=$build/bench-baseline-src
baseline_build=$build/bench-baseline-build
baseline_bin=$baseline_build/velt-encode-flags
build_baseline() {  # called as a condition, so every step checks its own failure
  [ -f "$baseline_build/.built-$baseline_commit" ] && [ -x "$baseline_bin" ] && return 0
  git rev-parse -q --verify "$baseline_commit^{commit}" >/dev/null || return 1
  if [ "$(git -C "$baseline_src" rev-parse HEAD 2>/dev/null)" != "$(git rev-parse "$baseline_commit")" ]; then
    if [ -d "$baseline_src" ]; then git worktree remove --force "$baseline_src" || return 1; fi
    # --force: the checkout may still be registered from a build folder since removed
    git worktree add --force --detach "$baseline_src" "$baseline_commit" >/dev/null || return 1
  fi
  # the PNG decoder's source, fetched by tools/setup.sh, is the same
  ln -sfn "$(pwd)/third_party" "$baseline_src/third_party" || return 1
  cmake -S "$baseline_src" -B "$baseline_build" -DCMAKE_BUILD_TYPE=Release >/dev/null || return 1
  cmake --build "$baseline_build" -j2 --target velt-encode-flags || return 1
  touch "$baseline_build/.built-$baseline_commit"
}
if build_baseline; then
  git log --oneline -1 "$baseline_commit" >"$data/baseline.txt"
else
  echo "bench: no build of $baseline_commit: it is left out"
  : >"$data/baseline.txt"
fi
have_baseline() { [ -s "$data/baseline.txt" ]; }

if [ "$search" = 1 ]; then
  section "per-block search times"
  "$build/bench/velt-bench-search" --benchmark_out="$data/search.json" \
    --benchmark_out_format=json "$photo" | tee "$data/search.txt"

  section "instruction counts (callgrind), photo16 blocks"
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
else
  rm -f "$data/search.json" "$data/search.txt" "$data/callgrind.tsv"
fi

section "whole runs"
# The programs take turns, so that a change in the machine's load falls on all
# of them; each line of runs-m<mode>-<sequence>.tsv: program, wall, user,
# system seconds and peak KiB of the largest process.
timed() {  # label output command...
  local label=$1 out=$2
  shift 2
  /usr/bin/time -f "$label %e %U %S %M" -a -o "$out" "$@" >/dev/null
}
mode_names=(opaque alpha opaque12 alpha12)
whole_run() {  # mode sequence runs
  local mode=$1 name=$2 folder=$data/$2 out=$data/runs-m$1-$2.tsv
  [ "$mode" = 2 ] && folder=$data/$name-mode2
  local pattern=$folder/frame_X.png velt=$data/out-m$mode-$name
  rm -f "$velt".*.velt
  : >"$out"
  for ((r = 1; r <= $3; r++)); do
    timed sandbox "$out" "$build/velt-encode-flags" "$pattern" "$velt.sandbox.velt" 20 "$mode"
    timed native "$out" "$build/tools/velt-encode-native" "$pattern" "$velt.native.velt" 20 "$mode"
    timed decode "$out" "$build/bench/velt-decode-only" "$pattern"
    if have_jobs; then
      # --jobs 1 against --jobs 2 is a mode 0 figure, and one of mode 2 on
      # the photograph, which the projection from its parts takes too
      for n in 1 "$jobs"; do
        [ "$mode" = 0 ] || [ "$n" != 1 ] || [ "$name" = photo ] || continue
        timed "jobs$n" "$out" "$build/velt" encode "$pattern" "$velt.jobs$n.velt" --quiet \
          --mode "${mode_names[$mode]}" --jobs "$n"
      done
    fi
    if [ "$mode" = 2 ] && [ "$name" = photo ] && have_baseline; then
      timed baseline "$out" "$baseline_bin" "$pattern" "$velt.baseline.velt" 20 "$mode"
    fi
  done
  cat "$out"
  # every program's file against the native encoder's
  : >"$data/compare-m$mode-$name.tsv"
  for label in sandbox jobs1 "jobs$jobs" baseline; do
    [ -f "$velt.$label.velt" ] || continue
    same=DIFFERENT
    cmp -s "$velt.$label.velt" "$velt.native.velt" && same=same
    printf '%s\t%s\n' "$label" "$same" >>"$data/compare-m$mode-$name.tsv"
  done
}
for s in "${sequences[@]}"; do whole_run 0 "$s" "$runs"; done
for s in "${sequences[@]}"; do whole_run 2 "$s" "$mode2_runs"; done

section "parts one by one, for the projection to $wide cores"
# Each part of 'velt encode --part K/N' alone, one after another, then the
# join; the joined file against the native encoder's. report.py projects N
# cores as the slowest part and the join, and checks the method against the
# measured --jobs 2 with N = 2.
: >"$data/parts-compare.tsv"
if have_jobs; then
  for run in "0 camera" "0 photo" "2 photo"; do
    read -r mode name <<<"$run"
    folder=$data/$name
    [ "$mode" = 2 ] && folder=$data/$name-mode2
    for n in "$wide" "$jobs"; do
      out=$data/parts-m$mode-$name-$n.tsv work=$data/parts-m$mode-$name-$n
      rm -rf "$out" "$work"
      "$python" bench/part_times.py "$build/velt" "$folder/frame_X.png" "$work" --parts "$n" \
        --mode "${mode_names[$mode]}" --runs "$part_runs" --out "$out"
      same=DIFFERENT
      cmp -s "$work/joined.velt" "$data/out-m$mode-$name.native.velt" && same=same
      printf '%s\t%s\t%s\t%s\n' "$mode" "$name" "$n" "$same" | tee -a "$data/parts-compare.tsv"
      rm -rf "$work"
    done
  done
fi

section "peak memory of the process tree, mode 0, photograph"
# the sum over the parent and its workers, against one instance
: >"$data/tree-memory.tsv"
if have_jobs; then
  for n in 1 "$jobs"; do
    line=$("$python" bench/tree_memory.py "$build/velt" encode "$data/photo/frame_X.png" \
      "$data/out-memory.velt" --quiet --jobs "$n")
    printf '%s\t%s\n' "$n" "${line// /$'\t'}" | tee -a "$data/tree-memory.tsv"
  done
fi
cut -d' ' -f1-3 /proc/loadavg >"$data/load-end.txt"

"$python" bench/report.py "$data" --jobs "$jobs" --parts "$wide" --baseline "$baseline_commit" \
  "${update_readme[@]}" | tee "$data/report.md"
