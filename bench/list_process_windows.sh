#!/usr/bin/env bash
# "quillmoor.exe list --json" as a whole process under Wine, side by side with
# Wine's own "cmd /c exit" run the same way, so the cost of starting any
# program under Wine is seen apart from ours. Two machines, each measured
# with the program-file cache removed before every run (first scan), with it
# left from the run before (later scans), and with every record the scans
# keep in the data folder removed (nothing kept: the program-file cache and
# the service and task records, as on a machine never scanned before):
#   heavy machine: 500 services, 300 task definitions, 100 Run values and 50
#     Startup-folder shortcuts;
#   1,000 Run values, each naming a program file of its own (every one a copy
#     of a system program with version information).
# Peak memory is the largest resident size of one list --json run. The heavy
# machine is also measured with and without five sign-in records of 150
# processes each (the records Windows keeps of what ran after a sign-in, 50
# of the processes being programs of its Run values), in the same rounds:
# what reading and matching them adds to a later scan.
# Usage: bench/list_process_windows.sh [runs per measurement, default 7]
# (QUILLMOOR_EXE names an already built quillmoor.exe to measure instead;
# QUILLMOOR_EARLIER_EXE names another build measured on the same machines
# in the same rounds, to compare with; QUILLMOOR_BENCH_PREFIX keeps the
# populated prefixes there and in "$QUILLMOOR_BENCH_PREFIX-programs" instead
# of removing them; QUILLMOOR_BENCH_HEAVY_ONLY=1 measures the heavy machine
# alone.)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
program=${QUILLMOOR_EXE:-}
if [ -z "$program" ]; then
  cmake --preset windows >/dev/null
  cmake --build --preset windows --target quillmoor >/dev/null
  program=$PWD/build/windows/quillmoor.exe
fi
source_dir=$PWD

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
work=$(mktemp -d)
prefixes=()
cleanup() {
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    [ -n "${QUILLMOOR_BENCH_PREFIX:-}" ] || rm -rf "$prefix"
  done
  rm -rf "$work"
}
trap cleanup EXIT

# new_prefix [PATH]: a fresh prefix made by its first program under a
# persistent server (see scripts/test.sh for why not "wineboot -i").
new_prefix() {
  WINEPREFIX=${1:-$(mktemp -d /tmp/quillmoor-bench-wine.XXXXXX)}
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  export WINEPREFIX
  prefixes+=("$WINEPREFIX")
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1
}

# The service manager reads its services when it starts: the server restarts.
restart_server() {
  wineserver -k >/dev/null 2>&1 || true
  sleep 1
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1
}

data_folder() { printf '%s/drive_c/ProgramData/Quillmoor' "$WINEPREFIX"; }
drop_cache() { rm -f "$(data_folder)/program-versions.json"; }
drop_records() { rm -f "$(data_folder)"/program-versions.json "$(data_folder)"/service-keys.json "$(data_folder)"/task-definitions.json; }

# ms COMMAND...: the wall time of one run, in milliseconds.
ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$((($# + 1) / 2))p"; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a / b }'; }

# Each round runs Wine's own trivial program once and then every build
# measured in turn (the earlier one first): for each, a scan without any
# record (nothing kept), one without the program-file cache (first scan) and
# one with the cache it left. A load that comes and goes on the machine so
# weighs on all builds alike, and each is compared with the same trivial
# program.
measure() {
  local label=$1
  local labels=() programs=()
  if [ -n "${QUILLMOOR_EARLIER_EXE:-}" ]; then
    labels+=("$label (earlier)")
    programs+=("$QUILLMOOR_EARLIER_EXE")
  fi
  labels+=("$label")
  programs+=("$program")
  local items=() peaks=() trivial=() i
  local -A none=() cold=() warm=()
  for i in "${!programs[@]}"; do
    items[i]=$(wine "${programs[i]}" list --json 2>/dev/null | grep -o '"id":' | wc -l)
    drop_cache
    peaks[i]=$(/usr/bin/time -f '%M' wine "${programs[i]}" list --json 2>&1 >/dev/null | tail -1)
  done
  for _ in $(seq "$runs"); do
    trivial+=("$(ms wine cmd /c exit)")
    for i in "${!programs[@]}"; do
      drop_records
      none[$i]+=" $(ms wine "${programs[i]}" list --json)"
      drop_cache
      cold[$i]+=" $(ms wine "${programs[i]}" list --json)"
      warm[$i]+=" $(ms wine "${programs[i]}" list --json)"
    done
  done
  local t n c w
  t=$(median "${trivial[@]}")
  for i in "${!programs[@]}"; do
    # shellcheck disable=SC2086 # the lists are numbers split on spaces
    n=$(median ${none[$i]})
    # shellcheck disable=SC2086
    c=$(median ${cold[$i]})
    # shellcheck disable=SC2086
    w=$(median ${warm[$i]})
    printf '%-44s %5s items  cmd /c exit %4d ms  first scan %5d ms (%sx)  later scan %5d ms (%sx)  nothing kept %5d ms (%sx)  peak %d MiB\n' \
      "${labels[i]}" "${items[i]}" "$t" "$c" "$(ratio "$c" "$t")" "$w" "$(ratio "$w" "$t")" "$n" "$(ratio "$n" "$t")" \
      $((peaks[i] / 1024))
  done
}

regedit_import() {
  wine regedit /S "$(winepath -w "$1")" >/dev/null 2>&1
}

echo "== $runs runs each, medians"

# The heavy machine.
new_prefix "${QUILLMOOR_BENCH_PREFIX:-}"
{
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n'
  for i in $(seq 100); do
    printf '"Bench Run %04d"="\\"C:\\\\Program Files\\\\Bench %d\\\\app.exe\\" --tray"\n' "$i" "$i"
  done
  for i in $(seq 500); do
    printf '\n[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\BenchService%03d]\n' "$i"
    printf '"Type"=dword:00000010\n"Start"=dword:00000003\n"ErrorControl"=dword:00000001\n'
    printf '"ImagePath"="C:\\\\Program Files\\\\Bench\\\\service%d.exe"\n"DisplayName"="Bench service %d"\n' "$i" "$i"
  done
} >"$work/heavy.reg"
regedit_import "$work/heavy.reg"
tasks="$WINEPREFIX/drive_c/windows/system32/Tasks/Bench"
mkdir -p "$tasks"
for i in $(seq 300); do
  printf '<?xml version="1.0" encoding="UTF-16"?>\n<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task"><Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers><Settings><Enabled>true</Enabled></Settings><Actions><Exec><Command>C:\\Program Files\\Bench\\task%d.exe</Command></Exec></Actions></Task>\n' "$i" |
    iconv -f UTF-8 -t UTF-16 >"$tasks/Bench task $i"
done
# Wine spells the folder "StartUp"; a second one spelled otherwise would
# leave one of the two unread.
startup=$(find "$WINEPREFIX"/drive_c/users/*/AppData/Roaming -ipath '*/Start Menu/Programs/Startup' -type d | head -1)
for i in $(seq 50); do
  cp "$source_dir/tests/data/conformance/shell-links/exec_cmd_powershell.lnk" "$startup/Bench shortcut $i.lnk"
done
restart_server
measure "heavy machine"

# step_us COMMAND...: the time the scan's "startup cost" step took in one
# run, in microseconds, as the program reports it with QUILLMOOR_TIMING.
step_us() {
  QUILLMOOR_TIMING=1 "$@" 2>&1 >/dev/null | tr -d '\r' | awk '
    /^startup cost: / { v = $3; u = $4
      if (u == "ms") v *= 1000; else if (u == "s") v *= 1000000
      printf "%d\n", v }'
}

# Five sign-in records of the account the program runs as, each of 150
# processes: 50 programs of the Run values above (with their quoted command
# lines), 50 of the system folder and 50 that name nothing of the machine.
sid=$(wine reg query 'HKU' 2>/dev/null | tr -d '\r' | grep -o 'S-1-5-21-[0-9-]*' | head -1 || true)
records="$WINEPREFIX/drive_c/windows/system32/wdi/LogFiles/StartupInfo"
mkdir -p "$records"
for n in $(seq 5); do
  {
    printf '<?xml version="1.0" encoding="UTF-16"?>\r\n<StartupData Version="1" StartTime="2026-12-0%dT08:00:00.0000000Z">\r\n' "$n"
    for i in $(seq 150); do
      if [ "$i" -le 50 ]; then
        name="C:\\Program Files\\Bench $i\\app.exe"
        command="&quot;$name&quot; --tray"
      elif [ "$i" -le 100 ]; then
        name="C:\\Windows\\System32\\svchost.exe"
        command="$name -k netsvcs -p -s Service$i"
      else
        name="C:\\Users\\Bench\\AppData\\Local\\Other $i\\other.exe"
        command="$name /background &amp; more"
      fi
      printf '  <Process Name="%s" PID="%d" ParentName="C:\\Windows\\explorer.exe">\r\n' "$name" $((1000 + 4 * i))
      printf '    <StartTime>2026-12-0%dT08:00:%02d.0000000Z</StartTime>\r\n    <CommandLine>%s</CommandLine>\r\n' \
        "$n" $((i % 60)) "$command"
      printf '    <DiskUsage Unit="bytes">%d</DiskUsage>\r\n    <CpuUsage Unit="us">%d</CpuUsage>\r\n  </Process>\r\n' \
        $((i * 40000 + n)) $((i * 15000 + n))
    done
    printf '</StartupData>\r\n'
  } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$records/${sid}_StartupInfo$n.xml"
done
measured=$(wine "$program" list --json 2>/dev/null | { grep -o '"impact":{"level":"\(high\|medium\|low\)"' || true; } | wc -l)
# Rounds alternate which of the two runs first, so a load that grows or
# fades during a round weighs on both alike; the version record stays from
# the run before (later scans).
trivial=() without=() with=() added=() without_step=() with_step=()
for round in $(seq "$runs"); do
  trivial+=("$(ms wine cmd /c exit)")
  for side in $( [ $((round % 2)) -eq 1 ] && echo "without with" || echo "with without"); do
    if [ "$side" = with ]; then
      with+=("$(ms wine "$program" list --json)")
    else
      mv "$records" "$records.away"
      without+=("$(ms wine "$program" list --json)")
      mv "$records.away" "$records"
    fi
  done
  added+=($((with[-1] - without[-1])))
done
for _ in $(seq "$runs"); do
  with_step+=("$(step_us wine "$program" list --json)")
  mv "$records" "$records.away"
  without_step+=("$(step_us wine "$program" list --json)")
  mv "$records.away" "$records"
done
t=$(median "${trivial[@]}")
a=$(median "${without[@]}")
b=$(median "${with[@]}")
# The median of each round's difference as well: a load that comes and goes
# on the machine moves both runs of a round, and cancels out of it.
printf '%-44s %5s items measured  cmd /c exit %4d ms  without %5d ms  with %5d ms  (with/without %s; per round %+d ms)\n' \
  "heavy machine, 5 sign-in records of 150" "$measured" "$t" "$a" "$b" \
  "$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", b / a }')" "$(median "${added[@]}")"
printf '%-44s without %d us  with %d us (QUILLMOOR_TIMING)\n' "  the scan's startup cost step" \
  "$(median "${without_step[@]}")" "$(median "${with_step[@]}")"
rm -rf "$WINEPREFIX/drive_c/windows/system32/wdi"
wineserver -k >/dev/null 2>&1 || true
[ -z "${QUILLMOOR_BENCH_HEAVY_ONLY:-}" ] || exit 0

# 1,000 Run values with a program file each.
new_prefix "${QUILLMOOR_BENCH_PREFIX:+$QUILLMOOR_BENCH_PREFIX-programs}"
system32="$WINEPREFIX/drive_c/windows/system32"
{
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n'
  for i in $(seq 1000); do
    mkdir -p "$WINEPREFIX/drive_c/Program Files/Bench $i"
    cp "$system32/winver.exe" "$WINEPREFIX/drive_c/Program Files/Bench $i/app$i.exe"
    printf '"Bench Run %04d"="\\"C:\\\\Program Files\\\\Bench %d\\\\app%d.exe\\" --tray"\n' "$i" "$i" "$i"
  done
} >"$work/programs.reg"
regedit_import "$work/programs.reg"
measure "1,000 Run values, own programs"
