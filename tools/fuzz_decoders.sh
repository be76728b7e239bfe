#!/usr/bin/env bash
# Fuzzes the encoder's animation decoders natively with libFuzzer (clang,
# AddressSanitizer, UBSan):
#
#   bash tools/fuzz_decoders.sh [seconds] [gif|apng|all]
#
# "gif" runs velt-gif-fuzzer, "apng" velt-apng-fuzzer; "all" (the default)
# runs each one whose target the build defines, one after the other, each for
# the given number of seconds (default 300). Seeds: the files in
# fuzz/seeds/<name>/; dictionaries: fuzz/gif.dict and fuzz/png.dict. The
# corpora grow in build-fuzz/corpus-<name> from run to run. A finding is
# written to build-fuzz/findings/ as <name>-*. Exits with status 1 when a
# fuzzer found something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
target=${2:-all}
case "$target" in
  gif | apng) targets=("$target") ;;
  all) targets=(gif apng) ;;
  *) echo "usage: $0 [seconds] [gif|apng|all]" >&2; exit 2 ;;
esac

bash tools/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELT_FUZZ=ON \
  >/dev/null
mkdir -p build-fuzz/findings
# the targets this build defines (an apng fuzzer only once its decoder is in)
defined=$(cmake --build build-fuzz --target help)

status=0
for name in "${targets[@]}"; do
  fuzzer=velt-$name-fuzzer
  if ! grep -qw -- "$fuzzer" <<<"$defined"; then
    if [ "$target" = all ]; then
      echo "fuzz_decoders: no $fuzzer in this build, skipped"
      continue
    fi
    echo "fuzz_decoders: no $fuzzer in this build" >&2
    exit 2
  fi
  cmake --build build-fuzz -j2 --target "$fuzzer"
  mkdir -p "build-fuzz/corpus-$name"
  case "$name" in
    gif) dict=fuzz/gif.dict ;;
    apng) dict=fuzz/png.dict ;;  # the PNG fuzzers' one, animation chunks included
  esac
  echo "fuzz_decoders: $name for $seconds s"
  "build-fuzz/fuzz/$fuzzer" "build-fuzz/corpus-$name" "fuzz/seeds/$name" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -dict="$dict" -artifact_prefix="build-fuzz/findings/$name-" \
    -print_final_stats=1 || status=1
done
if [ "$status" -ne 0 ]; then
  echo "fuzz_decoders: a fuzzer found something: see build-fuzz/findings/" >&2
fi
exit "$status"
