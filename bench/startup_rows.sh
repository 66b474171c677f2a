#!/usr/bin/env bash
# The three start-up figures, each side by side with a reference measured in
# the same run (medians of N runs, the two commands taking turns; where perf
# is present, the mean processor time of each too):
#   1. "quillmoor list --json" on a Linux root made of read-only copies of this
#      machine's own unit files, autostart files, cron files, init scripts and
#      dpkg database, against "systemctl --root=ROOT list-unit-files" on the
#      same root; with the peak memory of each (children included);
#   2. "quillmoor --demo list --json" against /bin/true;
#   3. what reading the start times of a boot adds to a listing: the same
#      root with a running systemd (a /run/systemd/system folder and a
#      stand-in systemctl first on the search path, answering the boot's
#      phases and a start time for every unit asked), once with systemctl
#      answering "show" and once refusing it, so that nothing is measured;
#   4. the window: from opening the one-time link in Chromium to the first
#      list drawn, against the same browser drawing a one-row list from a
#      trivial local server (bench/window_first_list.mjs; needs Chromium and
#      tests/browser's node modules, see scripts/browser-tests.sh; skipped
#      when they are missing).
# Usage: bench/startup_rows.sh [runs, default 15]
# QUILLMOOR_BIN names an already built program to measure instead of the
# bench preset's; QUILLMOOR_BENCH_ROOT an already made root to read.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}
program=${QUILLMOOR_BIN:-}
if [ -z "$program" ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target quillmoor -- -j2 >/dev/null
  program=$PWD/build/bench/quillmoor
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# make_root FOLDER: the machine's start-up files and package database, copied.
make_root() {
  local root=$1 folder
  mkdir -p "$root/usr/lib" "$root/usr/bin" "$root/usr/sbin" "$root/etc" "$root/var/lib/dpkg/info"
  for folder in /etc/systemd /etc/xdg/autostart /etc/init.d /etc/rc2.d /etc/rc3.d /etc/rc4.d /etc/rc5.d \
    /etc/cron.d /usr/lib/systemd/system /usr/lib/systemd/user /usr/local/lib/systemd; do
    if [ -d "$folder" ]; then
      mkdir -p "$root$(dirname "$folder")"
      cp -a "$folder" "$root$(dirname "$folder")/"
    fi
  done
  for file in /etc/crontab /etc/rc.local /etc/os-release /usr/lib/os-release /etc/machine-id \
    /var/lib/dpkg/status /var/lib/dpkg/diversions /var/lib/dpkg/arch; do
    if [ -e "$file" ]; then cp -a "$file" "$root$file"; fi
  done
  find /var/lib/dpkg/info -maxdepth 1 -name '*.list' -exec cp -t "$root/var/lib/dpkg/info" {} +
  # The merged /usr of a current Debian, as on this machine.
  for name in lib bin sbin; do [ -L "/$name" ] && ln -s "usr/$name" "$root/$name"; done
  return 0
}

root=${QUILLMOOR_BENCH_ROOT:-}
if [ -z "$root" ]; then
  root=$work/root
  make_root "$root"
fi

# run_ms COMMAND...: the wall time of one run, in milliseconds (fractional).
run_ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  awk -v d=$((end - start)) 'BEGIN { printf "%.1f\n", d / 1e6 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# peak_kb COMMAND...: the largest resident size of the command or any child it waited for.
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# cpu_ms COMMAND...: the mean processor time of `runs` runs (perf's task-clock,
# children included), which a machine busy with other work disturbs far less
# than the wall time; empty without perf.
cpu_ms() {
  command -v perf >/dev/null 2>&1 || return 0
  perf stat -x, -e task-clock -r "$runs" "$@" 2>&1 >/dev/null | awk -F, '/task-clock/ { printf "%.2f", $1 }'
}

# side_by_side LABEL REFERENCE_LABEL "OURS..." "REFERENCE...": both timed in turns.
side_by_side() {
  local label=$1 reference_label=$2 ours=$3 reference=$4
  local ours_times=() reference_times=()
  for _ in $(seq "$runs"); do
    ours_times+=("$(eval "run_ms $ours")")
    reference_times+=("$(eval "run_ms $reference")")
  done
  local a b
  a=$(printf '%s\n' "${ours_times[@]}" | median)
  b=$(printf '%s\n' "${reference_times[@]}" | median)
  printf '%-28s %8.1f ms   %-36s %8.1f ms   ratio %s\n' "$label" "$a" "$reference_label" "$b" "$(ratio "$a" "$b")"
  local ours_cpu reference_cpu
  ours_cpu=$(eval "cpu_ms $ours")
  reference_cpu=$(eval "cpu_ms $reference")
  if [ -n "$ours_cpu" ] && [ -n "$reference_cpu" ]; then
    printf '%-28s %8.2f ms   %-36s %8.2f ms   ratio %s\n' "  processor time" "$ours_cpu" "" "$reference_cpu" \
      "$(ratio "$ours_cpu" "$reference_cpu")"
  fi
}

export HOME=/root
echo "== $runs runs each, medians; program $program"
items=$(QUILLMOOR_LINUX_ROOT=$root "$program" list --json | grep -o '"id":"' | wc -l)
echo "Linux root $root: $items items"
side_by_side "list --json (Linux root)" "systemctl --root list-unit-files" \
  "env QUILLMOOR_LINUX_ROOT=$root $program list --json" "systemctl --root=$root list-unit-files"
ours_peak=$(for _ in 1 2 3; do QUILLMOOR_LINUX_ROOT=$root peak_kb "$program" list --json; done | median)
reference_peak=$(for _ in 1 2 3; do peak_kb systemctl --root="$root" list-unit-files; done | median)
printf '%-28s %8.1f MB   %-36s %8.1f MB\n' "  peak memory" "$(awk -v k="$ours_peak" 'BEGIN { print k / 1024 }')" \
  "" "$(awk -v k="$reference_peak" 'BEGIN { print k / 1024 }')"
side_by_side "--demo list --json" "/bin/true" "$program --demo list --json" "/bin/true"

# The root's systemd "runs": a copy of the root with its run folder, and a
# systemctl that answers show as a booted systemd would (QM_SHOW=refuse: fails
# it) and lists no live states, the same in both runs.
running_root=$work/running-root
cp -a "$root" "$running_root"
mkdir -p "$running_root/run/systemd/system" "$work/standin"
cat >"$work/standin/systemctl" <<'STANDIN'
#!/bin/sh
case "$1 $2 $3" in
  "show -p Firmware"*)
    [ "${QM_SHOW:-}" = refuse ] && exit 1
    printf 'FirmwareTimestampMonotonic=0\nLoaderTimestampMonotonic=0\nInitRDTimestampMonotonic=812000\n'
    printf 'UserspaceTimestampMonotonic=2400000\nFinishTimestampMonotonic=9200000\n' ;;
  "show -p Id,"*)
    shift 4; n=0
    for unit in "$@"; do
      n=$((n + 1))
      printf 'Id=%s\nInactiveExitTimestampMonotonic=%d\nActiveEnterTimestampMonotonic=%d\n\n' "$unit" \
        $((2500000 + n * 40000)) $((2600000 + n * 53000))
    done ;;
esac
exit 0
STANDIN
chmod +x "$work/standin/systemctl"
side_by_side "list --json, start times" "the same, systemctl refusing show" \
  "env PATH=$work/standin:$PATH QUILLMOOR_LINUX_ROOT=$running_root $program list --json" \
  "env QM_SHOW=refuse PATH=$work/standin:$PATH QUILLMOOR_LINUX_ROOT=$running_root $program list --json"

if [ -x /usr/bin/chromium ] && [ -d tests/browser/node_modules/playwright-core ]; then
  QUILLMOOR_EXE=$program node bench/window_first_list.mjs "$runs"
else
  echo "window: skipped (needs /usr/bin/chromium and tests/browser/node_modules; see scripts/browser-tests.sh)"
fi
