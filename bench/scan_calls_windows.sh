#!/usr/bin/env bash
# Where one "quillmoor.exe list --json" under Wine spends its time and its
# calls into the system, source by source: the times QUILLMOOR_TIMING writes,
# and the registry calls, file opens, file probes (attribute queries), device
# calls (under Wine, a volume query is one, answered by another process) and
# child processes that Wine's trace channels (reg, file, process) log between
# one source's time line and the next. The traces slow every call down, so the times are those
# of a run without them.
# Usage: WINEPREFIX=... bench/scan_calls_windows.sh [quillmoor.exe]
set -euo pipefail
program=${1:-$(dirname "$0")/../build/windows/quillmoor.exe}
: "${WINEPREFIX:?set WINEPREFIX to a populated prefix}"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trace=$(mktemp)
trap 'rm -f "$trace"' EXIT

items=$(WINEDEBUG=-all wine "$program" list --json 2>/dev/null)
echo "items: run $(grep -o '"kind":"run"' <<<"$items" | wc -l), folder $(grep -o '"kind":"folder"' <<<"$items" | wc -l)," \
  "service $(grep -o '"kind":"service"' <<<"$items" | wc -l), task $(grep -o '"kind":"task"' <<<"$items" | wc -l)"
echo "times without tracing:"
WINEDEBUG=-all QUILLMOOR_TIMING=1 wine "$program" list --json 2>&1 >/dev/null | grep -E '^[a-z ]+: ' | sed 's/^/  /'

WINEDEBUG=-all,trace+reg,trace+file,trace+process QUILLMOOR_TIMING=1 wine "$program" list --json 2>"$trace" >/dev/null || true
printf '%-18s %9s %9s %9s %10s %9s %9s\n' "calls up to" "reg open" "reg read" "file open" "file probe" "device" "processes"
awk '
  function flush(label) {
    printf "%-18s %9d %9d %9d %10d %9d %9d\n", label, open, read, fopen, probe, device, proc
    open = read = fopen = probe = device = proc = 0
  }
  /:trace:reg:Nt(OpenKey|OpenKeyEx|CreateKey) \(/ { open++ }
  /:trace:reg:Nt(QueryValueKey|EnumerateValueKey|EnumerateKey|QueryKey) \(/ { read++ }
  /:trace:file:NtCreateFile handle=|:trace:file:NtOpenFile / { fopen++ }
  /:trace:file:GetFileAttributes(W|ExW) / { probe++ }
  /:trace:file:NtDeviceIoControlFile / { device++ }
  /:trace:process:.*CreateProcess/ { proc++ }
  /^[a-z ]+: [0-9.]+ [^ ]+$/ { sub(/:.*/, ""); flush($0) }
  END { flush("end of the run") }
' "$trace"
