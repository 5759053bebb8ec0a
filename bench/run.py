#!/usr/bin/env python3
"""Measures what a kfdtopo report costs and how the cost grows with the machine.

For each size of two series of generated machines (GPU nodes; counters in one block) it
prints one table row: output bytes, kfdtopo's median wall time, the floor's (the same
library calls without the report), and the instructions kfdtopo executes per output byte
outside libhsakmt (callgrind, which counts the same on a busy machine), then checks the
targets: time at most 1.25x the floor's, at most 60 instructions per byte on the large
sizes, cost growing linearly with the output (node series) and at most n log n with the
counters of one block.

  run.py            every size (several minutes)
  run.py --small    the small sizes, for CI; a target missed by more than noise allows
                    fails the run
"""
import argparse
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")
KFDTOPO = os.path.join(BUILD, "bin", "kfdtopo")
FLOOR = os.path.join(BUILD, "bench", "floor")
SIM_DIR = os.path.join(BUILD, "sim")
FIXTURES = os.path.join(BUILD, "bench", "fixtures")

SERIES = {
    "nodes": [1, 8, 64, 256],
    "counters": [1000, 10000, 100000],
}
SMALL = {"nodes": [1, 8], "counters": [1000, 10000]}
LARGE_BYTES = 1_000_000  # sizes whose output reaches this are held to the per-byte target

TIME_RATIO_TARGET = 1.25
PER_BYTE_TARGET = 60.0
LINEAR_TARGET = 1.10  # cost ratio over output ratio between successive sizes
# What noise can explain in CI: wall times vary, instruction counts barely.
TIME_NOISE = 1.20
COUNT_NOISE = 1.05


def run(cmd, **kwargs):
    return subprocess.run(cmd, check=True, **kwargs)


def build():
    run(["cmake", "--preset", "release"], cwd=ROOT, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "--preset", "release", "--target", "kfdtopo", "kfdsim",
         "kfdtopo_bench_floor"], cwd=ROOT, stdout=subprocess.DEVNULL)


def fixture(series, size):
    os.makedirs(FIXTURES, exist_ok=True)
    path = os.path.join(FIXTURES, f"{series}-{size}.json")
    if not os.path.exists(path):
        run([sys.executable, os.path.join(ROOT, "bench", "generate_topology.py"), series,
             str(size), path])
    return path


def environment(topology):
    env = dict(os.environ)
    env["KFDSIM_TOPOLOGY"] = topology
    env["LD_LIBRARY_PATH"] = SIM_DIR
    return env


def output_bytes(topology):
    result = run([KFDTOPO], env=environment(topology), stdout=subprocess.PIPE)
    return len(result.stdout)


def median_seconds(program, topology, runs):
    """Median wall time of runs runs, stdout discarded (hyperfine)."""
    with tempfile.TemporaryDirectory() as tmp:
        export = os.path.join(tmp, "times.json")
        run(["hyperfine", "--style", "none", "--shell", "none", "--warmup", "1",
             "--runs", str(runs), "--export-json", export, program],
            env=environment(topology), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(export, encoding="utf-8") as f:
            return json.load(f)["results"][0]["median"]


def instructions_outside_library(topology):
    """Instructions of the whole kfdtopo run less those spent inside libhsakmt's calls."""
    with tempfile.TemporaryDirectory() as tmp:
        profile = os.path.join(tmp, "callgrind.out")
        run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={profile}", KFDTOPO],
            env=environment(topology), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        annotated = run(["callgrind_annotate", "--inclusive=yes", "--threshold=100", profile],
                        stdout=subprocess.PIPE, text=True).stdout
    total = None
    inside = 0
    entry = re.compile(r"^\s*([\d,]+) .*:(hsaKmt\w+) \[.*libhsakmt\.so\.1\]$")
    for line in annotated.splitlines():
        if "PROGRAM TOTALS" in line and total is None:
            total = int(line.split()[0].replace(",", ""))
        match = entry.match(line)
        if match:
            inside += int(match.group(1).replace(",", ""))
    return total - inside


def measure(series, size, runs):
    topology = fixture(series, size)
    return {
        "series": series,
        "size": size,
        "bytes": output_bytes(topology),
        "kfdtopo": median_seconds(KFDTOPO, topology, runs),
        "floor": median_seconds(FLOOR, topology, runs),
        "instructions": instructions_outside_library(topology),
    }


def check(rows, ci):
    """Prints each target next to its figure; returns the number missed."""
    time_limit = TIME_RATIO_TARGET * (TIME_NOISE if ci else 1.0)
    count_noise = COUNT_NOISE if ci else 1.0
    missed = 0

    def verdict(ok):
        nonlocal missed
        missed += 0 if ok else 1
        return "met" if ok else "MISSED"

    print("\nTargets")
    for row in rows:
        name = f"{row['series']}-{row['size']}"
        ratio = row["kfdtopo"] / row["floor"]
        print(f"  {name:16} time / floor {ratio:5.2f} <= {time_limit:.2f}: "
              f"{verdict(ratio <= time_limit)}")
        if row["bytes"] >= LARGE_BYTES:
            per_byte = row["instructions"] / row["bytes"]
            print(f"  {name:16} instructions per byte {per_byte:5.1f} <= {PER_BYTE_TARGET:.0f}: "
                  f"{verdict(per_byte <= PER_BYTE_TARGET * count_noise)}")
    for series in SERIES:
        steps = [row for row in rows if row["series"] == series]
        for before, after in zip(steps, steps[1:]):
            name = f"{series} {before['size']} -> {after['size']}"
            cost = after["instructions"] / before["instructions"]
            if series == "nodes":
                growth = after["bytes"] / before["bytes"]
                limit = LINEAR_TARGET * growth
                what = f"cost x{cost:.2f}, output x{growth:.2f}, linear <= x{limit:.2f}"
            else:
                n1, n2 = before["size"], after["size"]
                limit = (n2 * math.log(n2)) / (n1 * math.log(n1))
                what = f"cost x{cost:.2f}, n log n <= x{limit:.2f}"
            print(f"  {name:24} {what}: {verdict(cost <= limit * count_noise)}")
    return missed


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--small", action="store_true", help="small sizes only, for CI")
    args = parser.parse_args()
    for tool in ("hyperfine", "valgrind", "callgrind_annotate"):
        if shutil.which(tool) is None:
            sys.exit(f"bench: {tool} is missing (scripts/setup.sh installs it)")

    build()
    series_sizes = SMALL if args.small else SERIES
    runs = 10 if args.small else 5
    rows = []
    print(f"{'size':16} {'output bytes':>13} {'kfdtopo ms':>11} {'floor ms':>9} "
          f"{'instr/byte':>11}")
    for series, sizes in series_sizes.items():
        for size in sizes:
            row = measure(series, size, runs)
            rows.append(row)
            print(f"{series + '-' + str(size):16} {row['bytes']:13,} "
                  f"{row['kfdtopo'] * 1000:11.1f} {row['floor'] * 1000:9.1f} "
                  f"{row['instructions'] / row['bytes']:11.1f}", flush=True)
    missed = check(rows, ci=args.small)
    print(f"\nbench: {len(rows)} sizes measured, {missed} targets missed")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
