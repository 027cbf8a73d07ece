#!/usr/bin/env bash
# kavo-cli list over a generated 1,000,000-record category file (about 140 MB), beside grep counting the records.
# Both write to a regular file (see timeit.py).
set -euo pipefail
bin=${1:-build}/bin
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/自动更新"
python3 "$(dirname "$0")/gen_catalog.py" "$home/自动更新/软件下载.txt" 1000000
file="$home/自动更新/软件下载.txt"
echo "category file: $(du -h "$file" | cut -f1), $(LC_ALL=C grep -c '(' "$file") lines with '('"
python3 "$(dirname "$0")/timeit.py" 15 \
    "kavo-cli list=$bin/kavo-cli --home $home list 1" \
    "grep -c=LC_ALL=C grep -c '(' $file"
