#!/usr/bin/env bash
# kavo-cli list --sort over a generated 1,000,000-record category file (about 140 MB), by size and by share time,
# beside GNU sort ordering kavo-cli's own listing of the file the same way (stable, on the same column). The
# window sorts its rows with the same code. Both write the same bytes, which is checked once before timing.
# KAVO_BENCH_HOME: a folder made by make_catalog.sh, else one is made.
set -euo pipefail
bin=${1:-build}/bin
here=$(dirname "$0")
rows=$(mktemp)
trap 'rm -f "$rows" "$rows".*' EXIT
bench_cleanup="$rows $rows.*"
. "$here/lib.sh"
bench_catalog_home
"$bin/kavo-cli" --home "$home" list 1 > "$rows"
echo "listing: $(wc -l < "$rows") rows, $(du -h "$rows" | cut -f1)"
tab=$(printf '\t')
for key in size time; do
    order=$([ $key = size ] && echo "-k2,2g" || echo "-k3,3Vr")  # sizes smallest first, times newest first
    peer="LC_ALL=C sort -s -t '$tab' $order $rows"
    "$bin/kavo-cli" --home "$home" list 1 --sort $key > "$rows.program"
    sh -c "$peer" > "$rows.peer"
    cmp -s "$rows.program" "$rows.peer" || { echo "sort by $key: kavo-cli and sort $order differ"; exit 1; }
    echo "-- by $key"
    python3 "$here/timeit.py" 5 --figure sort-$key \
        "kavo-cli list --sort $key=$bin/kavo-cli --home $home list 1 --sort $key" "sort $order=$peer"
done
