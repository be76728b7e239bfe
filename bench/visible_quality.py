#!/usr/bin/env python3
"""Visible PSNR and SSIM of an animation's frames against their sources, the
figures of 'velt compare' (toolkit/quality/visible_quality.h) for files that are not
VELT files: each picture composited over black and over white, the worse
background taken. Overall, each background's squared errors are summed over
every frame and its SSIM is the mean of the frames' SSIM. SSIM is that of the
luma (BT.601, in 1/255 of a level), in windows of 8x8 pixels placed every 4.

The animation is an animated WebP (decoded by PIL, its frames laid out in
time by their durations, so that frames the encoder merged count as often as
they are shown), a GIF (decoded by ffmpeg, which must give one frame per
source frame) or a folder of frame_N.png. Prints one JSON object, shaped
like velt compare's: {"frames": N, "overall": {"visible_psnr": dB or null
when exact, "visible_ssim": S}}."""
import argparse
import glob
import json
import math
import os
import subprocess
import tempfile

import numpy as np
from PIL import Image, ImageSequence

C1 = (0.01 * 255 * 255) ** 2
C2 = (0.03 * 255 * 255) ** 2


def load(path):
    return np.asarray(Image.open(path).convert("RGBA"), dtype=np.int64)


def numbered_frames(folder):
    count = len(glob.glob(os.path.join(folder, "frame_*.png")))
    return [load(os.path.join(folder, f"frame_{n}.png")) for n in range(count)]


def webp_frames(path, count, frame_ms):
    """The frame shown at n * frame_ms for n below count."""
    shown, start = [], 0
    with Image.open(path) as animation:
        for frame in ImageSequence.Iterator(animation):
            shown.append((start, np.asarray(frame.convert("RGBA"), dtype=np.int64)))
            start += frame.info["duration"]
    frames = []
    for n in range(count):
        frames.append([pixels for at, pixels in shown if at <= n * frame_ms][-1])
    return frames


def gif_frames(path):
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-fps_mode", "passthrough",
                        "-pix_fmt", "rgba", "-start_number", "0",
                        os.path.join(folder, "frame_%d.png")], check=True)
        return numbered_frames(folder)


def window_sums(block_sums, sx, sy):
    """Sums over windows of sx by sy blocks placed every block."""
    down, across = block_sums.shape
    total = np.zeros((down - sy + 1, across - sx + 1), dtype=np.int64)
    for j in range(sy):
        for i in range(sx):
            total += block_sums[j:j + down - sy + 1, i:i + across - sx + 1]
    return total


def mean_ssim(x, y):
    """Mean SSIM of two luma pictures (int64, 1/255 of a level)."""
    h, w = x.shape
    down, across = h // 4, w // 4

    def blocks(v):
        return v[:down * 4, :across * 4].reshape(down, 4, across, 4).sum(axis=(1, 3))

    sx, sy = min(2, across), min(2, down)
    n = 16 * sx * sy
    sd, ss = window_sums(blocks(x), sx, sy), window_sums(blocks(y), sx, sy)
    sdd, sss = window_sums(blocks(x * x), sx, sy), window_sums(blocks(y * y), sx, sy)
    sds = window_sums(blocks(x * y), sx, sy)
    mean_product = (2 * sd * ss).astype(np.float64)
    mean_squares = (sd * sd + ss * ss).astype(np.float64)
    covariance = (2 * (n * sds - sd * ss)).astype(np.float64)
    variances = ((n * sdd - sd * sd) + (n * sss - ss * ss)).astype(np.float64)
    nn = float(n * n)
    ssim = ((mean_product + C1 * nn) * (covariance + C2 * nn)) / (
        (mean_squares + C1 * nn) * (variances + C2 * nn))
    return float(ssim.mean())


def frame_figures(decoded, source):
    """Squared errors over black and over white, and SSIM over each."""
    da, sa = decoded[..., 3:4], source[..., 3:4]
    difference = decoded[..., :3] * da - source[..., :3] * sa
    showing = 255 * (255 - da) - 255 * (255 - sa)  # what white adds, per channel
    over_black = int((difference * difference).sum())
    over_white = int(((difference + showing) ** 2).sum())

    def luma(p):
        return ((299 * p[..., 0] + 587 * p[..., 1] + 114 * p[..., 2]) * p[..., 3] + 500) // 1000

    ld, ls = luma(decoded), luma(source)
    ssim_black = mean_ssim(ld, ls)
    ssim_white = mean_ssim(ld + 255 * (255 - decoded[..., 3]), ls + 255 * (255 - source[..., 3]))
    return over_black, over_white, ssim_black, ssim_white


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("sources", help="folder of the source frames frame_N.png")
    parser.add_argument("animation", help="an animated .webp, a .gif or a folder of frame_N.png")
    parser.add_argument("--frame-ms", type=int, default=50,
                        help="each source frame's duration in the WebP file")
    args = parser.parse_args()

    sources = numbered_frames(args.sources)
    if args.animation.endswith(".webp"):
        decoded = webp_frames(args.animation, len(sources), args.frame_ms)
    elif args.animation.endswith(".gif"):
        decoded = gif_frames(args.animation)
    else:
        decoded = numbered_frames(args.animation)
    if len(decoded) != len(sources) or decoded[0].shape != sources[0].shape:
        raise SystemExit(f"{args.animation}: {len(decoded)} frames of {decoded[0].shape}, "
                         f"not {len(sources)} of {sources[0].shape}")

    black = white = 0
    ssim_black = ssim_white = 0.0
    for d, s in zip(decoded, sources):
        b, w, sb, sw = frame_figures(d, s)
        black, white = black + b, white + w
        ssim_black, ssim_white = ssim_black + sb, ssim_white + sw
    squared = max(black, white)
    pixels = len(sources) * sources[0].shape[0] * sources[0].shape[1]
    psnr = None if squared == 0 else 10 * math.log10(255 ** 4 * 3 * pixels / squared)
    print(json.dumps({"frames": len(sources), "overall": {
        "visible_psnr": psnr, "visible_ssim": min(ssim_black, ssim_white) / len(sources)}}))


if __name__ == "__main__":
    main()
