#!/usr/bin/env bash
# Fuzzes the VELT reader with libFuzzer (clang, AddressSanitizer, UBSan) for
# the given number of seconds (default 300). Seeds: small sequences cut from
# the bundled example, encoded in every mode by the sandboxed program, and
# the files in tests/reader/fuzz_regressions. The corpus grows in
# build-fuzz/corpus from run to run. A crash or slow input is written to
# build-fuzz/findings/; keep each one in tests/reader/fuzz_regressions/ under
# a name that says what it is, with its line in expected.tsv.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}

bash tools/build.sh  # the encoder programs that write the seed files
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELT_FUZZ=ON \
  >/dev/null
cmake --build build-fuzz -j2 --target velt-reader-fuzzer velt-fuzz-seed-frames

seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/frames" build-fuzz/corpus build-fuzz/findings
build-fuzz/fuzz/velt-fuzz-seed-frames examples/wheel "$seeds/frames"
for sequence in "$seeds"/frames/*/; do
  name=$(basename "$sequence")
  for mode in 0 1 2 3; do
    build/velt-encode-flags "${sequence}frame_X.png" "$seeds/$name-$mode.velt" 20 "$mode" >/dev/null
  done
done
rm -rf "$seeds/frames"
cp tests/reader/fuzz_regressions/*.velt "$seeds/"

build-fuzz/fuzz/velt-reader-fuzzer build-fuzz/corpus "$seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1
