#!/usr/bin/env bash
# Downloads one file from a web server on 127.0.0.1 with `qg get` and with
# `curl -o`, alternately, and prints the times and the ratio of the medians
# (above 1.0: qg is faster).
#
#   bench/get_bench.sh [QG] [SIZE_MIB] [ROUNDS]
#
# QG defaults to build/rel/tools/qg, SIZE_MIB to 1024, ROUNDS to 3.  The server is
# nginx (installed with apt-get when missing), or Python's http.server when
# nginx cannot be had.  The files are written under OUT_DIR (default a new
# folder in /dev/shm, so that the disk does not set the pace); the served
# file is sparse.  Everything the script starts it stops again.
set -euo pipefail

qg=${1:-build/rel/tools/qg}
size_mib=${2:-1024}
rounds=${3:-3}
[ -x "$qg" ] || { echo "no qg at $qg (build it first)" >&2; exit 2; }
command -v curl >/dev/null || apt-get install -y -qq curl >/dev/null
if ! command -v nginx >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends nginx-light \
    >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends nginx >/dev/null 2>&1 || true
fi

base=${OUT_DIR:-$( [ -d /dev/shm ] && echo /dev/shm || echo /tmp )}
work=$(mktemp -d "$base/get-bench.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/site"
truncate -s "${size_mib}M" "$work/site/file.bin"

# A free port on 127.0.0.1.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

if command -v nginx >/dev/null; then
  server=nginx
  mkdir -p "$work/nginx"
  cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$port;
    root $work/site;
  }
}
EOF
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
  server_pid=$!
else
  server="python3 http.server"
  (cd "$work/site" && exec python3 -m http.server --bind 127.0.0.1 "$port" >/dev/null 2>&1) &
  server_pid=$!
fi

url="http://127.0.0.1:$port/file.bin"
for _ in $(seq 50); do
  curl -s -o /dev/null -r 0-0 "$url" && break
  sleep 0.1
done

# Seconds taken by one command, as a decimal number.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f\n", a / b }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

qg_times=() curl_times=()
for r in $(seq "$rounds"); do
  t=$(seconds "$qg" get "$url" -o "$work/qg.bin"); qg_times+=("$t")
  [ "$(stat -c %s "$work/qg.bin")" = $((size_mib * 1048576)) ] || { echo "qg got a short file" >&2; exit 1; }
  rm -f "$work/qg.bin"
  t=$(seconds curl -s -o "$work/curl.bin" "$url"); curl_times+=("$t")
  rm -f "$work/curl.bin"
  printf 'round %d: qg %.3f s, curl %.3f s\n' "$r" "${qg_times[-1]}" "${curl_times[-1]}"
done

qg_median=$(printf '%s\n' "${qg_times[@]}" | median)
curl_median=$(printf '%s\n' "${curl_times[@]}" | median)
printf '%d MiB from %s on 127.0.0.1, medians of %d: qg get %.3f s (%.0f MiB/s), curl -o %.3f s (%.0f MiB/s)\n' \
  "$size_mib" "$server" "$rounds" "$qg_median" "$(ratio "$size_mib" "$qg_median")" \
  "$curl_median" "$(ratio "$size_mib" "$curl_median")"
printf 'qg get speed / curl speed: %.2fx (medians)\n' "$(ratio "$curl_median" "$qg_median")"
# On a shared machine the fastest round is the least disturbed one.
qg_best=$(printf '%s\n' "${qg_times[@]}" | sort -g | head -1)
curl_best=$(printf '%s\n' "${curl_times[@]}" | sort -g | head -1)
printf 'best rounds: qg get %.3f s, curl -o %.3f s: %.2fx\n' "$qg_best" "$curl_best" \
  "$(ratio "$curl_best" "$qg_best")"
