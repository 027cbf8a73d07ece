#!/usr/bin/env bash
# Starts the loopback demo service (web pages and files on 18080, the SMTP sink on 2525) beside the program,
# and stops them when the program ends. The service serves the catalog that the build published into
# BUILD_DIR/published. Usage: tools/run_demo.sh BUILD_DIR [xvfb]
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
bin="$here/$build/bin"

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT
python3 "$here/tools/demo_service.py" --port 18080 --tree "$here/$build/published" &
pids+=($!)
# aiosmtpd is Debian's: run it with Debian's python3, which need not be the first on PATH.
/usr/bin/python3 "$here/tools/smtp_sink.py" --port 2525 &
pids+=($!)
sleep 0.5

if [ "${2:-}" = xvfb ]; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$bin/kavo"
else
    "$bin/kavo"
fi
