#!/usr/bin/env bash
# The cost of checking a download's SHA-256 while it arrives: a 128 MiB file from loopback nginx at 5 MB/s per
# connection, fetched by kavo-cli download -n 10 with --sha256 and without, taking turns (figure checksum:
# checked / plain). And the hash itself: the same file through the download's SHA-256 (sha256_bench) against
# sha256sum (figure sha256).
set -euo pipefail
bin=$(cd "${1:-build}/bin" && pwd)
size_mb=${SIZE_MB:-128}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
bench_workdir
bench_file "$size_mb"
bench_nginx "location / { limit_rate 5m; }"
digest=$(sha256sum "$work/www/big.bin" | cut -d' ' -f1)
url="http://127.0.0.1:$port/big.bin"
get="rm -f $work/out/*; $bin/kavo-cli download $url $work/out/big.bin -n 10 2>/dev/null"
echo "== ${size_mb} MiB, 10 connections x 5 MB/s, $runs runs each"
python3 "$here/timeit.py" "$runs" --figure checksum "checked (--sha256)=$get --sha256 $digest" "plain=$get"
echo "== SHA-256 of the ${size_mb} MiB file, 9 runs each"
[ "$("$bin/sha256_bench" "$work/www/big.bin" | cut -d' ' -f1)" = "$digest" ] || { echo "sha256_bench: wrong digest"; exit 1; }
python3 "$here/timeit.py" 9 --figure sha256 "sha256_bench=$bin/sha256_bench $work/www/big.bin" \
    "sha256sum=sha256sum $work/www/big.bin"
