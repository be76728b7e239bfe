#!/usr/bin/env bash
# Puts the real animated GIFs that the tests and the decoding benchmark take
# into OUT_DIR, each under its own name, and makes an animated PNG of each
# beside it, NAME.png of NAME.gif. The GIFs come out of Debian packages
# (tools/packaged_media.sh: the packages are downloaded, not installed, and
# every file is checked by its checksum); ffmpeg makes the animated PNGs from
# its own decoding of the GIFs, with their transparent pixels transparent
# black, as velt's GIF decoding gives them, rather than ffmpeg's default of
# transparent white. Each animated PNG is kept by a stamp naming how it was
# made, so a second run only checks the GIFs' checksums.
#
# Usage: tools/real_animations.sh OUT_DIR   (ffmpeg, from tools/setup.sh)
set -euo pipefail
source "$(dirname "$0")/packaged_media.sh"
start_media_script "$0" "$@"

fetch_animations "$out"
made=0
for path in $(awk 'NF { print $2 }' <<<"$animation_gifs"); do
  gif="$out/$(basename "$path")"
  png="${gif%.gif}.png"
  stamp="$out/.made-$(basename "$png")-apng-trans_color-0"
  # the GIFs' bytes are fixed by their checksums, and so is what is made of them
  [ -f "$png" ] && [ -f "$stamp" ] && continue
  ffmpeg -nostdin -v error -y -trans_color 0 -i "$gif" -plays 0 -f apng "$png"
  touch "$stamp"
  made=$((made + 1))
done
echo "$out: $(awk 'NF' <<<"$animation_gifs" | wc -l) GIFs, $made animated PNGs made"
