#!/usr/bin/env bash
# The processor time "quillmoor watch" uses while nothing changes: the watch
# runs on a Linux root with unit folders (with their *.wants folders), the
# autostart folders and the crontabs of a small computer, and its user and
# system time (from /proc/PID/stat) is read once it has said what it watches
# and again SECONDS later. Waiting must cost next to nothing: the figure is
# compared with 50 ms, and the script fails above it. Then the watch is
# ended by SIGTERM, which it takes as it takes Ctrl+C (a script's background
# job starts with SIGINT ignored, and an ignored SIGINT stays ignored), and
# must end with success.
# Usage: bench/watch_idle_cpu.sh [seconds, default 60]
# QUILLMOOR_BIN names an already built program to measure instead of the
# native preset's.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
limit_ms=50
program=${QUILLMOOR_BIN:-}
if [ -z "$program" ]; then
  cmake --preset native >/dev/null
  cmake --build --preset native --target quillmoor -- -j2 >/dev/null
  program=$PWD/build/native/quillmoor
fi

root=$(mktemp -d /tmp/quillmoor-watch-idle.XXXXXX)
out=$root.out
trap 'rm -rf "$root" "$out"' EXIT
# Every folder a computer has: one that is missing is waited for at its
# parent, and the program's own data folder made below /var would then be
# news once.
mkdir -p "$root/etc/systemd/system/multi-user.target.wants" "$root/usr/lib/systemd/system" \
  "$root/etc/xdg/autostart" "$root/etc/cron.d" "$root/home/ada/.config/autostart" "$root/var/spool/cron/crontabs"
for name in alpha beta gamma; do
  printf '[Unit]\nDescription=%s\n[Service]\nExecStart=/usr/bin/%s\n[Install]\nWantedBy=multi-user.target\n' \
    "$name" "$name" >"$root/usr/lib/systemd/system/$name.service"
  ln -s "/usr/lib/systemd/system/$name.service" "$root/etc/systemd/system/multi-user.target.wants/$name.service"
  printf '[Desktop Entry]\nName=%s\nExec=%s\n' "$name" "$name" >"$root/etc/xdg/autostart/$name.desktop"
done
printf '@reboot root /usr/bin/alpha\n' >"$root/etc/crontab"

QUILLMOOR_LINUX_ROOT=$root XDG_DATA_HOME= HOME=/home/ada "$program" watch >"$out" 2>&1 &
pid=$!
for _ in $(seq 1 300); do
  grep -q '^Watching' "$out" && break
  sleep 0.1
done
grep -q '^Watching' "$out" || { echo "the watch did not start:"; cat "$out"; kill "$pid"; exit 1; }

# utime and stime are the 14th and 15th fields, counted after the name in
# parentheses, which may hold spaces.
cpu_ticks() { sed -E 's/^.*\) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
ticks_per_second=$(getconf CLK_TCK)
before=$(cpu_ticks "$pid")
sleep "$seconds"
after=$(cpu_ticks "$pid")
used_ms=$(( (after - before) * 1000 / ticks_per_second ))

kill -TERM "$pid"
status=0
wait "$pid" || status=$?
head -n 1 "$out"
echo "watch idle for $seconds s used $used_ms ms of processor time (limit $limit_ms ms; one tick is $(( 1000 / ticks_per_second )) ms)"
echo "ended by SIGTERM with exit code $status"
[ "$used_ms" -lt "$limit_ms" ] && [ "$status" -eq 0 ]
