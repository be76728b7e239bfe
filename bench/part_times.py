#!/usr/bin/env python3
"""Times the parts of a split encode one after another, for a projection of
how fast the parts would go on as many cores as there are parts: runs

    VELT encode INPUT WORKDIR/part.K --part K/N --quiet --mode MODE

for K = 0 .. N-1, each alone, then

    VELT join WORKDIR/joined.velt WORKDIR/part.0 ... WORKDIR/part.N-1

and appends one line per command to OUT (tab-separated):

    part  K  WALL  USER  SYSTEM  FIRST  END
    join  -  WALL  USER  SYSTEM  -      -

Wall seconds from a monotonic clock; user and system seconds from the
child's own resource usage, in microseconds where GNU time prints hundredths.
(No peak memory: a child forked from this interpreter reports at least the
interpreter's.) FIRST and END are the frames the part holds, read from its
header. With --runs R the parts and the join are run R times in turn.
The joined file is left in WORKDIR for the caller to compare."""
import argparse
import os
import struct
import subprocess
import sys
import time

# the part file's header: "VELTPART", then little-endian fields; the frames
# first .. end - 1 it holds are the 32-bit fields at these offsets
PART_MAGIC = b"VELTPART"
PART_OFFSET_FIRST = 28
PART_HEADER_SIZE = 256


def timed(command):
    """(wall, user, system) seconds of one command, which must succeed."""
    start = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"part_times: {' '.join(command)} failed with status {child.returncode}")
    return wall, usage.ru_utime, usage.ru_stime


def frames_of(part):
    with open(part, "rb") as f:
        header = f.read(PART_HEADER_SIZE)
    if len(header) < PART_HEADER_SIZE or not header.startswith(PART_MAGIC):
        sys.exit(f"part_times: {part} is not a part file")
    return struct.unpack_from("<II", header, PART_OFFSET_FIRST)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("velt")
    parser.add_argument("input")
    parser.add_argument("workdir")
    parser.add_argument("--parts", type=int, required=True)
    parser.add_argument("--mode", default="opaque")
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    os.makedirs(args.workdir, exist_ok=True)
    parts = [os.path.join(args.workdir, f"part.{k}") for k in range(args.parts)]
    joined = os.path.join(args.workdir, "joined.velt")
    with open(args.out, "a") as out:
        for _ in range(args.runs):
            for k, part in enumerate(parts):
                figures = timed([args.velt, "encode", args.input, part, "--part", f"{k}/{args.parts}",
                                 "--quiet", "--mode", args.mode])
                first, end = frames_of(part)
                print("part", k, *(f"{v:.6f}" for v in figures), first, end, sep="\t", file=out)
            figures = timed([args.velt, "join", joined] + parts)
            print("join", "-", *(f"{v:.6f}" for v in figures), "-", "-", sep="\t", file=out)
            out.flush()


if __name__ == "__main__":
    main()
