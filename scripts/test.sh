#!/usr/bin/env bash
# Sets everything up, builds both targets and runs every test suite: the
# native tests, then the Windows build's tests under Wine in a fresh prefix,
# then the release files of scripts/package.sh, then the window in Chromium.
# Ends with one line "N passed, N failed"; exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1

passed=0
failed=0
log_dir=$(mktemp -d /tmp/quillmoor-tests.XXXXXX)

note_failure() { failed=$((failed + 1)); echo "FAILED: $1"; }
sum_numbers() { awk '{ s += $1 } END { print s + 0 }'; }

# build PRESET: configures and builds; shows warnings and errors; fails on either.
build() {
  local preset=$1
  if ! cmake --preset "$preset" >"$log_dir/$preset-configure.log" 2>&1; then
    cat "$log_dir/$preset-configure.log"; return 1
  fi
  cmake --build --preset "$preset" >"$log_dir/$preset-build.log" 2>&1
  local rc=$?
  grep -E 'error|warning:' "$log_dir/$preset-build.log" | head -n 40
  [ $rc -eq 0 ] && ! grep -q 'warning:' "$log_dir/$preset-build.log"
}

# --- native -----------------------------------------------------------------
stage_start=$SECONDS
# stage_time NAME: adds how long the stage that just ended took to the summary.
stage_times=""
stage_time() { stage_times+="$1 $((SECONDS - stage_start)) s, "; stage_start=$SECONDS; }

echo "== Native build and tests"
if build native; then
  ctest --preset native >"$log_dir/native-tests.log" 2>&1
  grep -E 'Failed|\*\*\*|tests passed' "$log_dir/native-tests.log" | tail -n 40
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log_dir/native-tests.log" | tail -n 1)
  if [ -n "$summary" ]; then
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    t=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
    passed=$((passed + t - f)); failed=$((failed + f))
  else
    note_failure "native tests did not run (see $log_dir/native-tests.log)"
  fi
else
  note_failure "native build has errors or warnings (see $log_dir/native-build.log)"
fi

stage_time native

# --- Windows under Wine -----------------------------------------------------
# start_wine_prefix: a fresh Wine prefix for the Windows tests and the
# release check, removed by stop_wine_prefix.
start_wine_prefix() {
  WINEPREFIX=$(mktemp -d /tmp/quillmoor-wine.XXXXXX)
  export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # The prefix's server and its services stay up for the whole run, started
  # here with their output going nowhere: started later by a test, they would
  # inherit the test program's output and hold it open after the tests end.
  # The server is made persistent before the prefix is created, or the one
  # that creates it ends a few seconds after its last program.
  # The prefix is created by its first program, not by "wineboot -i": in an
  # empty prefix Wine runs its own start-up anyway, and the two together
  # leave two service managers running, each with half of the services the
  # tests create.
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1
  # A program that crashes prints its backtrace and ends, instead of waiting
  # for someone to close a crash dialog that nobody sees.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
}
stop_wine_prefix() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  wineserver -k >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
  unset WINEPREFIX
}

echo "== Windows build and tests under Wine"
if build windows; then
  start_wine_prefix
  ctest --preset windows >"$log_dir/windows-tests.log" 2>&1
  ctest_rc=$?
  grep -E '\[  FAILED  \]|Failure|tests passed|Exception|exit code' "$log_dir/windows-tests.log" | tail -n 40
  p=$(grep -oE '\[  PASSED  \] [0-9]+ tests?' "$log_dir/windows-tests.log" | grep -oE '[0-9]+' | sum_numbers)
  f=$(grep -oE '\[  FAILED  \] [0-9]+ tests?, listed below' "$log_dir/windows-tests.log" | grep -oE '[0-9]+' | sum_numbers)
  passed=$((passed + p)); failed=$((failed + f))
  if [ "$p" -eq 0 ] && [ "$f" -eq 0 ]; then
    note_failure "Windows tests did not run (see $log_dir/windows-tests.log)"
  elif [ $ctest_rc -ne 0 ] && [ "$f" -eq 0 ]; then
    note_failure "a Windows test program ended abnormally (see $log_dir/windows-tests.log)"
  fi
else
  note_failure "Windows build has errors or warnings (see $log_dir/windows-build.log)"
fi

stage_time windows

# --- the release files --------------------------------------------------------
# check NAME COMMAND...: one passed or failed check of the release files.
check() {
  local name=$1; shift
  if "$@" >>"$log_dir/package-checks.log" 2>&1; then passed=$((passed + 1)); else note_failure "release: $name"; fi
}
# packaged_output_is EXPECTED COMMAND...: the command ends well and prints exactly EXPECTED.
packaged_output_is() {
  local expected=$1 actual; shift
  actual=$("$@" | tr -d '\r') || return 1
  [ "$actual" = "$expected" ] || { printf 'expected:\n%s\ngot:\n%s\n' "$expected" "$actual"; return 1; }
}
echo "== Release files (scripts/package.sh)"
if bash scripts/package.sh >"$log_dir/package.log" 2>&1; then
  passed=$((passed + 1))
  grep -E '^(W|E): ' "$log_dir/package.log" | head -n 10
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release-linux/CMakeCache.txt)
  unpacked=$(mktemp -d /tmp/quillmoor-release.XXXXXX)
  check "SHA256SUMS" bash -c 'cd dist && sha256sum -c SHA256SUMS'
  check "the package unpacks" dpkg-deb -x dist/quillmoor_"$version"-*_amd64.deb "$unpacked/deb"
  expected_version=$(build/native/quillmoor version)
  check "packaged quillmoor version" packaged_output_is "$expected_version" "$unpacked/deb/usr/bin/quillmoor" version
  check "packaged quillmoor --demo list" packaged_output_is "$(build/native/quillmoor --demo list)" \
    "$unpacked/deb/usr/bin/quillmoor" --demo list
  check "the zip unpacks" unzip -q dist/quillmoor-"$version"-windows-x64.zip -d "$unpacked/zip"
  check "the zip's README names $version" grep -q "Version $version" "$unpacked/zip/README.txt"
  [ -n "${WINEPREFIX:-}" ] || start_wine_prefix
  check "the zip's quillmoor.exe version under Wine" packaged_output_is "$expected_version" \
    wine "$unpacked/zip/quillmoor.exe" version
  # System tools are started from the system folder: programs planted under
  # their names beside the released program are never run.
  if [ -f build/windows/tests/planted.exe ]; then
    for tool in sc.exe schtasks.exe powershell.exe curl.exe; do
      cp build/windows/tests/planted.exe "$unpacked/zip/$tool"
    done
    wine "$unpacked/zip/quillmoor.exe" doctor >/dev/null 2>&1
    check "tools planted beside the zip's quillmoor.exe are not run" \
      bash -c '! ls "$1"/*.ran 2>/dev/null | grep -q .' planted "$unpacked/zip"
  fi
  rm -rf "$unpacked"
else
  tail -n 20 "$log_dir/package.log"
  note_failure "scripts/package.sh did not make the release files (see $log_dir/package.log)"
fi
stop_wine_prefix

stage_time release

# --- the window in a real browser -------------------------------------------
echo "== Browser tests (Debian's chromium, playwright-core)"
if [ -x build/native/quillmoor ]; then
  # The Windows build's window is tested too, under wine in a prefix of its own.
  windows_exe=()
  if [ -f build/windows/quillmoor.exe ]; then
    windows_exe=("QUILLMOOR_WINDOWS_EXE=$PWD/build/windows/quillmoor.exe")
  fi
  env "${windows_exe[@]}" bash scripts/browser-tests.sh >"$log_dir/browser-tests.log" 2>&1
  browser_rc=$?
  grep -E '^# (pass|fail|cancelled)|^not ok|# SKIP|screenshots|page size|first list' "$log_dir/browser-tests.log" | tail -n 30
  p=$(grep -oE '^# pass [0-9]+' "$log_dir/browser-tests.log" | grep -oE '[0-9]+' | sum_numbers)
  # Tests cancelled because their set-up failed count as failed.
  f=$(grep -oE '^# (fail|cancelled) [0-9]+' "$log_dir/browser-tests.log" | grep -oE '[0-9]+' | sum_numbers)
  passed=$((passed + p)); failed=$((failed + f))
  if [ "$p" -eq 0 ] && [ "$f" -eq 0 ]; then
    note_failure "browser tests did not run (see $log_dir/browser-tests.log)"
  elif [ $browser_rc -ne 0 ] && [ "$f" -eq 0 ]; then
    note_failure "the browser tests ended abnormally (see $log_dir/browser-tests.log)"
  fi
else
  note_failure "no native program to test in a browser"
fi

stage_time browser
echo "Time: ${stage_times%, }"
echo "Logs: $log_dir"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
