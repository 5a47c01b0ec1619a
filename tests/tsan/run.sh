#!/usr/bin/env bash
# The tests whose code runs on more than one thread, under ThreadSanitizer: the logo thread of
# start-up, streamed sound, the network's tables, and the server search's search, query and
# clean-up threads with the lobby lock. Fails on any report.
#
#   tests/tsan/run.sh BUILD_DIR
#
# BUILD_DIR is a tree of its own, configured here with -DPOWDERBOX_TSAN=ON when it has none.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build=${1:?usage: $0 BUILD_DIR}
if [ ! -f "$build/CMakeCache.txt" ] || ! grep -q '^POWDERBOX_TSAN:BOOL=ON' "$build/CMakeCache.txt"; then
  cmake -S "$source_dir" -B "$build" -DPOWDERBOX_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
tests=(test_runtime_containers test_runtime_network test_runtime_sound test_runtime_screen
       test_app_resources test_app_smoke test_net_server_search test_ui_screens
       test_app_server_list)
targets=()
for t in "${tests[@]}"; do targets+=(--target "$t"); done
# The content tools that run during the build are not under test: they draw through libraries
# whose threads the sanitizer cannot see into.
TSAN_OPTIONS=report_bugs=0 cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  "${targets[@]}" --target powderbox --target powderbox-serverlist --target content

# Reports inside the libraries we do not build are theirs, not ours.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$here/suppressions.txt"

export ALSOFT_DRIVERS=null POWDERBOX_SEED=1
failed=0
for t in "${tests[@]}"; do
  echo "== $t"
  if ! (cd "$build" && "tests/$t" --gtest_brief=1); then failed=1; fi
done
exit "$failed"
