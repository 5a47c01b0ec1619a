#!/usr/bin/env bash
# Runs every fuzz target briefly on its committed corpus; fails on any crash or sanitizer report.
#
#   tests/fuzz/run.sh BUILD_DIR SECONDS
#
# BUILD_DIR is a clang tree with the fuzz targets; when it has none yet it is configured
# (-DPOWDERBOX_FUZZ=ON, clang++) and only the fuzz targets are built. SECONDS is the fuzzing
# time of the whole run, shared out evenly between the targets; 0 only configures and builds. New inputs go to a scratch
# folder, never into the committed corpus; a crashing input is kept in BUILD_DIR/fuzz-crashes
# (add it to the target's corpus once the fault is fixed).
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=$1
seconds=$2

cache="$build/CMakeCache.txt"
if [ -f "$cache" ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang' "$cache"; then
  echo "$0: $build is not a clang tree; give the fuzz build a folder of its own" >&2
  exit 2
fi
if [ ! -f "$cache" ] || ! grep -q '^POWDERBOX_FUZZ:BOOL=ON' "$cache"; then
  cmake -S "$source_dir" -B "$build" -DPOWDERBOX_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_COMPILER=clang -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
targets=$(sed -n 's/^add_fuzz_target(\([a-z_0-9]*\).*/\1/p' "$here/CMakeLists.txt")
build_targets=()
for name in $targets; do build_targets+=(--target "fuzz_$name"); done
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" "${build_targets[@]}"

[ "$seconds" -eq 0 ] && exit 0

count=$(echo "$targets" | wc -w)
each=$(( seconds / count ))
[ "$each" -lt 1 ] && each=1
crashes="$build/fuzz-crashes"
mkdir -p "$crashes"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

status=0
for name in $targets; do
  binary="$build/tests/fuzz/fuzz_$name"
  mkdir -p "$scratch/$name"
  echo "fuzz_$name: ${each}s"
  # The scratch folder comes first: libFuzzer writes what it finds into the first corpus only.
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$binary" -max_total_time="$each" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$crashes/$name-" "$scratch/$name" "$here/corpus/$name" \
      >"$scratch/$name.log" 2>&1; then
    echo "fuzz_$name FAILED; the log ends:" >&2
    tail -n 40 "$scratch/$name.log" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$scratch/$name.log" || true
  fi
done
exit $status
