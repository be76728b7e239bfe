#!/usr/bin/env python3
"""Makes the benchmark's photographic frame sequence: a photograph scaled to
cover the frame size, then cropped one pixel further right in each frame, so
that every frame changes nearly everywhere. Frames are RGBA PNGs named
frame_0.png, frame_1.png, ... in the output folder."""
import argparse
import os

from PIL import Image


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("source", help="photograph (JPEG or PNG)")
    parser.add_argument("out_dir")
    parser.add_argument("--frames", type=int, default=5)
    parser.add_argument("--size", default="1020x764", help="frame size WxH")
    args = parser.parse_args()

    width, height = (int(v) for v in args.size.split("x"))
    photo = Image.open(args.source).convert("RGB")
    # cover width + one pixel per extra frame, and the height
    need_w = width + args.frames - 1
    scale = max(need_w / photo.width, height / photo.height)
    scaled_size = (max(need_w, round(photo.width * scale)), max(height, round(photo.height * scale)))
    scaled = photo.resize(scaled_size, Image.LANCZOS)
    left = (scaled.width - need_w) // 2
    top = (scaled.height - height) // 2

    os.makedirs(args.out_dir, exist_ok=True)
    for n in range(args.frames):
        frame = scaled.crop((left + n, top, left + n + width, top + height)).convert("RGBA")
        frame.save(os.path.join(args.out_dir, f"frame_{n}.png"))


if __name__ == "__main__":
    main()
