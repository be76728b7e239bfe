#!/usr/bin/env python3
"""Makes the benchmark's menu sequence from a game's menu pieces: a 256x112
part of the menu's background with two entries, each with its icon; the
second entry is highlighted and its icon turns, one frame of the icon's
animation a frame, while everything else stays still. Frames are RGBA PNGs
named frame_0.png, frame_1.png, ... in the output folder."""
import argparse
import os

from PIL import Image


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("pieces", help="folder of the menu's files (tools/packaged_media.sh)")
    parser.add_argument("out_dir")
    parser.add_argument("--frames", type=int, default=89, help="frames of the turning icon")
    args = parser.parse_args()

    def piece(name):
        return Image.open(os.path.join(args.pieces, name)).convert("RGBA")

    still = piece("back_start.png").crop((84, 96, 340, 208))
    still.alpha_composite(piece("txt_1pgame_off.png"), (50, 4))
    still.alpha_composite(piece("1pgame_0001.png"), (6, 12))
    still.alpha_composite(piece("txt_netgame_over.png"), (50, 60))
    os.makedirs(args.out_dir, exist_ok=True)
    for n in range(args.frames):
        frame = still.copy()
        frame.alpha_composite(piece(f"netgame_{n + 1:04d}.png"), (6, 68))
        frame.save(os.path.join(args.out_dir, f"frame_{n}.png"))


if __name__ == "__main__":
    main()
