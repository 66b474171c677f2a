#!/usr/bin/env bash
# Load on the window server of the demonstration, from a second process on
# loopback: requests per second and latency percentiles for GET /api/state
# and POST /api/scan with wrk, and the server's peak memory.
# Usage: bench/server_load.sh [seconds per run, default 10]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
scripts/setup.sh wrk
cmake --preset bench >/dev/null
cmake --build --preset bench --target quillmoor >/dev/null

out=$(mktemp)
build/bench/quillmoor --demo serve --no-browser --port 0 >"$out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; rm -f "$out" "$lua"' EXIT
for _ in $(seq 50); do grep -q 'k=' "$out" && break; sleep 0.1; done
link=$(grep -o 'http://127.0.0.1:[0-9]*/#k=[0-9a-f]*' "$out")
port=$(sed -E 's#http://127.0.0.1:([0-9]+)/.*#\1#' <<<"$link")
key=${link##*#k=}
token=$(curl -s -X POST -d "{\"k\":\"$key\"}" "http://127.0.0.1:$port/api/bootstrap" | sed -E 's/.*"token":"([0-9a-f]+)".*/\1/')
curl -s -X POST -H "x-quillmoor-token: $token" "http://127.0.0.1:$port/api/ping" >/dev/null

lua=$(mktemp --suffix=.lua)
cat >"$lua" <<LUA
wrk.method = "POST"
wrk.body = '{"what":"startup"}'
wrk.headers["x-quillmoor-token"] = "$token"
LUA

echo "== GET /api/state (4 connections, ${seconds}s)"
wrk -t2 -c4 -d"${seconds}s" --latency -H "x-quillmoor-token: $token" "http://127.0.0.1:$port/api/state"
echo "== POST /api/scan (4 connections, ${seconds}s)"
wrk -t2 -c4 -d"${seconds}s" --latency -s "$lua" "http://127.0.0.1:$port/api/scan"
echo "== Server peak memory"
grep -E 'VmHWM|VmRSS' "/proc/$server/status"
