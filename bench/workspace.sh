#!/usr/bin/env bash
# Workspace benchmarks on the release build, loopback only. On a tree of 100,000 files in 2,000
# folders under a temporary home folder:
#   (a) GET /api/workspace/manifest against `find ROOT -type f -printf '%P %s %T@\n'` (best of 5 each);
#   (b) GET /api/status p50/p99 with wrk while manifests run back to back;
#   (c) download of a 512 MiB file from /api/workspace/download against nginx serving the same
#       file (Debian's nginx, on a free loopback port, stopped afterwards), median of 5 alternating rounds
#       with curl's speed_download, and the growth of the server's resident memory during it.
#   bash bench/workspace.sh            (build first: cmake --preset release && cmake --build --preset release)
# Environment: OSTREL_BINARY (default build/release/ostrel-gateway), FILES (100000), FOLDERS (2000),
# BIG_MIB (512), DURATION (wrk run, default 10s).
set -euo pipefail
cd "$(dirname "$0")/.."

binary=${OSTREL_BINARY:-build/release/ostrel-gateway}
files=${FILES:-100000}
folders=${FOLDERS:-2000}
big_mib=${BIG_MIB:-512}
duration=${DURATION:-10s}
[[ -x "$binary" ]] || { echo "no $binary: build it with: cmake --preset release && cmake --build --preset release" >&2; exit 1; }

missing=()
command -v wrk >/dev/null 2>&1 || missing+=(wrk)
command -v nginx >/dev/null 2>&1 || [[ -x /usr/sbin/nginx ]] || missing+=(nginx-light)
command -v curl >/dev/null 2>&1 || missing+=(curl)
command -v bc >/dev/null 2>&1 || missing+=(bc)
if ((${#missing[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

home=$(mktemp -d)
root="$home/ostrel-workspace"
server_pid="" nginx_pid="" loop_pid=""
cleanup() {
  for pid in "$loop_pid" "$nginx_pid" "$server_pid"; do
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$home"
}
trap cleanup EXIT

echo "building $files files in $folders folders and a $big_mib MiB file under $root ..."
python3 - "$root" "$files" "$folders" <<'PY'
import os, sys
root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
per = files // folders
for d in range(folders):
    folder = os.path.join(root, f"d{d // 100:02d}", f"f{d:04d}")
    os.makedirs(folder, exist_ok=True)
    for f in range(per):
        with open(os.path.join(folder, f"note-{f:03d}.md"), "w") as out:
            out.write("x" * (f % 200))
PY
mkdir -p "$root/big"
head -c "$((big_mib * 1024 * 1024))" /dev/urandom >"$root/big/big.bin"
sync  # no write-back of the new tree during the measurements
# nginx's workers run as another user: let them reach the big file (and nothing else).
chmod 711 "$home" "$root" "$root/big"
chmod 644 "$root/big/big.bin"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

out="$home/gateway.out"
HOME="$home" "$binary" --port 0 --log-level warn >"$out" 2>&1 &
server_pid=$!
port=""
for _ in $(seq 100); do
  port=$(grep -o 'http://127\.0\.0\.1:[0-9]*' "$out" 2>/dev/null | head -1 | sed 's/.*://') || true
  [[ -n "$port" ]] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$out" >&2; exit 1; }
  sleep 0.1
done
[[ -n "$port" ]] || { echo "the gateway did not report its port" >&2; cat "$out" >&2; exit 1; }
auth="Authorization: Bearer $(cat "$home/.ostrel/gateway-token")"
base="http://127.0.0.1:$port"

# ---- (a) manifest against find ----
total=$(curl -sf -H "$auth" "$base/api/workspace/manifest" | python3 -c 'import json,sys; print(json.load(sys.stdin)["total"])')
[[ "$total" -eq $((files / folders * folders + 1)) ]] || { echo "manifest lists $total files" >&2; exit 1; }
best() { sort -g | head -1; }
manifest_s=$(for _ in 1 2 3 4 5; do curl -sf -o /dev/null -w '%{time_total}\n' -H "$auth" "$base/api/workspace/manifest"; done | best)
find_s=$(for _ in 1 2 3 4 5; do
  start=$(date +%s.%N); find "$root" -type f -printf '%P %s %T@\n' >/dev/null; end=$(date +%s.%N)
  echo "$end - $start" | bc -l
done | best)
printf '(a) manifest of %s files: %.3f s   find -printf: %.3f s   ratio %.2f\n' "$total" "$manifest_s" "$find_s" \
  "$(echo "$manifest_s / $find_s" | bc -l)"

# ---- (b) /api/status latency while manifests run ----
( while :; do curl -s -o /dev/null -H "$auth" "$base/api/workspace/manifest"; done ) &
loop_pid=$!
report=$(wrk --latency -t1 -c10 -d"$duration" -H "$auth" "$base/api/status")
kill -TERM "$loop_pid" 2>/dev/null || true
wait "$loop_pid" 2>/dev/null || true
loop_pid=""
p50=$(awk '$1 == "50%" {print $2}' <<<"$report")
p99=$(awk '$1 == "99%" {print $2}' <<<"$report")
rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$report")
errors=$(grep -E 'Non-2xx|Socket errors' <<<"$report" || true)
echo "(b) GET /api/status (wrk -t1 -c10 -d$duration) with manifests in a loop: $rps req/s, p50 $p50, p99 $p99 $errors"

# ---- (c) 512 MiB download against nginx ----
nginx_port=$(free_port)
mkdir -p "$home/nginx"
cat >"$home/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $home/nginx/nginx.pid;
error_log $home/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $home/nginx/tmp;
  server { listen 127.0.0.1:$nginx_port; root $root; }
}
CONF
"$nginx_bin" -p "$home/nginx" -c "$home/nginx/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && break; sleep 0.1; done

cat "$root/big/big.bin" >/dev/null  # both read from the page cache
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$server_pid/status"; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
rss_before=$(rss)
peak_file="$home/rss.peak"
echo "$rss_before" >"$peak_file"
( while kill -0 "$server_pid" 2>/dev/null; do
    now=$(rss); peak=$(cat "$peak_file"); ((now > peak)) && echo "$now" >"$peak_file"; sleep 0.02
  done ) &
sampler_pid=$!
# Five rounds, the two servers taking turns, so drift on the machine hits both alike; medians.
: >"$home/gateway.speeds"
: >"$home/nginx.speeds"
for _ in 1 2 3 4 5; do
  curl -sf -o /dev/null -w '%{speed_download}\n' -H "$auth" "$base/api/workspace/download/big/big.bin" >>"$home/gateway.speeds"
  curl -sf -o /dev/null -w '%{speed_download}\n' "http://127.0.0.1:$nginx_port/big/big.bin" >>"$home/nginx.speeds"
done
kill "$sampler_pid" 2>/dev/null || true
wait "$sampler_pid" 2>/dev/null || true
rss_peak=$(cat "$peak_file")
gateway_speed=$(median <"$home/gateway.speeds")
nginx_speed=$(median <"$home/nginx.speeds")
mib() { echo "$1 / 1048576" | bc -l; }
printf '(c) %s MiB download: gateway %.0f MiB/s   nginx %.0f MiB/s   ratio %.2f   server RSS %d -> %d KiB (+%d KiB)\n' \
  "$big_mib" "$(mib "$gateway_speed")" "$(mib "$nginx_speed")" "$(echo "$gateway_speed / $nginx_speed" | bc -l)" \
  "$rss_before" "$rss_peak" "$((rss_peak - rss_before))"
