#!/usr/bin/env bash
# Fuzzes the sandboxed modules with libFuzzer (clang, AddressSanitizer, UBSan
# on the host and on the translated modules):
#
#   bash tools/fuzz_sandbox.sh [seconds] [encoder|animation|png|all]
#
# "encoder" runs the encoder module through run_encoding_call, "animation"
# the encoder module on GIF and animated PNG files as velt encode reads them,
# against the native build of the same decoders, "png" the PNG module of velt
# compare through SandboxedPngDecoder; "all" (the default) runs one after the
# other, each for the given number of seconds (default 300).
# Seeds: PNGs of every colour type and bit depth from velt-fuzz-seed-pngs,
# the GIFs and animated PNGs under fuzz/seeds/ and, when VELT_REAL_FRAMES_DIR
# names a directory, the real animations in it (tools/real_animations.sh),
# and the files in tests/sandbox/fuzz_regressions. The corpora grow in
# build-fuzz/corpus-encoder and build-fuzz/corpus-png from run to run. A
# finding is written to build-fuzz/findings/ as encoder-* or png-*; keep each
# one in tests/sandbox/fuzz_regressions/encoder/ or png/ under a name that
# says what it is, with its line in expected.tsv. Exits with status 1 when a
# fuzzer found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
target=${2:-all}
case "$target" in
  encoder) targets=(encoder) ;;
  animation) targets=(animation) ;;
  png) targets=(png) ;;
  all) targets=(encoder animation png) ;;
  *) echo "usage: $0 [seconds] [encoder|animation|png|all]" >&2; exit 2 ;;
esac

bash tools/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELT_FUZZ=ON \
  >/dev/null
cmake --build build-fuzz -j2 --target velt-encoder-fuzzer velt-png-module-fuzzer \
  velt-animation-fuzzer velt-fuzz-seed-pngs

seeds=build-fuzz/sandbox-seeds
rm -rf "$seeds"
mkdir -p "$seeds/png" "$seeds/encoder" "$seeds/animation" build-fuzz/findings
build-fuzz/fuzz/velt-fuzz-seed-pngs "$seeds/png" "$seeds/encoder"
# an animation seed is a control byte (mode 0, the file's own rate), then the file
for file in fuzz/seeds/gif/* fuzz/seeds/apng/* \
            ${VELT_REAL_FRAMES_DIR:+"$VELT_REAL_FRAMES_DIR"/animations/*}; do
  [ -f "$file" ] || continue
  { printf '\0'; cat "$file"; } > "$seeds/animation/$(basename "$file").in"
done
regressions=tests/sandbox/fuzz_regressions

status=0
for name in "${targets[@]}"; do
  case "$name" in
    encoder) fuzzer=build-fuzz/fuzz/velt-encoder-fuzzer ;;
    animation) fuzzer=build-fuzz/fuzz/velt-animation-fuzzer ;;
    png) fuzzer=build-fuzz/fuzz/velt-png-module-fuzzer ;;
  esac
  # a frame of 4 KiB inflates to at most about 4 MiB of image data; an
  # animation's frames are small, and real ones take more bytes
  max_len=4096
  dict=fuzz/png.dict
  if [ "$name" = animation ]; then
    max_len=16384
    dict=build-fuzz/animation.dict
    cat fuzz/png.dict fuzz/gif.dict > "$dict" 2>/dev/null || cp fuzz/png.dict "$dict"
  fi
  mkdir -p "build-fuzz/corpus-$name"
  echo "fuzz_sandbox: $name for $seconds s"
  "$fuzzer" "build-fuzz/corpus-$name" "$seeds/$name" "$regressions/$name" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -max_len="$max_len" \
    -dict="$dict" -artifact_prefix="build-fuzz/findings/$name-" \
    -print_final_stats=1 || status=1
done
if [ "$status" -ne 0 ]; then
  echo "fuzz_sandbox: a fuzzer found something: see build-fuzz/findings/" >&2
fi
exit "$status"
