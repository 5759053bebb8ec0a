#!/usr/bin/env python3
"""Measures what a kfdtopo report costs and how the cost grows with the machine.

For each size of two series of generated machines (GPU nodes; counters in one block) it
prints one table row: output bytes, kfdtopo's median wall time, the floor's (the same
library calls without the report), and the instructions kfdtopo executes per output byte
outside libhsakmt (callgrind, which counts the same on a busy machine), then checks the
targets: time at most 1.25x the floor's, at most 60 instructions per byte on the large
sizes, cost growing linearly with the output (node series) and at most n log n with the
counters of one block.

Then it diffs two exports of the 65-node MI300X capture (tests/data/captures/mi300x-cpx, plain
and gzip-compressed) with kfdtopo-diff, and the captured tree with itself as the yardstick:
median wall time and maximum resident memory of each, against the targets of at most 0.3 s
and at most twice the two files' size for the plain exports, and of gzip adding at most 1.5x
the time zlib takes to inflate the files.

  run.py            every size (several minutes)
  run.py --small    the small sizes, for CI; a target missed by more than noise allows
                    fails the run
"""
import argparse
import gzip
import json
import math
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")
KFDTOPO = os.path.join(BUILD, "bin", "kfdtopo")
KFDTOPO_DIFF = os.path.join(BUILD, "bin", "kfdtopo-diff")
KFDTOPO_EXPORT = os.path.join(BUILD, "bin", "kfdtopo-export")
DIFF_CAPTURE = os.path.join(ROOT, "tests", "data", "captures", "mi300x-cpx")
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
DIFF_SECONDS_TARGET = 0.3
DIFF_MEMORY_TARGET = 2.0  # maximum resident memory over the two files' size
GZIP_COST_TARGET = 1.5  # the time gzip input adds over the time zlib takes to inflate it


def run(cmd, **kwargs):
    return subprocess.run(cmd, check=True, **kwargs)


def build():
    run(["cmake", "--preset", "release"], cwd=ROOT, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "--preset", "release", "--target", "kfdtopo", "kfdsim",
         "kfdtopo_bench_floor", "kfdtopo_diff", "kfdtopo_export"], cwd=ROOT,
        stdout=subprocess.DEVNULL)


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
    return median_command_seconds([program], environment(topology), runs)


def median_command_seconds(command, env, runs):
    """Median wall time of runs runs of a command, stdout discarded (hyperfine)."""
    with tempfile.TemporaryDirectory() as tmp:
        export = os.path.join(tmp, "times.json")
        run(["hyperfine", "--style", "none", "--shell", "none", "--warmup", "1",
             "--runs", str(runs), "--export-json", export, shlex.join(command)],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(export, encoding="utf-8") as f:
            return json.load(f)["results"][0]["median"]


def max_resident_bytes(command, env):
    """The largest resident memory of one run of a command."""
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"bench: {' '.join(command)} exited with {process.returncode}")
    return usage.ru_maxrss * 1024


def inflate_seconds(paths, runs):
    """Median time zlib takes to inflate the files, read beforehand."""
    packed = []
    for path in paths:
        with open(path, "rb") as f:
            packed.append(f.read())
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        for data in packed:
            zlib.decompress(data, wbits=31)
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def measure_diff(tmp, runs):
    """kfdtopo-diff over two exports of the capture, plain and gzip, and over its tree."""
    exports = [os.path.join(tmp, name) for name in ("a.json", "b.json")]
    run([KFDTOPO_EXPORT, exports[0]], env=environment(DIFF_CAPTURE), stdout=subprocess.DEVNULL)
    shutil.copyfile(exports[0], exports[1])
    packed = [path + ".gz" for path in exports]
    for plain, gz in zip(exports, packed):
        with open(plain, "rb") as source, gzip.open(gz, "wb", compresslevel=6) as target:
            shutil.copyfileobj(source, target)
    env = dict(os.environ)
    env.pop("KFDSIM_TOPOLOGY", None)
    rows = {}
    for name, files in (("exports", exports), ("exports .gz", packed),
                        ("trees", [DIFF_CAPTURE, DIFF_CAPTURE])):
        command = [KFDTOPO_DIFF] + files
        row = {
            "bytes": sum(os.path.getsize(path) for path in files if os.path.isfile(path)) or None,
            "seconds": median_command_seconds(command, env, runs),
            "resident": max_resident_bytes(command, env),
        }
        rows[name] = row
        size = f"{row['bytes']:,}" if row["bytes"] else ""
        print(f"{name:16} {size:>13} {row['seconds'] * 1000:11.1f} "
              f"{row['resident'] / 2**20:11.1f}", flush=True)
    rows["inflate"] = inflate_seconds(packed, runs)
    print(f"{'zlib inflate':16} {'':13} {rows['inflate'] * 1000:11.1f}")
    return rows


def check_diff(rows, ci):
    """Prints the diff targets next to their figures; returns the number missed."""
    time_noise = TIME_NOISE if ci else 1.0
    exports, packed, trees = rows["exports"], rows["exports .gz"], rows["trees"]
    limit = DIFF_SECONDS_TARGET * time_noise
    memory = exports["resident"] / exports["bytes"]
    gzip_cost = (packed["seconds"] - exports["seconds"]) / rows["inflate"]
    gzip_limit = GZIP_COST_TARGET * time_noise
    targets = (
        (f"diff of exports {exports['seconds']:.3f} s (trees {trees['seconds']:.3f} s) "
         f"<= {limit:.2f} s", exports["seconds"] <= limit),
        (f"diff of exports resident / files {memory:.2f} <= {DIFF_MEMORY_TARGET:.1f}",
         memory <= DIFF_MEMORY_TARGET),
        (f"gzip's extra time / inflating {gzip_cost:.2f} <= {gzip_limit:.2f}",
         gzip_cost <= gzip_limit),
    )
    for what, ok in targets:
        print(f"  {what}: {'met' if ok else 'MISSED'}")
    return sum(0 if ok else 1 for _, ok in targets)


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
    print(f"\n{'kfdtopo-diff':16} {'input bytes':>13} {'median ms':>11} {'max RSS MiB':>11}")
    with tempfile.TemporaryDirectory() as tmp:
        diff_rows = measure_diff(tmp, runs)
    missed = check(rows, ci=args.small) + check_diff(diff_rows, ci=args.small)
    print(f"\nbench: {len(rows)} sizes and kfdtopo-diff measured, {missed} targets missed")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
