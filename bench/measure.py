#!/usr/bin/env python3
"""Times commands interleaved, round by round, and prints a Markdown table.

Usage: measure.py ROUNDS CASES.json

CASES.json holds a list of cases: {"case": name, "reference": argv,
"runs": [argv, ...], "target": ratio, "others": [argv, ...], "floors":
[{"run": argv, "metric": "wall" or "cpu", "target": ratio}, ...],
"cache": state, "file": path, "repeat": n}; the last five may be left
out. "runs" are the tool's commands, the ones the targets judge; "others"
are further commands timed alongside (the floors, and the runs that undo
what a floor's run changed). In every round each case runs its
reference, its runs, then its others, in the order given, all with
standard output to /dev/null, so that the slow moments of a busy machine
fall on all of them alike; a case with a repeat count does so that many
times in each round (short runs, to gather more of them). A run's wall
time spans its spawn to its reaped exit; its CPU time is the child's user
plus system time. After the timed rounds every command runs once more
under /usr/bin/time -f %M for its peak resident memory.

The cache state says how the page cache holds `file` before every run of
the case, reference included: "warm" (the default) leaves it as the runs
before left it; "cold" forces its data to the disk with fdatasync and then
drops its pages with posix_fadvise(POSIX_FADV_DONTNEED), which needs no
privilege; "read" does the same and then reads the file through in order,
as a listing before a rename would. The preparation is not timed.

A floor is one of the others: the least a program can do for the same
output or writes. A case has at most one floor of each metric; every
command but the floor itself shows its median of that metric over the
floor's, and a run of the tool over the floor's target is counted as
missed. A target of null is shown and never missed.

Every command must exit with status 0; any other status ends the
measurement, so that a failing run is never timed as a fast one.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

RSS_LIMIT_KIB = 4096


def run_timed(argv):
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        start = time.perf_counter_ns()
        pid = os.posix_spawnp(argv[0], argv, os.environ,
                              file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
        _, status, usage = os.wait4(pid, 0)
        wall_ms = (time.perf_counter_ns() - start) / 1e6
    finally:
        os.close(devnull)
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"measure.py: `{' '.join(argv)}` exited with status {code}")
    return wall_ms, (usage.ru_utime + usage.ru_stime) * 1e3


def prepare(state, path):
    if state == "warm":
        return
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fdatasync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        if state == "read":
            while os.read(fd, 1 << 20):
                pass
        elif state != "cold":
            sys.exit(f"measure.py: unknown cache state {state}")
    finally:
        os.close(fd)


def peak_rss_kib(argv):
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv,
                       stdout=subprocess.DEVNULL, check=True)
        return int(report.read().split()[-1])


def label(argv):
    # The program and its arguments without directories: the table is read
    # next to the command that made it.
    return " ".join([os.path.basename(argv[0])] + [os.path.basename(a) for a in argv[1:]])


def commands(case):
    return [case["reference"]] + case["runs"] + case.get("others", [])


def main():
    rounds = int(sys.argv[1])
    with open(sys.argv[2]) as f:
        cases = json.load(f)
    wall, cpu = {}, {}
    for _ in range(rounds):
        for case in cases:
            for argv in commands(case) * case.get("repeat", 1):
                key = (case["case"], tuple(argv))
                prepare(case.get("cache", "warm"), case.get("file"))
                w, c = run_timed(argv)
                wall.setdefault(key, []).append(w)
                cpu.setdefault(key, []).append(c)
    medians = {"wall": {k: statistics.median(v) for k, v in wall.items()},
               "cpu": {k: statistics.median(v) for k, v in cpu.items()}}

    print(f"Medians of {rounds} interleaved rounds (times a case's repeat count); ratio = median / median "
          "of the reference; floor = wall median / the case's wall floor's; CPU floor = CPU median / "
          "the case's CPU floor's.")
    print()
    print("| case | command | median ms | reference | reference ms | ratio | target | floor | "
          "CPU floor | CPU ms | peak RSS KiB |")
    print("|---|---|---:|---|---:|---:|---:|---:|---:|---:|---:|")
    missed = 0

    def within(value, target, judged=True):
        nonlocal missed
        if not judged or target is None or value <= target:
            return ""
        missed += 1
        return " (missed)"

    for case in cases:
        name = case["case"]
        ref = case["reference"]
        ref_ms = medians["wall"][(name, tuple(ref))]
        floors = {f.get("metric", "wall"): f for f in case.get("floors", [])}
        for argv in case["runs"] + case.get("others", []):
            key = (name, tuple(argv))
            judged = argv in case["runs"]
            ms = medians["wall"][key]
            ratio = ms / ref_ms
            target = case["target"]
            rss = peak_rss_kib(argv)

            def to_floor(metric):
                floor = floors.get(metric)
                if floor is None or argv == floor["run"]:
                    return ""
                r = medians[metric][key] / medians[metric][(name, tuple(floor["run"]))]
                return f"{r:.3f}{within(r, floor.get('target'), judged)}"

            print(f"| {name} | `{label(argv)}` | {ms:.2f} | `{label(ref)}` | {ref_ms:.2f} | "
                  f"{ratio:.3f}{within(ratio, target, judged)} | {target if target is not None else '-'} | "
                  f"{to_floor('wall')} | {to_floor('cpu')} | {medians['cpu'][key]:.2f} | "
                  f"{rss}{within(rss, RSS_LIMIT_KIB)} |")
    print()
    print(f"Targets missed: {missed} (peak RSS limit {RSS_LIMIT_KIB} KiB)." if missed else
          f"Every ratio within its target, every peak RSS within {RSS_LIMIT_KIB} KiB.")


if __name__ == "__main__":
    main()
