#!/usr/bin/env bash
# `make run` starts the program only once the demo service and the SMTP sink accept connections, and says so
# clearly when one never comes up. Free ports on loopback; the program is a stand-in that checks both ports.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

cat >"$work/program" <<'PROGRAM'
#!/usr/bin/env bash
(exec 3<>"/dev/tcp/127.0.0.1/$KAVO_DEMO_PORT") && (exec 3<>"/dev/tcp/127.0.0.1/$KAVO_SMTP_PORT") && echo both-up
PROGRAM
chmod +x "$work/program"

out=$(KAVO_DEMO_PORT=$(free_port) KAVO_SMTP_PORT=$(free_port) KAVO_RUN_PROGRAM="$work/program" \
    bash "$here/tools/run_demo.sh" build 2>/dev/null)
[ "$out" = both-up ] || fail "the program started before both services listened: '$out'"

# run_demo.sh with the demo service on port $1 must fail with the message $2 and never start the program. Both
# cases end without waiting out the limit, which is generous so that a slow start on a loaded machine is not
# taken for a service that never listens.
refused() {
    local out status
    set +e
    out=$(KAVO_DEMO_PORT=$1 KAVO_SMTP_PORT=$(free_port) KAVO_DEMO_WAIT=120 KAVO_RUN_PROGRAM="$work/program" \
        bash "$here/tools/run_demo.sh" build 2>"$work/err")
    status=$?
    set -e
    [ "$status" != 0 ] || fail "run_demo.sh succeeded with its demo service on port $1"
    [ -z "$out" ] || fail "the program started anyway (port $1)"
    grep -qF "$2" "$work/err" || fail "no clear message: $(cat "$work/err")"
}

# A service that cannot start (the port is out of range) is reported.
refused 70000 'run_demo: the demo service ended before it accepted connections on 127.0.0.1:70000'

# A port that another program already listens on is named.
python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(); print(s.getsockname()[1], flush=True); time.sleep(600)' \
    >"$work/held" &
holder=$!
trap 'kill $holder 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/held" ] && break; sleep 0.05; done
taken=$(cat "$work/held")
refused "$taken" "run_demo: 127.0.0.1:$taken, the port of the demo service, is already in use"
echo ok
