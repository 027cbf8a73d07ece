#!/usr/bin/env bash
# Every benchmark, one after another: bench/run_all.sh BUILD_DIR. Each figure is a ratio of two things measured
# in the same run, so a busy machine slows both sides; bench/targets.tsv gives each figure's target. Prints the
# figures against their targets at the end and exits 1 when one is past its target.
set -uo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
figures="$work/figures"
touch "$figures"

echo "== generating five 1,000,000-record category files"
bash "$here/make_catalog.sh" "$work/catalog" || exit 1
export KAVO_BENCH_HOME="$work/catalog"

# The scripts of the targets table, each once, in the table's order.
for script in $(grep -v '^#' "$here/targets.tsv" | cut -f3 | awk '!seen[$0]++'); do
    if [ ! -f "$here/$script" ]; then
        echo "== $script: not written yet"
        continue
    fi
    echo "== $script"
    CURL_SLOW=${CURL_SLOW:-0} bash "$here/$script" "$build" 2>&1 | tee -a "$figures" || echo "  ($script failed)"
done
rm -rf "$KAVO_BENCH_HOME"

echo "== other measurements (no target)"
echo "-- crafted inputs at doubling sizes"; python3 "$here/hostile_bench.py" "$build/bin/kavo-cli"
echo "-- download speed limit"; bash "$here/limitrate_bench.sh" "$build"
echo "-- thread pool"; "$build/bin/threadpool_bench"

echo "== figures: each a ratio against its peer in this run"
python3 "$here/check_targets.py" "$here/targets.tsv" "$figures"
