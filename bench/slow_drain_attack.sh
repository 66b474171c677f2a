#!/usr/bin/env bash
# The slow-drain attack on the window server of the demonstration: 48 clients
# on loopback announce a huge body on a refused request and send it one byte
# every 50 ms, reconnecting whenever the server closes, while the window's own
# request (with the token) is timed every 250 ms. Fails unless every one is
# answered within a second. The kind "head" has the clients send no token
# and their heads one byte every half second instead (60 clients is the
# usual figure for it).
# Usage: bench/slow_drain_attack.sh [seconds, default 20] [attackers, default 48] [program to attack] [drain|head]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
attackers=${2:-48}
program=${3:-build/bench/quillmoor}
kind=${4:-drain}
cmake --preset bench >/dev/null
cmake --build --preset bench --target quillmoor slow_drain_attack_bench >/dev/null

source bench/demo_server.sh
trap stop_demo_server EXIT
start_demo_server "$program"

echo "== slow-$kind attack on $program: $attackers clients, ${seconds}s"
status=0
build/bench/bench/slow_drain_attack_bench "$port" "$token" "$seconds" "$attackers" "$kind" || status=$?
echo "== Server threads and peak memory afterwards"
grep -E 'Threads|VmHWM' "/proc/$server/status"
exit $status
