# The set-up that the benchmarks share. Source it, then:
#   bench_catalog_home            $home: KAVO_BENCH_HOME, or a new folder that make_catalog.sh fills, removed
#                                 when the script exits (with the files named in $bench_cleanup too)
#   bench_workdir                 a folder $work (www/, logs/, out/) removed when the script exits
#   bench_file SIZE_MB            $work/www/big.bin of SIZE_MB random MiB
#   bench_nginx LOCATIONS         nginx serving $work/www on a free loopback port ($port) with the server's
#                                 location blocks LOCATIONS; stopped when the script exits

bench_catalog_home() {
    home=${KAVO_BENCH_HOME:-}
    if [ -z "$home" ]; then
        home=$(mktemp -d)
        trap 'rm -rf "$home" ${bench_cleanup:-}' EXIT
        bash "$(dirname "${BASH_SOURCE[0]}")/make_catalog.sh" "$home"
    fi
}

bench_workdir() {
    work=$(mktemp -d)
    chmod 755 "$work"  # nginx workers run as nobody
    trap 'kill $(cat "$work/nginx.pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$work"' EXIT
    mkdir -p "$work/www" "$work/logs" "$work/out"
}

bench_file() {
    head -c $(($1 * 1024 * 1024)) /dev/urandom > "$work/www/big.bin"
}

bench_nginx() {
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat > "$work/nginx.conf" <<CONF
daemon on; worker_processes 2; error_log $work/logs/error.log; pid $work/nginx.pid;
events { worker_connections 256; }
http { access_log off; client_body_temp_path $work/body; proxy_temp_path $work/proxy;
  fastcgi_temp_path $work/fcgi; uwsgi_temp_path $work/uwsgi; scgi_temp_path $work/scgi;
  server { listen 127.0.0.1:$port; root $work/www; $1 } }
CONF
    /usr/sbin/nginx -p "$work" -c "$work/nginx.conf"
    # Ready once it answers; a busy machine may take longer than a fixed pause.
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0
        sleep 0.05
    done
    echo "nginx did not come up on port $port: $(tail -c 300 "$work/logs/error.log")" >&2
    return 1
}
