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
fi
wine "$@"
rc=$?
if [ -n "$own_prefix" ]; then
  wineserver -k >/dev/null 2>&1
  rm -rf "$own_prefix"
fi
exit $rc
