#!/usr/bin/env python3
"""Times shell commands in one run: timeit.py RUNS LABEL=COMMAND ... Prints the median and best wall time.

The commands take turns, run after run, so that a slow spell of the machine falls on all of them alike.
Standard output goes to a regular file, never to /dev/null: GNU grep notices an output of /dev/null and stops
at its first match, which would time grep doing a fraction of its work.
"""
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    runs = int(sys.argv[1])
    commands = [argument.split("=", 1) for argument in sys.argv[2:]]
    times = {label: [] for label, _ in commands}
    with tempfile.NamedTemporaryFile(prefix="kavo-bench-") as output:
        for _ in range(runs):
            for label, command in commands:
                output.seek(0)
                output.truncate()
                start = time.perf_counter()
                subprocess.run(command, shell=True, check=True, stdout=output)
                times[label].append(time.perf_counter() - start)
    for label, spent in times.items():
        print(f"{label:<28} median {statistics.median(spent) * 1000:8.1f} ms   best {min(spent) * 1000:8.1f} ms")
    labels = list(times)
    if len(labels) >= 2:
        ratio = statistics.median(times[labels[0]]) / statistics.median(times[labels[1]])
        print(f"ratio {labels[0]} / {labels[1]}: {ratio:.2f}")


if __name__ == "__main__":
    main()
