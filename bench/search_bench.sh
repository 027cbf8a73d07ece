#!/usr/bin/env bash
# kavo-cli search over five generated 1,000,000-record category files (about 140 MB each), for a rare and a
# common word, beside grep counting the lines that hold the word; and the search's peak memory for the common
# word's 800,000 hits. KAVO_BENCH_HOME: a folder made by make_catalog.sh, else one is made.
set -euo pipefail
bin=${1:-build}/bin
here=$(dirname "$0")
. "$here/lib.sh"
bench_catalog_home
names=(软件下载 源码下载 模块下载 电脑技术 常用软件)
files=$(printf "$home/自动更新/%s.txt " "${names[@]}")
echo "five files: $(du -ch $files | tail -1 | cut -f1)"
for word in Zebrafish Fire; do
    figure=$([ "$word" = Zebrafish ] && echo search-rare || echo search-common)
    memory=$([ "$word" = Fire ] && echo "--memory search-memory:20" || true)
    echo "-- word $word: $($bin/kavo-cli --home "$home" search $word | wc -l) hits"
    python3 "$here/timeit.py" 9 --figure $figure $memory \
        "kavo-cli search $word=$bin/kavo-cli --home $home search $word" \
        "grep -F -c $word=LC_ALL=C grep -F -c $word $files"
done
