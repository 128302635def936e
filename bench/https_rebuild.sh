#!/usr/bin/env bash
# Rebuilding an HTTPS download from a tcpdump recording and the client's key log, beside
# tshark exporting the same recording's HTTP objects with the same key log: the wall time,
# CPU time and peak memory of each (/usr/bin/time), in turns, in the same run.
#   sudo bench/https_rebuild.sh [megabytes] [runs]
# megabytes (default 200): the size of the file downloaded. Each run says whether the files
# written hold the download (tshark 4.0 leaves a large one out). The recording is made once, in a
# private network namespace (nginx serving HTTPS with TLS 1.3 on 127.0.0.1:443, curl
# --http1.1 writing SSLKEYLOGFILE, tcpdump -w), in $QHS_BENCH_DIR (default /tmp/qhs-bench),
# and kept for the next run. runs (default 3): how often each runs.
# Needs root (the namespace), nginx, curl, openssl, tcpdump, tshark, and
#   cmake --build build --target QuillharbourSnifferV1.5.exe
set -euo pipefail
cd "$(dirname "$0")/.."
megabytes=${1:-200}
runs=${2:-3}
program=$PWD/build/src/QuillharbourSnifferV1.5.exe
folder=${QHS_BENCH_DIR:-/tmp/qhs-bench}/https-$megabytes
recording=$folder/download.pcap
keys=$folder/keys.log

if [ ! -s "$recording" ]; then
  rm -rf "$folder" && mkdir -p "$folder/www"
  head -c "$((megabytes * 1000000))" /dev/urandom >"$folder/www/download.bin"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
    -subj /CN=localhost -keyout "$folder/key.pem" -out "$folder/cert.pem" 2>/dev/null
  cat >"$folder/nginx.conf" <<EOF
worker_processes 1; user root; pid $folder/nginx.pid; events {}
http {
  access_log off; client_body_temp_path $folder/t; proxy_temp_path $folder/t;
  fastcgi_temp_path $folder/t; uwsgi_temp_path $folder/t; scgi_temp_path $folder/t;
  types { application/octet-stream bin; }
  server { listen 127.0.0.1:443 ssl http2; root $folder/www; ssl_certificate $folder/cert.pem;
           ssl_certificate_key $folder/key.pem; ssl_protocols TLSv1.3; }
}
EOF
  unshare -n bash -euc '
    folder=$1
    ip link set lo up
    nginx -e "$folder/nginx.err" -p "$folder" -c "$folder/nginx.conf" -g "daemon off;" &
    server=$!
    tcpdump -i lo -Q in -n -B 524288 -U -w "$folder/download.part" 2>"$folder/tcpdump.log" &
    recorder=$!
    until grep -q "listening on" "$folder/tcpdump.log"; do sleep 0.1; done
    sleep 0.5
    SSLKEYLOGFILE="$folder/keys.log" curl -sfk --http1.1 -o "$folder/fetched.bin" \
      https://127.0.0.1/download.bin
    sleep 1
    kill -INT "$recorder"; wait "$recorder" || true
    kill "$server"; wait "$server" || true
  ' bench "$folder"
  mv "$folder/download.part" "$recording"
  cmp -s "$folder/www/download.bin" "$folder/fetched.bin"
fi
served=$(sha256sum <"$folder/www/download.bin" | cut -c1-64)
echo "recording: $recording, $(($(stat -c %s "$recording") / 1000000)) MB; download $megabytes MB"

# One timed run: "wall-seconds peak-kB cpu-seconds whole|missing", whole when the files
# written hold the served download.
timed() {
  local out=$1 result sums
  shift
  rm -rf "$out" && mkdir -p "$out"
  result=$(mktemp)
  /usr/bin/time -f "%e %M %U %S" -o "$result" "$@" >/dev/null 2>&1 || true
  sums=$(find "$out" -type f -exec sha256sum {} + | cut -c1-64)
  tail -n 1 "$result" | awk -v whole="$(grep -qx "$served" <<<"$sums" && echo whole || echo missing)" \
    '{ printf "%s %s %.2f %s\n", $1, $2, $3 + $4, whole }'
  rm -f "$result"
  rm -rf "$out"
}

for ((run = 1; run <= runs; ++run)); do
  read -r wall peak cpu whole < <(timed "$folder/ours" "$program" -sniff -r "$recording" \
    -files "$folder/ours" -keylog "$keys")
  echo "run $run: ours   $wall s, $cpu CPU s, $((peak / 1024)) MB peak, download $whole"
  read -r wall peak cpu whole < <(timed "$folder/tshark" tshark -Q -r "$recording" \
    -o "tls.keylog_file:$keys" --export-objects "http,$folder/tshark")
  echo "run $run: tshark $wall s, $cpu CPU s, $((peak / 1024)) MB peak, download $whole"
done
