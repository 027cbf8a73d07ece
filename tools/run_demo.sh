#!/usr/bin/env bash
# Starts the loopback demo service (web pages and files, and the SMTP sink) beside the program, waits until both
# accept connections, and stops them when the program ends. The service serves the catalog that the build
# published into BUILD_DIR/published. Usage: tools/run_demo.sh BUILD_DIR [xvfb]
# KAVO_DEMO_PORT (18080) and KAVO_SMTP_PORT (2525) choose the ports, KAVO_DEMO_WAIT the seconds to wait for
# them (15), and KAVO_RUN_PROGRAM the program to start (BUILD_DIR/bin/kavo).
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
web_port=${KAVO_DEMO_PORT:-18080}
smtp_port=${KAVO_SMTP_PORT:-2525}
wait_seconds=${KAVO_DEMO_WAIT:-15}
program=${KAVO_RUN_PROGRAM:-$here/$build/bin/kavo}

pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

# Waits until the service started as `pid` accepts connections on the port; gives up when it ends or the time
# is over.
wait_for() {
    local name=$1 port=$2 pid=$3 deadline=$((SECONDS + wait_seconds))
    while ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "run_demo: the $name ended before it accepted connections on 127.0.0.1:$port" >&2
            return 1
        fi
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "run_demo: the $name did not accept connections on 127.0.0.1:$port within ${wait_seconds} s" >&2
            return 1
        fi
        sleep 0.1
    done
}

# A port that already answers belongs to another program: the program would talk to that one instead.
check_free() {
    local name=$1 port=$2 holder=""
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || return 0
    holder=$(ss -Hltnp "sport = :$port" 2>/dev/null | grep -o 'users:(("[^"]*",pid=[0-9]*' | sed 's/users:(("//; s/",/ /' |
        head -n 1) || true
    echo "run_demo: 127.0.0.1:$port, the port of the $name, is already in use${holder:+ by $holder};" \
        "stop that program and run again" >&2
    return 1
}
check_free "demo service" "$web_port"
check_free "SMTP sink" "$smtp_port"

python3 "$here/tools/demo_service.py" --port "$web_port" --tree "$here/$build/published" &
pids+=($!)
web_pid=$!
# aiosmtpd is Debian's: run it with Debian's python3, which need not be the first on PATH.
/usr/bin/python3 "$here/tools/smtp_sink.py" --port "$smtp_port" &
pids+=($!)
smtp_pid=$!
wait_for "demo service" "$web_port" "$web_pid"
wait_for "SMTP sink" "$smtp_port" "$smtp_pid"

if [ "${2:-}" = xvfb ]; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$program"
else
    "$program"
fi
