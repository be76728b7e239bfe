#!/usr/bin/env bash
# Sets up, builds, and encodes the bundled example animation.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
build/velt-encode examples/wheel/frame_X.png build/wheel.velt 20
echo "Wrote $(pwd)/build/wheel.velt ($(stat -c %s build/wheel.velt) bytes)"
