#!/usr/bin/env bash
# A 256 MiB file from loopback nginx, throttled to 5 MB/s per connection and unthrottled, fetched by
# kavo-cli download -n 10, aria2c -x10 -s10 and a single-connection curl. Wall time, CPU time, peak memory.
# Throttled, kavo-cli and aria2c take turns ROUNDS times (default 3), and the line "figure download RATIO"
# gives kavo-cli's median wall time over aria2c's. CURL_SLOW=0 leaves out the throttled curl (about 50 s).
set -euo pipefail
bin=$(cd "${1:-build}/bin" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
size_mb=${SIZE_MB:-256}
bench_workdir
bench_file "$size_mb"
bench_nginx "location /slow/ { alias $work/www/; limit_rate 5m; } location / { }"
expected=$(sha256sum "$work/www/big.bin" | cut -d' ' -f1)

measure() { # label command...
    local label=$1; shift
    rm -rf "$work/out"/*
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || { echo "  ($label exited non-zero: $(tail -c 300 "$work/stderr"))"; return; }
    read -r wall user sys rss < "$work/time"
    local got; got=$(sha256sum "$work/out"/* 2>/dev/null | head -1 | cut -d' ' -f1)
    [ "$got" = "$expected" ] && echo "$wall" >> "$work/walls-$label"  # a wrong file has no time
    printf "  %-22s wall %7.2f s  cpu %6.2f s  peak %7d KiB  %s\n" "$label" "$wall" "$(echo "$user + $sys" | bc)" "$rss" \
        "$([ "$got" = "$expected" ] && echo identical || echo MISMATCH)"
}

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for mode in slow/ ""; do
    url="http://127.0.0.1:$port/${mode}big.bin"
    echo "== ${size_mb} MiB, ${mode:-unthrottled}${mode:+5 MB/s per connection}"
    rounds=$([ -n "$mode" ] && echo "${ROUNDS:-3}" || echo 1)
    rm -f "$work"/walls-*
    for _ in $(seq "$rounds"); do
        measure kavo-cli "$bin/kavo-cli" download "$url" "$work/out/big.bin" -n 10
        measure aria2c aria2c -q -x10 -s10 -k1M --file-allocation=none -d "$work/out" -o big.bin "$url"
    done
    if [ -z "$mode" ] || [ "${CURL_SLOW:-1}" = 1 ]; then
        measure "curl (1 connection)" curl -s -o "$work/out/big.bin" "$url"
    fi
    if [ -n "$mode" ] && [ -s "$work/walls-kavo-cli" ] && [ -s "$work/walls-aria2c" ]; then
        kavo=$(median "$work/walls-kavo-cli")
        aria=$(median "$work/walls-aria2c")
        echo "  median of $rounds: kavo-cli -n 10 $kavo s, aria2c -x10 -s10 $aria s"
        echo "figure download $(echo "scale=3; $kavo / $aria" | bc)"
    fi
done
