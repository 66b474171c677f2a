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

lua=""
source bench/demo_server.sh
trap 'stop_demo_server; if [[ -n $lua ]]; then rm -f "$lua"; fi' EXIT
start_demo_server build/bench/quillmoor

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
