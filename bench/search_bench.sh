#!/usr/bin/env bash
# kavo-cli search over five generated 1,000,000-record category files (about 140 MB each), for a rare and a
# common word, beside grep counting the lines that hold the word.
set -euo pipefail
bin=${1:-build}/bin
here=$(dirname "$0")
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/自动更新"
words=(软件 源码 模块 文本 软件)
names=(软件下载 源码下载 模块下载 电脑技术 常用软件)
for i in 0 1 2 3 4; do
    python3 "$here/gen_catalog.py" "$home/自动更新/${names[$i]}.txt" 1000000 "${words[$i]}" 100000
done
files=$(printf "$home/自动更新/%s.txt " "${names[@]}")
echo "five files: $(du -ch $files | tail -1 | cut -f1)"
for word in Zebrafish Fire; do
    echo "-- word $word: $($bin/kavo-cli --home $home search $word | wc -l) hits"
    python3 "$here/timeit.py" 9 \
        "kavo-cli search $word=$bin/kavo-cli --home $home search $word" \
        "grep -F -c $word=LC_ALL=C grep -F -c $word $files"
done
