#!/usr/bin/env bash
# How closely kavo-cli download --limit-rate holds its rate: a 64 MiB file from unthrottled loopback nginx at
# 4M and 16M over 10 connections and at 4M over one. Prints the rate reached and its deviation from the limit.
set -euo pipefail
bin=$(cd "${1:-build}/bin" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
size_mb=${SIZE_MB:-64}
bench_workdir
bench_file "$size_mb"
bench_nginx "location / { }"
url="http://127.0.0.1:$port/big.bin"
for case in "4M 10" "16M 10" "4M 1"; do
    read -r limit connections <<< "$case"
    rm -f "$work/out"/*
    start=$(date +%s.%N)
    "$bin/kavo-cli" download "$url" "$work/out/big.bin" -n "$connections" --limit-rate "$limit" >/dev/null 2>&1
    end=$(date +%s.%N)
    python3 - "$limit" "$connections" "$start" "$end" "$size_mb" <<'PY'
import sys
limit, connections, start, end, size_mb = sys.argv[1:]
wanted = int(limit[:-1]) * 1024 * 1024
reached = int(size_mb) * 1024 * 1024 / (float(end) - float(start))
print(f"  --limit-rate {limit:>4} -n {connections:>2}: {reached / 1048576:6.2f} MiB/s, "
      f"{(reached - wanted) / wanted * 100:+5.1f}% against the limit")
PY
done
