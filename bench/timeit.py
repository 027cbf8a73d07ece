#!/usr/bin/env python3
"""Times shell commands in one run: timeit.py RUNS LABEL=COMMAND ... Prints the median and best wall time."""
import statistics
import subprocess
import sys
import time


def measure(command, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, shell=True, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return statistics.median(times), min(times)


def main():
    runs = int(sys.argv[1])
    results = {}
    for argument in sys.argv[2:]:
        label, command = argument.split("=", 1)
        median, best = measure(command, runs)
        results[label] = median
        print(f"{label:<28} median {median * 1000:8.1f} ms   best {best * 1000:8.1f} ms")
    labels = list(results)
    if len(labels) >= 2:
        print(f"ratio {labels[0]} / {labels[1]}: {results[labels[0]] / results[labels[1]]:.2f}")


if __name__ == "__main__":
    main()
