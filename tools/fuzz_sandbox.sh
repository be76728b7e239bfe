#!/usr/bin/env bash
# Fuzzes the sandboxed modules with libFuzzer (clang, AddressSanitizer, UBSan
# on the host and on the translated modules):
#
#   bash tools/fuzz_sandbox.sh [seconds] [encoder|png|all]
#
# "encoder" runs the encoder module through run_encoding_call, "png" the PNG
# module of velt compare through SandboxedPngDecoder; "all" (the default) runs
# one after the other, each for the given number of seconds (default 300).
# Seeds: PNGs of every colour type and bit depth from velt-fuzz-seed-pngs,
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
  png) targets=(png) ;;
  all) targets=(encoder png) ;;
  *) echo "usage: $0 [seconds] [encoder|png|all]" >&2; exit 2 ;;
esac

bash tools/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELT_FUZZ=ON \
  >/dev/null
cmake --build build-fuzz -j2 --target velt-encoder-fuzzer velt-png-module-fuzzer \
  velt-fuzz-seed-pngs

seeds=build-fuzz/sandbox-seeds
rm -rf "$seeds"
mkdir -p "$seeds/png" "$seeds/encoder" build-fuzz/findings
build-fuzz/fuzz/velt-fuzz-seed-pngs "$seeds/png" "$seeds/encoder"
regressions=tests/sandbox/fuzz_regressions

status=0
for name in "${targets[@]}"; do
  case "$name" in
    encoder) fuzzer=build-fuzz/fuzz/velt-encoder-fuzzer ;;
    png) fuzzer=build-fuzz/fuzz/velt-png-module-fuzzer ;;
  esac
  mkdir -p "build-fuzz/corpus-$name"
  echo "fuzz_sandbox: $name for $seconds s"
  # a frame of 4 KiB inflates to at most about 4 MiB of image data
  "$fuzzer" "build-fuzz/corpus-$name" "$seeds/$name" "$regressions/$name" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -max_len=4096 \
    -dict=fuzz/png.dict -artifact_prefix="build-fuzz/findings/$name-" \
    -print_final_stats=1 || status=1
done
if [ "$status" -ne 0 ]; then
  echo "fuzz_sandbox: a fuzzer found something: see build-fuzz/findings/" >&2
fi
exit "$status"
