#!/usr/bin/env bash
# HTTP load on the release build: GET /api/status over loopback with wrk, first with 50
# connections, then with one; prints requests/s, p50/p99 latency and the server's peak RSS.
#   bash bench/http_load.sh            (build first: cmake --preset release && cmake --build --preset release)
# Environment: OSTREL_BINARY (default build/release/ostrel-gateway), DURATION (default 10s).
set -euo pipefail
cd "$(dirname "$0")/.."

binary=${OSTREL_BINARY:-build/release/ostrel-gateway}
duration=${DURATION:-10s}
[[ -x "$binary" ]] || { echo "no $binary: build it with: cmake --preset release && cmake --build --preset release" >&2; exit 1; }

if ! command -v wrk >/dev/null 2>&1; then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends wrk
fi

home=$(mktemp -d)
out="$home/gateway.out"
server_pid=""
cleanup() {
  if [[ -n "$server_pid" ]] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$home"
}
trap cleanup EXIT

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
token=$(cat "$home/.ostrel/gateway-token")
url="http://127.0.0.1:$port/api/status"

# Fails early (and loudly) if the request is not answered 200.
code=$(curl -s -o /dev/null -w '%{http_code}' -H "Authorization: Bearer $token" "$url")
[[ "$code" == 200 ]] || { echo "GET /api/status answered $code" >&2; exit 1; }

run() {
  local connections=$1
  local report
  report=$(wrk --latency -t1 -c"$connections" -d"$duration" -H "Authorization: Bearer $token" "$url")
  local rps p50 p99
  rps=$(awk '/^Requests\/sec:/ {print $2}' <<<"$report")
  p50=$(awk '$1 == "50%" {print $2}' <<<"$report")
  p99=$(awk '$1 == "99%" {print $2}' <<<"$report")
  local errors
  errors=$(grep -E 'Non-2xx|Socket errors' <<<"$report" || true)
  printf '%-16s %12s req/s   p50 %-9s p99 %-9s %s\n' "$connections connection(s)" "$rps" "$p50" "$p99" "$errors"
}

echo "wrk -t1 -d$duration --latency, GET /api/status with the token, $binary"
run 50
run 1
echo "peak RSS of the server: $(awk '/^VmHWM:/ {print $2, $3}' "/proc/$server_pid/status")"
