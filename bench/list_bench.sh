#!/usr/bin/env bash
# kavo-cli list over a generated 1,000,000-record category file (about 140 MB), beside grep counting the records.
# Both write to a regular file (see timeit.py). KAVO_BENCH_HOME: a folder made by make_catalog.sh, else one is
# made.
set -euo pipefail
bin=${1:-build}/bin
here=$(dirname "$0")
. "$here/lib.sh"
bench_catalog_home
file="$home/自动更新/软件下载.txt"
echo "category file: $(du -h "$file" | cut -f1), $(LC_ALL=C grep -c '(' "$file") lines with '('"
python3 "$here/timeit.py" 15 --figure list \
    "kavo-cli list=$bin/kavo-cli --home $home list 1" \
    "grep -c=LC_ALL=C grep -c '(' $file"
