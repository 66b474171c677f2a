#!/usr/bin/env bash
# Kills the real program at random points of many changes (200 by default,
# 30 in the ordinary test run) on a Linux computer in a scratch folder, then
# checks that the next run leaves no change unrecorded: the test
# OverlappingRuns.RunsKilledAtRandomPointsLeaveNoChangeUnrecorded with more runs.
# Usage: bench/killed_runs.sh [runs, default 200]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
cmake --preset native >/dev/null
cmake --build --preset native --target quillmoor quillmoor_tests -- -j2 >/dev/null
QUILLMOOR_KILLED_RUNS=$runs build/native/tests/quillmoor_tests \
  --gtest_filter=OverlappingRuns.RunsKilledAtRandomPointsLeaveNoChangeUnrecorded
