#!/usr/bin/env bash
# Writes the five generated 1,000,000-record category files (about 140 MB each) that the list and search
# benchmarks read: bench/make_catalog.sh HOME. A word that occurs once in each file, in its middle (Zebrafish),
# and one in about a sixth of the records (Fire) are there to search for.
set -euo pipefail
home=$1
here=$(dirname "$0")
mkdir -p "$home/自动更新"
words=(软件 源码 模块 文本 软件)
names=(软件下载 源码下载 模块下载 电脑技术 常用软件)
for i in 0 1 2 3 4; do
    python3 "$here/gen_catalog.py" "$home/自动更新/${names[$i]}.txt" 1000000 "${words[$i]}" 1000000 &
done
wait
