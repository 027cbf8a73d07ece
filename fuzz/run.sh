#!/usr/bin/env bash
# Runs every harness for a bounded time from its seed corpus: fuzz/run.sh BUILD_DIR SECONDS [HARNESS ...]
# Inputs may be long enough (256 KiB) for a scan that is not linear to run into the time-out.
set -euo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
status=0
harnesses=("${@:3}")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(catalog markers ini pages smtp http signing)
for harness in "${harnesses[@]}"; do
    work=$(mktemp -d)
    cp -r "$here/corpus/$harness/." "$work/" 2>/dev/null || true
    printf "%-8s " "$harness"
    if "$build/bin/fuzz_$harness" -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 "$work" > "$work.log" 2>&1; then
        echo "$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work.log" | grep -o '[0-9]*$') executions, no finding"
    else
        status=1
        echo "FINDING:"; grep -E 'ERROR|SUMMARY|Test unit written' "$work.log" | head -5
    fi
    rm -rf "$work" "$work.log"
done
exit $status
