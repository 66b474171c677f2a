#!/usr/bin/env bash
# "quillmoor.exe list --json" as a whole process under Wine, side by side with
# Wine's own "cmd /c exit" run the same way, so the cost of starting any
# program under Wine is seen apart from ours. Measured on a plain fresh
# prefix, then on the same prefix holding 1,000 Run values, 500 services
# and 300 task definitions (the populations of the scan benchmarks).
# Usage: bench/list_process_windows.sh [runs per measurement, default 7]
# (QUILLMOOR_EXE names an already built quillmoor.exe to measure instead.)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
program=${QUILLMOOR_EXE:-}
if [ -z "$program" ]; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target quillmoor >/dev/null
  program=$PWD/build/windows/quillmoor.exe
fi

WINEPREFIX=$(mktemp -d /tmp/quillmoor-bench-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX" "$work"' EXIT
# A persistent server, and the prefix made by its first program (see
# scripts/test.sh for why not "wineboot -i").
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1

# median_ms COMMAND...: the median wall time of `runs` runs, in milliseconds.
median_ms() {
  local times=()
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    times+=($(((end - start) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}

measure() {
  local label=$1
  local items
  items=$(wine "$program" list --json 2>/dev/null | grep -o '"id":' | wc -l)
  local trivial ours
  trivial=$(median_ms wine cmd /c exit)
  ours=$(median_ms wine "$program" list --json)
  printf '%-44s %6s items   cmd /c exit %5d ms   list --json %5d ms   ratio %s\n' "$label" "$items" "$trivial" \
    "$ours" "$(awk -v a="$ours" -v b="$trivial" 'BEGIN { printf "%.1f", a / b }')"
}

echo "== $runs runs each, medians"
measure "fresh prefix"

# 1,000 Run values and 500 services by one registry import; the service
# manager reads its services when it starts, so the server is restarted.
{
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n'
  for i in $(seq 1000); do
    printf '"Bench Run %04d"="\\"C:\\\\Program Files\\\\Bench %d\\\\app.exe\\" --tray"\n' "$i" "$i"
  done
  for i in $(seq 500); do
    printf '\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\BenchService%03d]\n' "$i"
    printf '"Type"=dword:00000010\n"Start"=dword:00000003\n"ErrorControl"=dword:00000001\n'
    printf '"ImagePath"="C:\\\\Program Files\\\\Bench\\\\service%d.exe"\n"DisplayName"="Bench service %d"\n' "$i" "$i"
  done
} >"$work/population.reg"
wine regedit /S "$(winepath -w "$work/population.reg")" >/dev/null 2>&1
tasks="$WINEPREFIX/drive_c/windows/system32/Tasks/Bench"
mkdir -p "$tasks"
for i in $(seq 300); do
  printf '<?xml version="1.0" encoding="UTF-16"?>\n<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task"><Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers><Settings><Enabled>true</Enabled></Settings><Actions><Exec><Command>C:\\Program Files\\Bench\\task%d.exe</Command></Exec></Actions></Task>\n' "$i" |
    iconv -f UTF-8 -t UTF-16 >"$tasks/Bench task $i"
done
wineserver -k >/dev/null 2>&1 || true
sleep 1
wineserver -p >/dev/null 2>&1
wine cmd /c exit >/dev/null 2>&1
measure "with 1,000 Run values, 500 services, 300 tasks"
