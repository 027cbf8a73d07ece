#!/usr/bin/env bash
# The cost of checking a download's SHA-256 while it arrives: a 128 MiB file from loopback nginx at 5 MB/s per
# connection, fetched by kavo-cli download -n 10 with --sha256 and without, taking turns. Prints the median wall
# times and their ratio (checked / plain).
set -euo pipefail
bin=$(cd "${1:-build}/bin" && pwd)
size_mb=${SIZE_MB:-128}
runs=${RUNS:-3}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
chmod 755 "$work"  # nginx workers run as nobody
trap 'kill $(cat "$work/nginx.pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/www" "$work/logs" "$work/out"
head -c $((size_mb * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/nginx.conf" <<CONF
daemon on; worker_processes 2; error_log $work/logs/error.log; pid $work/nginx.pid;
events { worker_connections 256; }
http { access_log off; client_body_temp_path $work/body; proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fcgi; uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
  server { listen 127.0.0.1:$port; root $work/www; location / { limit_rate 5m; } } }
CONF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf"
sleep 0.3
digest=$(sha256sum "$work/www/big.bin" | cut -d' ' -f1)
url="http://127.0.0.1:$port/big.bin"
get="rm -f $work/out/*; $bin/kavo-cli download $url $work/out/big.bin -n 10 2>/dev/null"
echo "== ${size_mb} MiB, 10 connections x 5 MB/s, $runs runs each"
python3 "$here/timeit.py" "$runs" "checked (--sha256)=$get --sha256 $digest" "plain=$get"
