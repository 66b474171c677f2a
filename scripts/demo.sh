#!/usr/bin/env bash
# Sets everything up, builds the Linux program and shows the demonstration
# computer. Extra arguments are passed on, e.g. scripts/demo.sh list
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target quillmoor
exec build/native/quillmoor --demo "$@"
