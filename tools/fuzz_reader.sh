#!/usr/bin/env bash
# Fuzzes the readers of the files a user is given, with libFuzzer (clang,
# AddressSanitizer, UBSan), each for the given number of seconds (default
# 300): the VELT reader, then the joiner of part files (velt join). Seeds:
# small sequences cut from the bundled example, encoded in every mode by the
# sandboxed program, whole and in parts, and the files in
# tests/reader/fuzz_regressions. The corpora grow in build-fuzz/corpus and
# build-fuzz/join-corpus from run to run. A crash or slow input is written to
# build-fuzz/findings/; keep each VELT file in tests/reader/fuzz_regressions/
# as <what it is>.velt, with its line in expected.tsv.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}

bash tools/build.sh  # the encoder programs that write the seed files
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELT_FUZZ=ON \
  >/dev/null
cmake --build build-fuzz -j2 --target velt-reader-fuzzer velt-join-fuzzer velt-fuzz-seed-frames

seeds=build-fuzz/seeds
join_seeds=build-fuzz/join-seeds
rm -rf "$seeds" "$join_seeds"
mkdir -p "$seeds/frames" "$join_seeds" build-fuzz/corpus build-fuzz/join-corpus build-fuzz/findings
build-fuzz/fuzz/velt-fuzz-seed-frames examples/wheel "$seeds/frames"
for sequence in "$seeds"/frames/*/; do
  name=$(basename "$sequence")
  for mode in 0 1 2 3; do
    build/velt-encode-flags "${sequence}frame_X.png" "$seeds/$name-$mode.velt" 20 "$mode" >/dev/null
  done
  # the join fuzzer cuts its input before each part's magic: one input holds
  # every part of a split, in reverse order
  for count in 1 3; do
    for ((k = count - 1; k >= 0; k--)); do
      build/velt encode "${sequence}frame_X.png" "$join_seeds/part" --part "$k/$count" -q
      cat "$join_seeds/part" >>"$join_seeds/$name-$count.parts"
    done
  done
done
rm -f "$join_seeds/part"
rm -rf "$seeds/frames"
cp tests/reader/fuzz_regressions/*.velt "$seeds/"

build-fuzz/fuzz/velt-reader-fuzzer build-fuzz/corpus "$seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
  -artifact_prefix=build-fuzz/findings/ -print_final_stats=1

build-fuzz/fuzz/velt-join-fuzzer build-fuzz/join-corpus "$join_seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -artifact_prefix=build-fuzz/findings/join- -print_final_stats=1
