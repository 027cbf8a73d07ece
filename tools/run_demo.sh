#!/usr/bin/env bash
# Starts the loopback demo service (when built) beside the program and stops it when the program ends.
# Usage: tools/run_demo.sh BUILD_DIR [xvfb]
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/$build/bin"

demo_pid=""
if [ -x "$here/tools/demo_service.py" ]; then
    python3 "$here/tools/demo_service.py" --port 18080 &
    demo_pid=$!
fi
cleanup() { [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ "${2:-}" = xvfb ]; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$bin/kavo"
else
    "$bin/kavo"
fi
