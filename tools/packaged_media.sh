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

# fetch_package_files PACKAGE DEST SHA256 PATH...
# Takes the files PATH... out of PACKAGE's .deb into DEST, each under its own
# name, unless they are there already. The package is fetched with apt-get
# download and opened with dpkg-deb, not installed, so none of its
# dependencies comes along. SHA256 is the checksum of the files' contents one
# after another in the order given (for one file, its own): anything else is
# an error, since every figure and test was made with these files.
fetch_package_files() {
  local package=$1 dest=$2 sum=$3
  shift 3
  local names=() path
  for path in "$@"; do names+=("$dest/$(basename "$path")"); done
  if [ -d "$dest" ] && [ "$(cat "${names[@]}" 2>/dev/null | sha256sum | cut -d' ' -f1)" = "$sum" ]; then
    return 0
  fi
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
  local members=()
  for path in "$@"; do members+=(".$path"); done
  dpkg-deb --fsys-tarfile "$work/$package"_*.deb |
    tar -x -C "$work/files" --transform='s,.*/,,' "${members[@]}"
  mv "$work/files"/* "$dest/"
  rm -rf "$work"
  if [ "$(cat "${names[@]}" | sha256sum | cut -d' ' -f1)" != "$sum" ]; then
    echo "$0: the files taken from $package are not the ones these frames were made with" >&2
    return 1
  fi
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
