#!/usr/bin/env bash
# Runs a Windows program under Wine. Uses the WINEPREFIX the caller prepared
# (the test script makes a fresh one per run); without one, makes a fresh
# temporary prefix for this call and removes it afterwards.
set -u
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
own_prefix=""
if [ -z "${WINEPREFIX:-}" ]; then
  own_prefix=$(mktemp -d /tmp/quillmoor-wine.XXXXXX)
  export WINEPREFIX="$own_prefix"
  # The first program creates the prefix; an explicit "wineboot -i" on top of
  # that would start a second service manager.
  wine cmd /c exit >/dev/null 2>&1
  # A crash prints its backtrace and ends the program; no dialog waits.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
fi
# The program's output goes to a file, passed on when it ends: a process that
# Wine starts for it and that outlives it (a console host, a service) would
# otherwise hold the caller's pipe open, and a caller such as ctest waits
# for that pipe to close.
output=$(mktemp)
wine "$@" >"$output" 2>&1
rc=$?
cat "$output"
rm -f "$output"
if [ -n "$own_prefix" ]; then
  wineserver -k >/dev/null 2>&1
  rm -rf "$own_prefix"
fi
exit $rc
