#!/usr/bin/env bash
# Makes the short real sequences that the tests encode, as RGBA PNGs
# OUT_DIR/NAME/frame_0.png ...: camera footage, a screen recording and a game
# sprite with transparent and half-transparent pixels, each cut from a file
# that a Debian package ships (tools/packaged_media.sh: the package files are
# downloaded, not installed, and checked by checksum). They are small, so
# that even the 12-byte modes encode them in a moment. Each sequence is kept
# by a stamp naming how it was cut, and the package files stay under
# OUT_DIR/sources, so a second run only checks their checksums.
#
# Usage: tools/real_frames.sh OUT_DIR   (ffmpeg, from tools/setup.sh)
set -euo pipefail
source "$(dirname "$0")/packaged_media.sh"
start_media_script "$0" "$@"

# people walking past a signpost: most blocks change a little, a third a lot
fetch_package_files "$camera_package" "$out/sources" "$camera_sha256" "$camera_video"
cut_sequence "$out/camera" "$out/sources/$(basename "$camera_video")" 10.0 10 160x128+336+144
# a monitor dragged across a settings pane: what moves, and codec noise
# about it where nothing does
fetch_package_files "$screen_package" "$out/sources" "$screen_sha256" "$screen_video"
cut_sequence "$out/screen" "$out/sources/$(basename "$screen_video")" 18.2 10 160x128+440+236
# the sprite's frames 13 to 22, its feet moving
cut_sprite "$out/sources/sprite" "$out/sprite" 13 10
