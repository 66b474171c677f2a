#!/usr/bin/env bash
# Runs the window's browser tests (tests/browser) in Debian's Chromium against
# an already built build/native/quillmoor (or $QUILLMOOR_EXE). Installs only
# what is missing: the chromium and nodejs packages, and playwright-core when
# node_modules is absent or package.json changed since the last install.
# When QUILLMOOR_WINDOWS_EXE names the Windows build and wine is on PATH, that
# program's window is tested too, under wine in a fresh prefix of its own.
# Prints node's test summary ("# pass N", "# fail N") and exits with its code.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tests="$root/tests/browser"

missing=()
[ -x /usr/bin/chromium ] || missing+=(chromium)
command -v node >/dev/null 2>&1 || missing+=(nodejs)
if [ ${#missing[@]} -gt 0 ]; then
  "$root/scripts/setup.sh" "${missing[@]}" || exit 1
fi
if ! command -v npm >/dev/null 2>&1; then
  "$root/scripts/setup.sh" npm || exit 1
fi

exe="${QUILLMOOR_EXE:-build/native/quillmoor}"
case "$exe" in /*) ;; *) exe="$root/$exe" ;; esac
if [ ! -x "$exe" ]; then
  echo "The program $exe is not built; build it first (cmake --build --preset native)." >&2
  exit 1
fi

# The stamp remembers which package.json the installed modules belong to.
stamp="$tests/node_modules/.package-json.sha256"
want=$(sha256sum "$tests/package.json" | cut -d' ' -f1)
if [ ! -d "$tests/node_modules/playwright-core" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$want" ]; then
  echo "Installing the browser test dependencies"
  (cd "$tests" && npm install --no-audit --no-fund --no-package-lock --loglevel=error) || exit 1
  echo "$want" >"$stamp"
fi

cd "$tests" || exit 1
node --test --test-reporter=tap
