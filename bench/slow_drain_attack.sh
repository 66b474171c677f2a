#!/usr/bin/env bash
# The slow-drain attack on the window server of the demonstration: 48 clients
# on loopback announce a huge body on a refused request and send it one byte
# every 50 ms, reconnecting whenever the server closes, while the window's own
# request (with the token) is timed every 250 ms. Fails unless every one is
# answered within a second.
# Usage: bench/slow_drain_attack.sh [seconds, default 20] [attackers, default 48] [program to attack]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
attackers=${2:-48}
program=${3:-build/bench/quillmoor}
cmake --preset bench >/dev/null
cmake --build --preset bench --target quillmoor slow_drain_attack_bench >/dev/null

out=$(mktemp)
"$program" --demo serve --no-browser --port 0 >"$out" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 50); do grep -q 'k=' "$out" && break; sleep 0.1; done
link=$(grep -o 'http://127.0.0.1:[0-9]*/#k=[0-9a-f]*' "$out")
port=$(sed -E 's#http://127.0.0.1:([0-9]+)/.*#\1#' <<<"$link")
key=${link##*#k=}
token=$(curl -s -X POST -d "{\"k\":\"$key\"}" "http://127.0.0.1:$port/api/bootstrap" | sed -E 's/.*"token":"([0-9a-f]+)".*/\1/')
curl -s -X POST -H "x-quillmoor-token: $token" "http://127.0.0.1:$port/api/ping" >/dev/null

echo "== slow-drain attack on $program: $attackers clients, ${seconds}s"
status=0
build/bench/bench/slow_drain_attack_bench "$port" "$token" "$seconds" "$attackers" || status=$?
echo "== Server threads and peak memory afterwards"
grep -E 'Threads|VmHWM' "/proc/$server/status"
exit $status
