#!/usr/bin/env python3
"""Turns the outputs of bench/run_bench.sh into one markdown report: the
machine, the code measured, and the tables. With --update-readme FILE it also
replaces the part of FILE between the results markers."""
import argparse
import datetime
import json
import os
import re

BEGIN = "<!-- results:begin -->"
END = "<!-- results:end -->"
SET_NAMES = {
    "photo16": "(a) photo, 16 colours",
    "few": "(b) 2-4 colours",
    "photo": "(c) photo blocks",
    "alpha": "(d) photo, with alpha",
}


def read(path):
    with open(path) as f:
        return f.read()


def machine_lines(data):
    cpu = "unknown"
    for line in read("/proc/cpuinfo").splitlines():
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    code = read(os.path.join(data, "code.txt")).splitlines()
    head, status = (code[0] if code else "unknown"), code[1:]
    changed = ", ".join(s.strip() for s in status) if status else "none"
    load = read("/proc/loadavg").split()[:3]
    date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return [
        f"- Machine: {os.cpu_count()} cores (`nproc`), {cpu}, load average {' '.join(load)} at the end",
        f"- Date: {date}",
        f"- Code (as built for this run): `{head}`; uncommitted changes: {changed}",
    ]


def per_block_table(data):
    results = json.loads(read(os.path.join(data, "search.json")))
    # (where, mode, set, path) -> microseconds per block, median CPU time
    per_block = {}
    for b in results["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        where, mode, set_name, path = b["run_name"].split("/")[:4]
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3}[b["time_unit"]]
        per_block[(where, int(mode[4:]), set_name, path)] = b["cpu_time"] * scale / b["blocks"]
    check = re.search(r"^check: .*$", read(os.path.join(data, "search.txt")), re.M)
    lines = [
        "Microseconds per block (median CPU time of 5 repetitions over 64 blocks); the ratio is reference / fast.",
        "",
        "| mode | blocks | native fast | native reference | ratio | module fast | module reference | ratio | module / native (fast) |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for mode in range(4):
        for set_name, label in SET_NAMES.items():
            key = lambda where, path: (where, mode, set_name, path)
            if key("native", "fast") not in per_block:
                continue
            nf, nr = per_block[key("native", "fast")], per_block[key("native", "reference")]
            mf, mr = per_block[key("module", "fast")], per_block[key("module", "reference")]
            lines.append(
                f"| {mode} | {label} | {nf:.2f} | {nr:.1f} | {nr / nf:.1f}x | {mf:.2f} | {mr:.1f} | "
                f"{mr / mf:.1f}x | {mf / nf:.2f}x |"
            )
    lines.append("")
    lines.append(f"Records check: {check.group(0)[len('check: '):] if check else 'not run'}.")
    return lines, per_block


def callgrind_table(data):
    counts = {}
    for line in read(os.path.join(data, "callgrind.tsv")).splitlines():
        mode, where, path, ir = line.split("\t")
        counts[(int(mode), where, path)] = int(ir) / 64
    lines = [
        "Instructions per block (callgrind, encoding of the 64 blocks of set (a) only):",
        "",
        "| mode | where | fast | reference | ratio |",
        "|---|---|---:|---:|---:|",
    ]
    for mode in (0, 2):
        for where in ("native", "module"):
            fast, ref = counts.get((mode, where, "fast")), counts.get((mode, where, "reference"))
            if fast and ref:
                lines.append(f"| {mode} | {where} | {fast:,.0f} | {ref:,.0f} | {ref / fast:.1f}x |")
    return lines


def median(values):
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def whole_run_table(data, mode2_frames, mode2_size):
    lines = [
        "Seconds per run, medians; the three programs take turns run by run. The decode-only run "
        "decodes the same frames and frame 0 again inside the sandbox. CPU = user + system time.",
        "",
        "| mode | sequence | runs | sandbox | native | decode only | sandbox / native | "
        "sandbox / decode only | CPU: sandbox / native | CPU: sandbox / decode only | sandbox = native output |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    ratios = {}
    for mode, frames, size in ((0, 5, "1020x764"), (2, mode2_frames, mode2_size)):
        path = os.path.join(data, f"run{mode}.tsv")
        if not os.path.exists(path):
            continue
        wall, cpu = {}, {}
        for line in read(path).splitlines():
            label, elapsed, user, system, _ = line.split()
            wall.setdefault(label, []).append(float(elapsed))
            cpu.setdefault(label, []).append(float(user) + float(system))
        s, n, d = (median(wall[k]) for k in ("sandbox", "native", "decode"))
        cs, cn, cd = (median(cpu[k]) for k in ("sandbox", "native", "decode"))
        same = read(os.path.join(data, f"run{mode}.compare")).strip()
        lines.append(
            f"| {mode} | {frames} frames {size} | {len(wall['sandbox'])} | {s:.2f} | {n:.2f} | {d:.3f} | "
            f"{s / n:.2f}x | {s / d:.1f}x | {cs / cn:.2f}x | {cs / cd:.1f}x | {same} |"
        )
        ratios[mode] = (s / n, s / d)
    return lines, ratios


def memory_table(data):
    kb = {}
    for line in read(os.path.join(data, "memory.tsv")).splitlines():
        program, frames, value = line.split("\t")
        kb[(program, int(frames))] = int(value)
    lines = [
        "Peak resident memory of a mode 0 run (`/usr/bin/time -f %M`, KiB):",
        "",
        "| program | 5 frames | 20 frames |",
        "|---|---:|---:|",
    ]
    for program, label in (("sandbox", "velt-encode (sandbox)"), ("native", "velt-encode-native")):
        lines.append(f"| {label} | {kb[(program, 5)]:,} | {kb[(program, 20)]:,} |")
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("data")
    parser.add_argument("--mode2-frames", default="5")
    parser.add_argument("--mode2-size", default="1020x764")
    parser.add_argument("--update-readme")
    args = parser.parse_args()

    block_lines, per_block = per_block_table(args.data)
    run_lines, ratios = whole_run_table(args.data, args.mode2_frames, args.mode2_size)
    targets = []
    if ("module", 0, "photo16", "fast") in per_block:
        r0 = per_block[("module", 0, "photo16", "reference")] / per_block[("module", 0, "photo16", "fast")]
        r2 = per_block[("module", 2, "photo16", "reference")] / per_block[("module", 2, "photo16", "fast")]
        targets.append(f"| mode 0 search in the module, 16-colour blocks, reference / fast | at least 10x | {r0:.1f}x |")
        targets.append(f"| mode 2 search in the module, 16-colour blocks, reference / fast | at least 30x | {r2:.1f}x |")
    if 0 in ratios:
        targets.append(f"| whole run, mode 0, sandbox / native | at most 1.3x | {ratios[0][0]:.2f}x |")
        targets.append(f"| whole run, mode 0, sandbox / decode only | at most 3x | {ratios[0][1]:.1f}x |")
    if 2 in ratios:
        targets.append(f"| whole run, mode 2, sandbox / native | at most 1.3x | {ratios[2][0]:.2f}x |")

    out = [BEGIN, ""] + machine_lines(args.data) + ["", "### Targets", "", "| figure | target | measured |",
                                              "|---|---|---:|"] + targets
    out += ["", "### Per-block search time", ""] + block_lines
    out += ["", ""] + callgrind_table(args.data)
    out += ["", "### Whole runs", ""] + run_lines
    out += ["", "### Peak memory", ""] + memory_table(args.data) + ["", END]
    text = "\n".join(out) + "\n"
    print(text, end="")

    if args.update_readme:
        readme = read(args.update_readme)
        start, stop = readme.find(BEGIN), readme.find(END)
        if start < 0 or stop < 0:
            raise SystemExit(f"{args.update_readme}: results markers missing")
        with open(args.update_readme, "w") as f:
            f.write(readme[:start] + text.rstrip("\n") + readme[stop + len(END):])


if __name__ == "__main__":
    main()
