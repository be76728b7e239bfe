#!/usr/bin/env bash
# Cuts a run of consecutive frames out of a video file into RGBA PNGs named
# frame_0.png, frame_1.png, ... in OUT_DIR, at the video's own frame rate.
# Frames are cropped, never scaled, so that real footage keeps its own pixels:
# to CROP (WIDTHxHEIGHT+LEFT+TOP) when it is given, else about the centre to
# the largest size whose sides are multiples of 4 and at most 1020x764 (the
# photograph sequence's size).
#
# Usage: bench/cut_video.sh VIDEO OUT_DIR START_SECONDS FRAMES [CROP]
set -euo pipefail
if [ $# -ne 4 ] && [ $# -ne 5 ]; then
  echo "usage: $0 VIDEO OUT_DIR START_SECONDS FRAMES [WIDTHxHEIGHT+LEFT+TOP]" >&2
  exit 2
fi
video=$1 out=$2 start=$3 frames=$4

if [ $# -eq 5 ]; then
  if ! [[ $5 =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]]; then
    echo "$0: the crop is WIDTHxHEIGHT+LEFT+TOP, not $5" >&2
    exit 2
  fi
  width=${BASH_REMATCH[1]} height=${BASH_REMATCH[2]}
  left=${BASH_REMATCH[3]} top=${BASH_REMATCH[4]}
else
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$video")
  src_w=${size%x*} src_h=${size#*x}
  width=$((src_w - src_w % 4))
  height=$((src_h - src_h % 4))
  ((width > 1020)) && width=1020
  ((height > 764)) && height=764
  left="(iw-$width)/2" top="(ih-$height)/2"
fi

rm -rf "$out"
mkdir -p "$out"
# -ss after -i: decode from the start and drop frames before START, so that the
# same frames come out whatever the file's key frames are
ffmpeg -nostdin -v error -i "$video" -ss "$start" -frames:v "$frames" \
  -vf "crop=$width:$height:$left:$top" -pix_fmt rgba -start_number 0 \
  "$out/frame_%d.png"
made=$(find "$out" -name 'frame_*.png' | wc -l)
if [ "$made" -ne "$frames" ]; then
  echo "$0: $video gave $made frames from ${start}s, not $frames" >&2
  exit 1
fi
echo "$out: $frames frames ${width}x${height} from ${start}s of $(basename "$video")"
