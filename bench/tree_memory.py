#!/usr/bin/env python3
"""Runs a command and measures the peak memory of its whole process tree: the
command and every process started under it, such as the workers of a parallel
encode. GNU time's %M is the largest single process only, so this samples
/proc every few milliseconds, keeps each process's last VmHWM (its own peak
resident size) and prints the sum of those peaks, an upper bound of what the
tree held at once, with the largest single peak and the number of processes:

    SUM_KIB MAX_KIB PROCESSES

The command's standard output is discarded; its exit status is the sampler's.
A process that lives less than one sampling interval may be missed, and one
that grows in its last interval is counted at its last sampled peak."""
import argparse
import itertools
import os
import subprocess
import sys
import time


def parent_of(pid):
    """The parent pid of a process, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return None
    # the name in brackets may hold spaces; the fields after it are fixed
    fields = stat[stat.rfind(")") + 2:].split()
    return int(fields[1])


def peak_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None  # gone, or a zombie, which has no memory left


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--interval-ms", type=float, default=5.0)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.command:
        parser.error("no command given")

    child = subprocess.Popen(args.command, stdout=subprocess.DEVNULL)
    # pid -> serial number, for the processes known to descend from the
    # command; a pid that leaves /proc is dropped from these sets, and since
    # pids are handed out in turn it cannot come back within one interval
    serials = itertools.count()
    in_tree = {child.pid: next(serials)}
    outside = set()  # pids seen once and found not to descend from it
    peaks = {}  # serial number -> last sampled VmHWM
    while True:
        finished = child.poll() is not None
        listed = {int(name) for name in os.listdir("/proc") if name.isdigit()}
        for pid in [pid for pid in in_tree if pid not in listed]:
            del in_tree[pid]
        outside &= listed
        # new pids: read each one's parent once; a child may be listed before
        # its parent is known, so settle the new ones until nothing changes
        fresh = {}
        for pid in listed:
            if pid not in in_tree and pid not in outside:
                ppid = parent_of(pid)
                if ppid is not None:
                    fresh[pid] = ppid
        changed = True
        while changed:
            changed = False
            for pid, ppid in list(fresh.items()):
                if ppid in in_tree:
                    in_tree[pid] = next(serials)
                    del fresh[pid]
                    changed = True
        outside.update(fresh)
        for pid, serial in in_tree.items():
            kib = peak_kib(pid)
            if kib is not None:
                peaks[serial] = kib
        if finished:
            break
        time.sleep(args.interval_ms / 1000)

    values = peaks.values()
    print(f"{sum(values)} {max(values, default=0)} {len(peaks)}")
    sys.exit(child.returncode)


if __name__ == "__main__":
    main()
