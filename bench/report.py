#!/usr/bin/env python3
"""Turns the raw outputs of bench/run_bench.sh into one markdown report: the
machine, the code measured, and the tables. Every ratio is computed here from
the raw timings of one run. With --update-readme FILE it also replaces the
part of FILE between the results markers."""
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
SEQUENCE_NAMES = {"photo": "photograph", "camera": "camera", "screen": "screen recording"}
# the sequences of real footage, for the figures against the decoding floor
REAL = ("camera", "screen")
# the sequences of the --jobs speed-up target
SPEED_UP = ("photo", "camera")
NOT_MEASURED = "not measured"


def read(path):
    with open(path) as f:
        return f.read()


def read_if(path):
    return read(path) if os.path.exists(path) else ""


def machine_lines(data):
    cpu = "unknown"
    for line in read("/proc/cpuinfo").splitlines():
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
    code = read(os.path.join(data, "code.txt")).splitlines()
    head, status = (code[0] if code else "unknown"), code[1:]
    changed = ", ".join(s.strip() for s in status) if status else "none"
    start = read_if(os.path.join(data, "load-start.txt")).strip() or "unknown"
    end = read_if(os.path.join(data, "load-end.txt")).strip() or " ".join(read("/proc/loadavg").split()[:3])
    date = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return [
        f"- Machine: {os.cpu_count()} cores (`nproc`), {cpu}; load average {start} at the start, "
        f"{end} at the end",
        f"- Date: {date}",
        f"- Code (as built for this run): `{head}`; uncommitted changes: {changed}",
    ]


def per_block_table(data):
    path = os.path.join(data, "search.json")
    if not os.path.exists(path):
        return ["Not measured in this run (VELT_BENCH_SEARCH=0)."], {}
    results = json.loads(read(path))
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
    text = read_if(os.path.join(data, "callgrind.tsv"))
    if not text:
        return []
    counts = {}
    for line in text.splitlines():
        mode, where, path, ir = line.split("\t")
        counts[(int(mode), where, path)] = int(ir) / 64
    lines = [
        "",
        "",
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


class Runs:
    """The timed runs of one mode on one sequence: per program, the wall and
    CPU (user + system) seconds and the peak KiB of each run."""

    def __init__(self, path):
        self.wall, self.cpu, self.peak = {}, {}, {}
        for line in read(path).splitlines():
            label, elapsed, user, system, kib = line.split()
            self.wall.setdefault(label, []).append(float(elapsed))
            self.cpu.setdefault(label, []).append(float(user) + float(system))
            self.peak.setdefault(label, []).append(int(kib))

    def has(self, label):
        return label in self.wall

    def count(self):
        return len(self.wall["sandbox"])

    def w(self, label):
        return median(self.wall[label])

    def c(self, label):
        return median(self.cpu[label])

    def spread(self):
        """The largest max / min - 1 of one program's wall times."""
        return max((max(v) / min(v) - 1 for v in self.wall.values() if min(v) > 0), default=0.0)


def read_sequences(data):
    """name -> (mode 0 frames, mode 2 frames, size), in the order measured."""
    sequences = {}
    for line in read(os.path.join(data, "sequences.tsv")).splitlines():
        name, frames, mode2_frames, size = line.split("\t")
        sequences[name] = (int(frames), int(mode2_frames), size)
    return sequences


def read_runs(data, sequences):
    """(mode, sequence) -> Runs; (mode, sequence) -> {program: same | DIFFERENT}."""
    runs, compare = {}, {}
    for mode in (0, 2):
        for name in sequences:
            text = read_if(os.path.join(data, f"runs-m{mode}-{name}.tsv"))
            if not text.strip():
                continue
            runs[(mode, name)] = Runs(os.path.join(data, f"runs-m{mode}-{name}.tsv"))
            lines = read_if(os.path.join(data, f"compare-m{mode}-{name}.tsv")).splitlines()
            compare[(mode, name)] = dict(line.split("\t") for line in lines)
    return runs, compare


def sequence_label(sequences, mode, name):
    frames, mode2_frames, size = sequences[name]
    return f"{SEQUENCE_NAMES.get(name, name)}, {mode2_frames if mode == 2 else frames} frames {size}"


def whole_run_table(runs, compare, sequences):
    lines = [
        "Seconds per run, medians; the programs take turns run by run. Sandbox is "
        "`velt-encode-flags`, native `tools/velt-encode-native`; the decode-only run "
        "(`velt-decode-only`) decodes the same frames and frame 0 again inside the sandbox, "
        "the floor under a run. CPU = user + system time. Mode 2 runs take the first frames of "
        "each sequence and fewer runs, to keep the whole benchmark short. Spread: the largest "
        "max / min - 1 of one program's wall times over the runs of a row, the machine's noise.",
        "",
        "| mode | sequence | runs | sandbox wall | native wall | decode only wall | sandbox CPU | "
        "native CPU | CPU: sandbox / native | wall: sandbox / native | wall: sandbox / decode only | "
        "spread | sandbox = native output |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    for (mode, name), r in runs.items():
        same = compare[(mode, name)].get("sandbox", "not compared")
        lines.append(
            f"| {mode} | {sequence_label(sequences, mode, name)} | {r.count()} | {r.w('sandbox'):.2f} | "
            f"{r.w('native'):.2f} | {r.w('decode'):.3f} | {r.c('sandbox'):.2f} | {r.c('native'):.2f} | "
            f"{r.c('sandbox') / r.c('native'):.2f}x | {r.w('sandbox') / r.w('native'):.2f}x | "
            f"{r.w('sandbox') / r.w('decode'):.1f}x | {r.spread():.0%} | {same} |"
        )
    return lines


def parallel_table(runs, compare, sequences, jobs):
    many = f"jobs{jobs}"
    if not any(r.has(many) for r in runs.values()):
        return [f"{NOT_MEASURED.capitalize()}: this build's `velt encode` has no `--jobs` option."]
    lines = [
        f"`velt encode INPUT OUT.velt --jobs N --quiet`, timed in the same turns as the whole runs "
        f"above (seconds, medians; `--jobs 1` in mode 0 and in mode 2 on the photograph). Speed-up = "
        f"wall time of `--jobs 1` / wall time of `--jobs {jobs}`; CPU = user + system time of all its "
        f"processes; the decode-only run is the one of the same row above.",
        "",
        f"| mode | sequence | runs | --jobs 1 wall | --jobs {jobs} wall | speed-up | --jobs 1 CPU | "
        f"--jobs {jobs} CPU | --jobs 1 / decode only | --jobs {jobs} / decode only | outputs = native |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    for (mode, name), r in runs.items():
        if not r.has(many):
            continue
        one = r.has("jobs1")
        checked = [v for k, v in compare[(mode, name)].items() if k in ("jobs1", many)]
        same = "same" if checked and all(v == "same" for v in checked) else "DIFFERENT"
        cells = [
            f"{r.w('jobs1'):.2f}" if one else "–",
            f"{r.w(many):.2f}",
            f"{r.w('jobs1') / r.w(many):.2f}x" if one else "–",
            f"{r.c('jobs1'):.2f}" if one else "–",
            f"{r.c(many):.2f}",
            f"{r.w('jobs1') / r.w('decode'):.1f}x" if one else "–",
            f"{r.w(many) / r.w('decode'):.1f}x",
        ]
        lines.append(f"| {mode} | {sequence_label(sequences, mode, name)} | {r.count()} | "
                     + " | ".join(cells) + f" | {same} |")
    return lines


def baseline_table(runs, compare, sequences, jobs, baseline, built):
    r = runs.get((2, "photo"))
    many = f"jobs{jobs}"
    if not built or not r or not r.has("baseline"):
        return [f"{NOT_MEASURED.capitalize()}: no build of {baseline} could be made."], None
    parallel = r.has(many)
    ratio = r.w("baseline") / r.w(many) if parallel else None
    same = compare[(2, "photo")].get("baseline", "not compared")
    lines = [
        f"Mode 2 on the photograph: `velt-encode-flags` of the build of `{baseline}` (checked out "
        f"and built under the build folder) against this build's `velt-encode-flags` and "
        f"`velt encode --jobs {jobs}`, in the same turns as the whole runs above (seconds, medians).",
        "",
        f"| sequence | runs | {baseline} wall | {baseline} CPU | sandbox wall | --jobs {jobs} wall | "
        f"{baseline} / sandbox (wall) | {baseline} / --jobs {jobs} (wall) | {baseline} = native output |",
        "|---|---:|---:|---:|---:|---:|---:|---:|---|",
        f"| {sequence_label(sequences, 2, 'photo')} | {r.count()} | {r.w('baseline'):.2f} | "
        f"{r.c('baseline'):.2f} | {r.w('sandbox'):.2f} | {f'{r.w(many):.2f}' if parallel else '–'} | "
        f"{r.w('baseline') / r.w('sandbox'):.2f}x | {f'{ratio:.2f}x' if parallel else '–'} | {same} |",
    ]
    return lines, ratio


def memory_table(data, runs, sequences, jobs):
    lines = [
        "Peak resident memory of the largest process of a run (`/usr/bin/time -f %M`, KiB, the "
        "largest over the runs above):",
        "",
        "| mode | sequence | sandbox | native | decode only |",
        "|---|---|---:|---:|---:|",
    ]
    for (mode, name), r in runs.items():
        lines.append(f"| {mode} | {sequence_label(sequences, mode, name)} | {max(r.peak['sandbox']):,} | "
                     f"{max(r.peak['native']):,} | {max(r.peak['decode']):,} |")
    tree = {}
    for line in read_if(os.path.join(data, "tree-memory.tsv")).splitlines():
        n, total, largest, processes = line.split("\t")
        tree[int(n)] = (int(total), int(largest), int(processes))
    figure = None
    lines += ["", "Peak memory of `velt encode --jobs N`, mode 0, "
              f"{sequence_label(sequences, 0, 'photo')}, summed over the parent and its workers "
              "(`bench/tree_memory.py`: each process's last VmHWM sampled every 5 ms, added up; an "
              "upper bound of what they held at once), KiB:", ""]
    if 1 not in tree or jobs not in tree:
        lines.append(f"{NOT_MEASURED.capitalize()}: this build's `velt encode` has no `--jobs` option.")
        return lines, figure
    one, limit = tree[1][0], jobs * tree[1][0] + 20 * 1024
    lines += [
        "| jobs | processes | sum of peaks | largest process | limit: N × one instance + 20 MiB |",
        "|---:|---:|---:|---:|---:|",
    ]
    for n in sorted(tree):
        total, largest, processes = tree[n]
        lines.append(f"| {n} | {processes} | {total:,} | {largest:,} | {n * one + 20 * 1024:,} |")
    figure = (tree[jobs][0], limit, one)
    return lines, figure


class Parts:
    """The parts of one split timed one by one by bench/part_times.py: per
    part, its frames and the wall and CPU (user + system) seconds of each
    round; the same for the join."""

    def __init__(self, path):
        self.wall, self.cpu, self.frames = {}, {}, {}
        for line in read(path).splitlines():
            kind, k, elapsed, user, system, first, end = line.split("\t")
            key = "join" if kind == "join" else int(k)
            self.wall.setdefault(key, []).append(float(elapsed))
            self.cpu.setdefault(key, []).append(float(user) + float(system))
            if kind == "part":
                self.frames[key] = int(end) - int(first)

    def parts(self):
        return sorted(k for k in self.wall if k != "join")

    def w(self, key):
        return median(self.wall[key])

    def c(self, key):
        return median(self.cpu[key])


def scaling_table(data, runs, sequences, jobs, wide):
    splits = [line.split("\t") for line in read_if(os.path.join(data, "parts-compare.tsv")).splitlines()]
    if not splits:
        return [f"{NOT_MEASURED.capitalize()}: this build's `velt encode` has no `--jobs` option."]
    lines = [
        f"The parts of `velt encode INPUT PART --part K/N --quiet`, for N = {wide} and N = {jobs}, each run "
        f"alone, one after another, then `velt join` of the N parts (seconds, medians over the rounds of "
        f"each part). On N cores each part would have a core of its own, so the projected time is the "
        f"slowest part plus the join, computed from CPU (user + system) seconds, which the other work on "
        f"this machine disturbs least, and in brackets from wall seconds. Projected speed-up = `--jobs 1` "
        f"/ projected time, CPU by CPU and wall by wall; the measured speed-up is the wall one of the "
        f"parallel runs above, the check of the method with N = {jobs}. Parts' CPU = the CPU seconds of "
        f"the N parts summed, against `--jobs 1`: the cost of decoding frame 0 and the frame before each "
        f"part again, and of starting N instances.",
        "",
        "| mode | sequence | parts | frames a part | slowest part, CPU (wall) | join, CPU (wall) | "
        "projected, CPU (wall) | --jobs 1, CPU (wall) | projected speed-up, CPU (wall) | "
        "measured speed-up | parts' CPU / --jobs 1 CPU | joined = native |",
        "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|",
    ]
    for mode, name, n, same in splits:
        mode, n = int(mode), int(n)
        p = Parts(os.path.join(data, f"parts-m{mode}-{name}-{n}.tsv"))
        slowest = max(p.parts(), key=p.c)
        slowest_wall = max(p.w(k) for k in p.parts())
        cpu, wall = p.c(slowest) + p.c("join"), slowest_wall + p.w("join")
        sizes = sorted(p.frames.values())
        r = runs.get((mode, name))
        one = r is not None and r.has("jobs1")
        measured = one and r.has(f"jobs{n}")
        cells = [
            f"{sizes[0]}" if sizes[0] == sizes[-1] else f"{sizes[0]}–{sizes[-1]}",
            f"{p.c(slowest):.3f} ({slowest_wall:.3f}), part {slowest}",
            f"{p.c('join'):.3f} ({p.w('join'):.3f})",
            f"{cpu:.3f} ({wall:.3f})",
            f"{r.c('jobs1'):.2f} ({r.w('jobs1'):.2f})" if one else "–",
            f"{r.c('jobs1') / cpu:.2f}x ({r.w('jobs1') / wall:.2f}x)" if one else "–",
            f"{r.w('jobs1') / r.w(f'jobs{n}'):.2f}x" if measured else "–",
            f"{sum(p.c(k) for k in p.parts()) / r.c('jobs1'):.2f}x" if one else "–",
        ]
        lines.append(f"| {mode} | {sequence_label(sequences, mode, name)} | {n} | " + " | ".join(cells)
                     + f" | {same} |")
    return lines


def listed(values, fmt):
    """'photograph 1.23x, camera 1.31x' from (label, value) pairs."""
    return ", ".join(f"{label} {fmt.format(v)}".strip() for label, v in values)


def targets_table(per_block, runs, sequences, jobs, baseline, baseline_ratio, memory):
    rows = []

    def row(figure, target, values, fmt, met):
        measured = listed(values, fmt) if values else NOT_MEASURED
        verdict = ("yes" if all(met(v) for _, v in values) else "no") if values else "–"
        rows.append(f"| {figure} | {target} | {measured} | {verdict} |")

    if per_block:
        for mode, least in ((0, 10), (2, 30)):
            ratio = per_block[("module", mode, "photo16", "reference")] / per_block[("module", mode, "photo16", "fast")]
            row(f"mode {mode} search in the module, 16-colour blocks, reference / fast", f"≥ {least}x",
                [("", ratio)], "{:.1f}x", lambda v, least=least: v >= least)
    else:
        row("search in the module, 16-colour blocks, reference / fast", "≥ 10x (mode 0), ≥ 30x (mode 2)",
            [], "", None)
    many = f"jobs{jobs}"
    for mode, most in ((0, 1.15), (2, 1.25)):
        cpu = [(SEQUENCE_NAMES[s], r.c("sandbox") / r.c("native")) for (m, s), r in runs.items() if m == mode]
        row(f"whole run, sandbox / native (CPU), mode {mode}, photograph and real footage", f"≤ {most}x",
            cpu, "{:.2f}x", lambda v, most=most: v <= most)
    search = [(f"mode {m} {SET_NAMES[s][:3]}", v / per_block[("native", m, s, p)])
              for (where, m, s, p), v in per_block.items() if where == "module" and p == "fast"]
    if search:
        worst = max(search, key=lambda item: item[1])
        row(f"per-block search, module / native (fast; all {len(search)} rows)", "≤ 1.3x",
            [(f"worst {worst[0]}", worst[1]),
             ("median", median([v for _, v in search]))], "{:.2f}x", lambda v: v <= 1.3)
    else:
        row("per-block search, module / native", "≤ 1.3x", [], "", None)
    speed = [(SEQUENCE_NAMES[s], runs[(0, s)].w("jobs1") / runs[(0, s)].w(many))
             for s in SPEED_UP if (0, s) in runs and runs[(0, s)].has("jobs1") and runs[(0, s)].has(many)]
    frames = min((sequences[s][0] for s in SPEED_UP if s in sequences), default=0)
    row(f"`velt encode --jobs {jobs}` / `--jobs 1`, {frames} frames, mode 0 (wall)", "≥ 1.9x faster",
        speed, "{:.2f}x", lambda v: v >= 1.9)
    one = [(SEQUENCE_NAMES[s], runs[(0, s)].w("sandbox") / runs[(0, s)].w("decode")) for s in REAL if (0, s) in runs]
    row("whole run mode 0 on real footage, 1 job (`velt-encode-flags`), / decode-only floor (wall)", "≤ 4x",
        one, "{:.1f}x", lambda v: v <= 4)
    two = [(SEQUENCE_NAMES[s], runs[(0, s)].w(many) / runs[(0, s)].w("decode"))
           for s in REAL if (0, s) in runs and runs[(0, s)].has(many)]
    row(f"whole run mode 0 on real footage, {jobs} jobs, / decode-only floor (wall)", "≤ 2.5x",
        two, "{:.1f}x", lambda v: v <= 2.5)
    old = [("", baseline_ratio)] if baseline_ratio is not None else []
    row(f"whole run mode 2, photograph, {jobs} jobs, against the build of `{baseline}` (wall)",
        "≥ 2.5x faster", old, "{:.2f}x", lambda v: v >= 2.5)
    if memory:
        total, limit, single = memory
        rows.append(f"| peak memory, {jobs} jobs (all processes) | ≤ N × one instance + 20 MiB | "
                    f"{total / 1024:.1f} MiB; one instance {single / 1024:.1f} MiB, limit {limit / 1024:.1f} MiB | "
                    f"{'yes' if total <= limit else 'no'} |")
    else:
        rows.append(f"| peak memory, {jobs} jobs (all processes) | ≤ N × one instance + 20 MiB | "
                    f"{NOT_MEASURED} | – |")
    return ["| figure | target | measured | met |", "|---|---|---|---|"] + rows


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("data")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--parts", type=int, default=16, help="the part count of the projection")
    parser.add_argument("--baseline", default="edc7dde", help="the commit of the older build timed")
    parser.add_argument("--update-readme")
    args = parser.parse_args()

    sequences = read_sequences(args.data)
    runs, compare = read_runs(args.data, sequences)
    built = read_if(os.path.join(args.data, "baseline.txt")).strip()
    block_lines, per_block = per_block_table(args.data)
    baseline_lines, baseline_ratio = baseline_table(runs, compare, sequences, args.jobs, args.baseline, built)
    memory_lines, memory = memory_table(args.data, runs, sequences, args.jobs)
    targets = targets_table(per_block, runs, sequences, args.jobs, args.baseline, baseline_ratio, memory)

    out = [BEGIN, ""] + machine_lines(args.data) + ["", "### Targets", ""] + targets
    out += ["", "### Per-block search time", ""] + block_lines + callgrind_table(args.data)
    out += ["", "### Whole runs", ""] + whole_run_table(runs, compare, sequences)
    out += ["", "### Parallel runs", ""] + parallel_table(runs, compare, sequences, args.jobs)
    out += ["", "### Scaling on paper", ""] + scaling_table(args.data, runs, sequences, args.jobs, args.parts)
    out += ["", f"### Against the build of {args.baseline}", ""] + baseline_lines
    out += ["", "### Peak memory", ""] + memory_lines + ["", END]
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
