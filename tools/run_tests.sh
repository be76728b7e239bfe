#!/usr/bin/env bash
# Sets up, builds, makes the real sequences and animations that the tests
# encode (tools/real_frames.sh, tools/real_animations.sh), and runs the whole
# test suite: once on the release build, then the Debian package made of it
# (tools/package_check.sh), once on a debug build with AddressSanitizer and
# UBSan; then each fuzzer for a minute on a clang build of its own, where any
# finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
# Every run the tests make is confined by the kernel as well: where this
# kernel offers every layer (Landlock ABI 6 or later, seccomp), a program that
# could not apply one refuses to run, and the tests that act out host faults
# are required rather than skipped. CI, on a kernel that has them, insists.
layers=$(build/velt --version | sed -n 's/^sandbox: //p')
if [[ $layers =~ landlock\ ABI\ ([0-9]+) ]] && ((BASH_REMATCH[1] >= 6)) && [[ $layers == *"; seccomp" ]]; then
  export VELT_REQUIRE_SANDBOX=1
elif [ "${CI:-}" = true ]; then
  echo "run_tests: this kernel lacks a layer of the sandbox ($layers)" >&2
  exit 1
else
  echo "run_tests: this kernel lacks a layer of the sandbox ($layers): its tests are skipped" >&2
fi
# real footage, a screen recording and a sprite, and real GIFs with the
# animated PNGs made of them, for the tests, which fail rather than skip
# without them from here on, in every build below
export VELT_REAL_FRAMES_DIR=$PWD/build/real-frames
bash tools/real_frames.sh "$VELT_REAL_FRAMES_DIR"
bash tools/real_animations.sh "$VELT_REAL_FRAMES_DIR/animations"
export VELT_REAL_FRAMES_REQUIRED=1
# the tests of the parts on other machines start their own servers (an sshd,
# a one-node Slurm cluster): here they fail rather than skip when they cannot
export VELT_CLUSTER_REQUIRED=1
ctest --test-dir build --output-on-failure -j"$(nproc)"
bash tools/package_check.sh  # the Debian package installs and runs on its own

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVELT_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$(nproc)"
ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)"

bash tools/fuzz_reader.sh 60
bash tools/fuzz_sandbox.sh 60 all
bash tools/fuzz_decoders.sh 60 all
