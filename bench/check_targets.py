#!/usr/bin/env python3
"""Checks measured figures against their targets: check_targets.py TARGETS_TSV FIGURES.

FIGURES holds "figure NAME RATIO" lines as the benchmarks print them. Prints one line per figure of the table
and exits 1 when a figure is past its target or its script ran and did not give it. A figure whose script is
not written yet is an open slot, not a failure."""
import os
import sys


def main():
    targets_path, figures_path = sys.argv[1], sys.argv[2]
    measured = {}
    with open(figures_path) as figures:
        for line in figures:
            words = line.split()
            if len(words) == 3 and words[0] == "figure":
                measured[words[1]] = float(words[2])
    failed = False
    print(f"{'figure':<15} {'ratio':>7} {'target':>7}   verdict")
    with open(targets_path) as targets:
        for line in targets:
            if line.startswith("#") or not line.strip():
                continue
            name, target, script, what = line.rstrip("\n").split("\t")
            target = float(target)
            if name in measured:
                ratio = measured[name]
                verdict = "ok" if ratio <= target else "PAST TARGET"
                failed |= ratio > target
                print(f"{name:<15} {ratio:7.2f} {target:7.2f}   {verdict:<12} {what}")
            elif not os.path.exists(os.path.join(os.path.dirname(targets_path), script)):
                print(f"{name:<15} {'-':>7} {target:7.2f}   {'open slot':<12} {what} (bench/{script} to come)")
            else:
                failed = True
                print(f"{name:<15} {'-':>7} {target:7.2f}   {'NOT MEASURED':<12} {what} (bench/{script} gave no figure)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
