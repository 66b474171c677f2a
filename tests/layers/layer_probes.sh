#!/usr/bin/env bash
# Each probe adds one file with one include that runs the wrong way to a
# throwaway copy of the tree, alone, and builds that file: the build must
# fail. With the include check on, it must fail in the check, naming the
# include; with the check off, the layer's include root must stop it too
# (all but the "../" probe, which only the check can see). A control probe
# with an allowed include must build. Usage: layer_probes.sh SOURCE_TREE
set -uo pipefail
tree=$1
work=$(mktemp -d /tmp/quillmoor-layer-probes.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp -r "$tree/CMakeLists.txt" "$tree/cmake" "$tree/resources" "$tree/src" "$work/"
failures=0

# build_probe MODE FILE TEXT: writes FILE (under src/) and builds its object
# in the copy's build folder for MODE ("check" or "roots"); prints the output.
build_probe() {
  local mode=$1 file=$2 text=$3 build="$work/build-$1" check=ON
  [ "$mode" = roots ] && check=OFF
  printf '%s\nint probe_anchor() { return 0; }\n' "$text" >"$work/src/$file"
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$work" -B "$build" -G Ninja -DQUILLMOOR_TESTS=OFF -DQM_CHECK_INCLUDES=$check >/dev/null 2>&1 ||
      { echo "the copy could not be configured"; return 2; }
  fi
  local layer=${file%/*} library
  library=$(tr '/' '_' <<<"$layer" | sed 's/^platforms_/platform_/')
  ninja -C "$build" "CMakeFiles/quillmoor_$library.dir/src/$file.o" 2>&1
  local rc=$?
  rm -f "$work/src/$file"
  return $rc
}

# expect_refused MODE FILE INCLUDE WORDS: the build fails and says WORDS.
expect_refused() {
  local output
  if output=$(build_probe "$1" "$2" "#include \"$3\""); then
    echo "FAIL ($1): src/$2 including \"$3\" was built"; failures=$((failures + 1))
  elif ! grep -qF "$4" <<<"$output"; then
    echo "FAIL ($1): src/$2 including \"$3\" failed without saying \"$4\":"; echo "$output" | tail -n 5
    failures=$((failures + 1))
  else
    echo "ok   ($1): src/$2 including \"$3\" is refused"
  fi
}

for mode in check roots; do
  if [ $mode = check ]; then said="Includes that run the wrong way"; else said="No such file"; fi
  expect_refused $mode engine/zz_probe.cpp cli/commands.h "$said"
  expect_refused $mode engine/zz_probe.cpp platforms/linux/linux_platform.h "$said"
  expect_refused $mode knowledge/zz_probe.cpp engine/plans.h "$said"
  expect_refused $mode os/zz_probe.cpp platforms/windows/registry.h "$said"
  expect_refused $mode os/zz_probe.cpp model/platform.h "$said"
done
expect_refused check engine/zz_probe.cpp ../cli/commands.h 'no include may climb with "../"'
if output=$(build_probe check engine/zz_probe.cpp '#include "knowledge/assessment.h"'); then
  echo "ok   (check): src/engine/zz_probe.cpp including \"knowledge/assessment.h\" builds"
else
  echo "FAIL (check): an allowed include did not build:"; echo "$output" | tail -n 5; failures=$((failures + 1))
fi
exit $((failures > 0))
