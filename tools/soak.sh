#!/usr/bin/env bash
# Soak run of the endpoint searches: the differential test of encoder_tests at
# 50 times its release block counts (over 10 million blocks in modes 0 and 1,
# over 200,000 in modes 2 and 3), split over one process per core, each
# drawing its own blocks. Builds the release test binary if needed, prints the
# blocks compared and the differences found, exits non-zero on any difference.
#
#   bash tools/soak.sh                    # build/ , all cores
#   VELT_BUILD_DIR=/tmp/b VELT_SOAK_JOBS=1 VELT_SOAK_TOTAL_SCALE=2 bash tools/soak.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VELT_BUILD_DIR:-build}
jobs=${VELT_SOAK_JOBS:-$(nproc)}
total_scale=${VELT_SOAK_TOTAL_SCALE:-50}
scale=$(((total_scale + jobs - 1) / jobs))

if [ ! -f "$build/CMakeCache.txt" ]; then
  bash tools/setup.sh
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
# the counts (and the speed) of the debug build are far smaller
if ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt"; then
  echo "soak: $build is not a release build" >&2
  exit 2
fi
cmake --build "$build" -j"$jobs" --target encoder_tests >/dev/null

logs=$(mktemp -d /tmp/velt-soak.XXXXXX)
echo "soak: $jobs processes at $scale times the release counts, logs in $logs"
start=$(date +%s)
pids=()
for ((shard = 0; shard < jobs; shard++)); do
  VELT_SOAK_SCALE=$scale VELT_SOAK_SHARD=$shard stdbuf -oL \
    "$build/tests/encoder_tests" --gtest_filter='SearchDifferential.*' \
    >"$logs/shard$shard.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
seconds=$(($(date +%s) - start))

# the test prints one line per comparison:
#   [ compared ] N blocks in modes 0 and 1, D differing
#   [ compared ] N blocks in modes 2 and 3, T through the triple search, D differing
cat "$logs"/shard*.log | awk -v seconds="$seconds" '
  /^\[ compared \].*modes 0 and 1/ { pair += $4; diff += $(NF - 1); reports++ }
  /^\[ compared \].*modes 2 and 3/ { b12 += $4; triple += $(NF - 6); diff += $(NF - 1); reports++ }
  END {
    printf "soak: modes 0 and 1: %d blocks compared\n", pair
    printf "soak: modes 2 and 3: %d blocks compared, %d through the triple search\n", b12, triple
    printf "soak: %d differences, %d min %d s\n", diff, seconds / 60, seconds % 60
    exit (diff == 0 && reports > 0) ? 0 : 1
  }' || status=1

if [ "$status" -ne 0 ]; then
  grep -h -A4 'Failure' "$logs"/shard*.log || true
  echo "soak: FAILED (logs in $logs)" >&2
fi
exit "$status"
