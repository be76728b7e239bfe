# Real media that Debian packages ship, for the tests' and benchmarks' frames:
# where each file is, its checksum, and functions to take it out of its package
# and cut frames of it. Sourced by bash scripts run from the top of the
# checkout; no media is kept in the repository.

# People walking before a building, filmed from a fixed camera: 768x576, 10
# frames a second (opencv-doc 4.6.0+dfsg-12).
camera_package=opencv-doc
camera_video=/usr/share/doc/opencv-doc/examples/data/vtest.avi
camera_sha256=45cddc9490be69345cbdab64ca583be65987e864ca408038e648db99e10516cf
# A desktop's display settings in which a monitor is dragged: 1024x768, 15
# frames a second (gnome-user-docs 43.0-2).
screen_package=gnome-user-docs
screen_video=/usr/share/help/C/gnome-help/figures/display-dual-monitors.webm
screen_sha256=a4dbcf2b9b702f9dcadec0980020915f83a64dafe41052921bd416b2768304d9
# A game's penguin tapping its feet: 35 RGBA frames of 190x143, a third of
# each opaque, the rest transparent but for antialiased edges of every alpha
# (frozen-bubble-data 2.212-11); the checksum is that of frames 1 to 35 one
# after another.
sprite_package=frozen-bubble-data
sprite_frame_path=/usr/share/games/frozen-bubble/gfx/pause_%04d.png
sprite_frames=35
sprite_sha256=3386a5e18721d88cbd5deade8f35026833f67f19cdd3207cf2f55b542f9618be
# The paths in the package of the sprite's frames, one a line.
sprite_paths() {
  local n
  for ((n = 1; n <= sprite_frames; n++)); do printf "$sprite_frame_path\n" "$n"; done
}
# A game's menu, for a screen in which one small part moves: the background,
# two entries and their icons, the highlighted one's icon turning in 89 RGBA
# frames of 40x30 (frozen-bubble-data 2.212-11); the checksum is that of the
# files one after another in the order menu_paths gives.
menu_package=frozen-bubble-data
menu_folder=/usr/share/games/frozen-bubble/gfx/menu
menu_icon_frames=89
menu_sha256=16e97546f40627dddfc0b0d0dcb48485356acb1b5585243b544b7f6c02d24c39
menu_paths() {
  local n
  printf "$menu_folder/%s\n" back_start.png txt_1pgame_off.png txt_netgame_over.png \
    anims/1pgame_0001.png
  for ((n = 1; n <= menu_icon_frames; n++)); do printf "$menu_folder/anims/netgame_%04d.png\n" "$n"; done
}

# Animated GIFs, for the tests of GIF and animated PNG input and the
# decoding benchmark, one a line: package, path in it, sha256 of the file. A
# * in a path stands for the folder that names the machine's architecture.
# - gdk-pixbuf-tests 2.42.10+dfsg-1+deb12u4 (the image loader's own test
#   files; LGPL-2.1+):
#   1_partyanimsm2.gif: an illustrated desk, 660x666, 45 frames of 30 to 670
#     ms, each after the first a smaller rectangle drawn over the last, with
#     a transparent index;
#   circular-table.gif: a cartoon clip, 640x360, 9 whole opaque frames of
#     50 ms, each with its own colour table;
#   aero.gif: a paper plane folding, 350x189, 56 frames cleared to
#     transparent after showing (disposal 2), delays of 0 and 400 ms;
#   test-animation.gif: 17x17, 10 frames of 100 ms, disposals 0 and 2;
#   dispose-restore-background.gif: 2x2, 4 frames of 500 ms, smaller than the
#     canvas and cleared after showing, without a transparent index;
#   dispose-restore-previous.gif: 2x2, 5 frames, the canvas put back as it
#     was before each (disposal 3), the last without a delay.
# - libjs-jquery-colorbox 1.6.4-1.1 (MIT): loading.gif, a spinner, 32x32, 31
#   interlaced frames of 50 ms, 30 of them smaller than the canvas.
# - libjs-dojo-dijit 1.17.2+dfsg1-2.1 (BSD-3-Clause or AFL-2.1):
#   loadingAnimation.gif, a spinner, 20x20, 15 frames of 110 ms.
# - perl-tk 1:804.036-1+b2 (the Tk licence): anim.gif, a banner, 88x31, 4
#   opaque frames of 250 ms, the last three smaller than the canvas.
animation_gifs="
gdk-pixbuf-tests /usr/libexec/installed-tests/gdk-pixbuf/1_partyanimsm2.gif 655783345afa7e2692da508e6f7e0afd04101c3610fef77a1aac4ab3169b718e
gdk-pixbuf-tests /usr/libexec/installed-tests/gdk-pixbuf/circular-table.gif 14fb361c56e27dd8111821632f6ed19253033d0fbe0c1815f421021380196030
gdk-pixbuf-tests /usr/libexec/installed-tests/gdk-pixbuf/aero.gif 88bb6eaef5b38843f0687656a6b43bea7f1a8b6fac5f566d6c1a0bf61eecdb1f
gdk-pixbuf-tests /usr/libexec/installed-tests/gdk-pixbuf/test-animation.gif 0ee2db3e8c4a901bb3dc4170a7e902111f4a7c4659e8de6d0d6c954cb82b6db5
gdk-pixbuf-tests /usr/libexec/installed-tests/gdk-pixbuf/test-images/gif-test-suite/dispose-restore-background.gif b24d914965b32499f5baa80bf6ba71ef173f5ce2319a77d4cf86616cc47a7cdb
gdk-pixbuf-tests /usr/libexec/installed-tests/gdk-pixbuf/test-images/gif-test-suite/dispose-restore-previous.gif 528fd8d839ca7d7a780b04eac9947350b2852a4756db5227b72de2c769cf8f71
libjs-jquery-colorbox /usr/share/doc/libjs-jquery-colorbox/examples/example1/images/loading.gif b91986fe9ef769912225701b0accfa89edb3e8344bc8e98f92a89ccdb1f4a2cc
libjs-dojo-dijit /usr/share/javascript/dijit/icons/images/loadingAnimation.gif aa8959e32bed9ada0bacc86b999e1e03f5268389da38442b18b72fb179675f3e
perl-tk /usr/lib/*/perl5/5.36/Tk/anim.gif 767a97d8d082cfd369c471ea6ccbf07b94c8fd03f8af87123f59447824df2e15
"

# take_from_package PACKAGE DEST PATH...
# Takes the files PATH... out of PACKAGE's .deb into DEST, each under its own
# name. The package is fetched with apt-get download and opened with
# dpkg-deb, not installed, so none of its dependencies comes along.
take_from_package() {
  local package=$1 dest=$2
  shift 2
  local work
  work=$(mktemp -d)
  chown _apt "$work" 2>/dev/null || true  # apt-get downloads as its own user
  if ! (cd "$work" && { apt-get download -qq "$package" 2>/dev/null ||
    { apt-get update -qq && apt-get download -qq "$package"; }; }); then
    rm -rf "$work"
    echo "$0: cannot download the package $package" >&2
    return 1
  fi
  mkdir -p "$work/files" "$dest"
  local members=() path
  for path in "$@"; do members+=(".$path"); done
  # (a caller's `|| return` turns set -e off in here: every step is checked)
  if ! dpkg-deb --fsys-tarfile "$work/$package"_*.deb |
    tar -x -C "$work/files" --wildcards --transform='s,.*/,,' "${members[@]}" ||
    ! mv "$work/files"/* "$dest/"; then
    rm -rf "$work"
    echo "$0: cannot take the files out of the package $package" >&2
    return 1
  fi
  rm -rf "$work"
}

# fetch_package_files PACKAGE DEST SHA256 PATH...
# take_from_package's files, unless they are in DEST already. SHA256 is the
# checksum of the files' contents one after another in the order given (for
# one file, its own): anything else is an error, since every figure and test
# was made with these files.
fetch_package_files() {
  local package=$1 dest=$2 sum=$3
  shift 3
  local names=() path
  for path in "$@"; do names+=("$dest/$(basename "$path")"); done
  if [ -d "$dest" ] && [ "$(cat "${names[@]}" 2>/dev/null | sha256sum | cut -d' ' -f1)" = "$sum" ]; then
    return 0
  fi
  take_from_package "$package" "$dest" "$@" || return 1
  if [ "$(cat "${names[@]}" | sha256sum | cut -d' ' -f1)" != "$sum" ]; then
    echo "$0: the files taken from $package are not the ones these frames were made with" >&2
    return 1
  fi
}

# The start of a script that makes real media into OUT_DIR: `script` is the
# script's $0, the rest its arguments. Sets $out to OUT_DIR's absolute path
# (made if need be), goes to the top of the checkout and checks for ffmpeg.
start_media_script() {
  local script=$1
  shift
  if [ $# -ne 1 ]; then
    echo "usage: $script OUT_DIR" >&2
    exit 2
  fi
  mkdir -p "$1"
  out=$(cd "$1" && pwd)
  cd "$(dirname "$script")/.."
  command -v ffmpeg >/dev/null || { echo "$script: no ffmpeg: run tools/setup.sh" >&2; exit 1; }
}

# The sha256 of file $1, or nothing when there is no such file.
file_sha256() {
  if [ -f "$1" ]; then sha256sum "$1" | cut -d' ' -f1; fi
}

# fetch_animations DEST
# The GIFs of animation_gifs into DEST, each under its own name, unless they
# are there already; each package is downloaded once, and each file checked
# against its own checksum.
fetch_animations() {
  local dest=$1 package path sum
  local packages
  packages=$(awk 'NF { print $1 }' <<<"$animation_gifs" | uniq)
  for package in $packages; do
    local paths=() missing=0
    while read -r path sum; do
      paths+=("$path")
      [ "$(file_sha256 "$dest/$(basename "$path")")" = "$sum" ] || missing=1
    done < <(awk -v p="$package" '$1 == p { print $2, $3 }' <<<"$animation_gifs")
    [ "$missing" = 0 ] && continue
    take_from_package "$package" "$dest" "${paths[@]}" || return 1
    while read -r path sum; do
      if [ "$(file_sha256 "$dest/$(basename "$path")")" != "$sum" ]; then
        echo "$0: $(basename "$path") taken from $package is not the file the tests were made with" >&2
        return 1
      fi
    done < <(awk -v p="$package" '$1 == p { print $2, $3 }' <<<"$animation_gifs")
  done
}

# cut_sequence FOLDER VIDEO START_SECONDS FRAMES [CROP]
# bench/cut_video.sh's frames in FOLDER, kept by a stamp file naming what was
# cut, so that a later run with the same arguments reuses them.
cut_sequence() {
  local stamp="$1/.made-$(basename "$2")-$3-$4${5:+-$5}"
  [ -f "$stamp" ] && return 0
  bash bench/cut_video.sh "$2" "$1" "$3" "$4" ${5:+"$5"}
  touch "$stamp"
}

# cut_bench_videos DATA FRAMES
# The benchmarks' camera and screen sequences: FRAMES frames of each video
# from 10.0 s and from 17.0 s (the drag), cropped about the centre, into
# DATA/camera and DATA/screen; the videos stay in DATA/sources.
cut_bench_videos() {
  fetch_package_files "$camera_package" "$1/sources" "$camera_sha256" "$camera_video"
  fetch_package_files "$screen_package" "$1/sources" "$screen_sha256" "$screen_video"
  cut_sequence "$1/camera" "$1/sources/$(basename "$camera_video")" 10 "$2"
  cut_sequence "$1/screen" "$1/sources/$(basename "$screen_video")" 17 "$2"
}

# cut_sprite SOURCES FOLDER FIRST FRAMES
# FRAMES of the sprite's frames from frame FIRST (of 1 to 35), cropped to
# the 160x104 that the penguin takes, into FOLDER; the package's frames stay
# in SOURCES. Kept by a stamp, like cut_sequence.
cut_sprite() {
  local paths
  mapfile -t paths < <(sprite_paths)
  fetch_package_files "$sprite_package" "$1" "$sprite_sha256" "${paths[@]}"
  local stamp="$2/.made-sprite-$3-$4-160x104+19+39"
  [ -f "$stamp" ] && return 0
  rm -rf "$2"
  mkdir -p "$2"
  ffmpeg -nostdin -v error -start_number "$3" -i "$1/$(basename "$sprite_frame_path")" \
    -frames:v "$4" -vf crop=160:104:19:39 -pix_fmt rgba -start_number 0 "$2/frame_%d.png"
  touch "$stamp"
  echo "$2: $4 frames 160x104 from frame $3 of $(basename "$sprite_frame_path")"
}
