#!/usr/bin/env bash
# How closely kavo-cli download --limit-rate holds its rate: a 64 MiB file from unthrottled loopback nginx at
# 4M and 16M over 10 connections and at 4M over one. Prints the rate reached and its deviation from the limit.
set -euo pipefail
bin=$(cd "${1:-build}/bin" && pwd)
size_mb=${SIZE_MB:-64}
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
  server { listen 127.0.0.1:$port; root $work/www; location / { } } }
CONF
/usr/sbin/nginx -p "$work" -c "$work/nginx.conf"
sleep 0.3
url="http://127.0.0.1:$port/big.bin"
for case in "4M 10" "16M 10" "4M 1"; do
    read -r limit connections <<< "$case"
    rm -f "$work/out"/*
    start=$(date +%s.%N)
    "$bin/kavo-cli" download "$url" "$work/out/big.bin" -n "$connections" --limit-rate "$limit" >/dev/null 2>&1
    end=$(date +%s.%N)
    python3 - "$limit" "$connections" "$start" "$end" "$size_mb" <<'PY'
import sys
limit, connections, start, end, size_mb = sys.argv[1:]
wanted = int(limit[:-1]) * 1024 * 1024
reached = int(size_mb) * 1024 * 1024 / (float(end) - float(start))
print(f"  --limit-rate {limit:>4} -n {connections:>2}: {reached / 1048576:6.2f} MiB/s, "
      f"{(reached - wanted) / wanted * 100:+5.1f}% against the limit")
PY
done
