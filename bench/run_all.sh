#!/usr/bin/env bash
# Every benchmark, one after another: bench/run_all.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
here=$(dirname "$0")
echo "== category list load"; bash "$here/list_bench.sh" "$build"
echo "== catalog search"; bash "$here/search_bench.sh" "$build"
echo "== crafted inputs at doubling sizes"; python3 "$here/hostile_bench.py" "$build/bin/kavo-cli"
echo "== download"; bash "$here/download_bench.sh" "$build"
echo "== checked download"; bash "$here/checksum_bench.sh" "$build"
echo "== download speed limit"; bash "$here/limitrate_bench.sh" "$build"
echo "== thread pool"; "$build/bin/threadpool_bench"
echo "== GUI responsiveness while 100,000 rows arrive"; QT_QPA_PLATFORM=offscreen "$build/bin/ui_load_bench"
