#!/usr/bin/env python3
"""Times shell commands in one run and compares the first with the second.

timeit.py RUNS [--figure NAME] [--memory NAME:LIMIT_MB] LABEL=COMMAND ...

Prints each command's median and best wall time and its median peak memory. With --figure, a line
"figure NAME RATIO" gives the first command's median time over the second's; with --memory, a line
"figure NAME RATIO" gives the first command's median peak memory over LIMIT_MB (10^6 bytes). bench/run_all.sh checks such
lines against bench/targets.tsv.

The commands take turns, run after run, so that a slow spell of the machine falls on all of them alike.
Standard output goes to a regular file, never to /dev/null: GNU grep notices an output of /dev/null and stops
at its first match, which would time grep doing a fraction of its work.
"""
import argparse
import statistics
import subprocess
import tempfile
import time


def run(command, output, peak_file):
    """Wall seconds and peak resident KiB of one run of `command`.

    GNU time reports the peak: a child forked from this interpreter would count the interpreter's own memory,
    which the kernel carries over the child's exec."""
    start = time.perf_counter()
    status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak_file, "sh", "-c", command], stdout=output)
    if status.returncode != 0:
        raise SystemExit(f"timeit.py: exit {status.returncode}: {command}")
    spent = time.perf_counter() - start
    with open(peak_file) as report:
        return spent, int(report.read().split()[-1])


def megabytes(kibibytes):
    return kibibytes * 1024 / 1e6


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("runs", type=int)
    parser.add_argument("--figure")
    parser.add_argument("--memory")
    parser.add_argument("commands", nargs="+")
    args = parser.parse_args()
    commands = [argument.split("=", 1) for argument in args.commands]
    times = {label: [] for label, _ in commands}
    peaks = {label: [] for label, _ in commands}
    with tempfile.NamedTemporaryFile(prefix="kavo-bench-") as output, \
            tempfile.NamedTemporaryFile(prefix="kavo-bench-peak-") as peak_file:
        for _ in range(args.runs):
            for label, command in commands:
                output.seek(0)
                output.truncate()
                spent, peak = run(command, output, peak_file.name)
                times[label].append(spent)
                peaks[label].append(peak)
    for label, spent in times.items():
        print(f"{label:<28} median {statistics.median(spent) * 1000:8.1f} ms   best {min(spent) * 1000:8.1f} ms"
              f"   peak {megabytes(statistics.median(peaks[label])):6.1f} MB")
    labels = list(times)
    if len(labels) >= 2:
        ratio = statistics.median(times[labels[0]]) / statistics.median(times[labels[1]])
        print(f"ratio {labels[0]} / {labels[1]}: {ratio:.2f}")
        if args.figure:
            print(f"figure {args.figure} {ratio:.3f}")
    if args.memory:
        name, limit = args.memory.split(":")
        peak = megabytes(statistics.median(peaks[labels[0]]))
        print(f"peak memory {labels[0]}: {peak:.1f} MB of {limit} MB")
        print(f"figure {name} {peak / float(limit):.3f}")


if __name__ == "__main__":
    main()
