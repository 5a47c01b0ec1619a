#!/usr/bin/env bash
# Settings under kills: the config test's child saves Config.ini in a loop and is killed at a
# random moment of its first few saves, KILLS times (default 1000); after every kill Config.ini
# must be, byte for byte, the file before or the file after. CI runs the same test with 50 kills.
# Prints the test's tally (how many kills left the old file, the new one, and a temporary behind,
# which shows the kill fell between writing and renaming) and the time taken.
#
#   bench/config_kills.sh BUILD_DIR [KILLS]
set -euo pipefail
build=$(cd "$1" && pwd)
kills=${2:-1000}
test=$build/tests/test_data_config
[ -x "$test" ] || { echo "no $test: build the target test_data_config" >&2; exit 2; }
start=$(date +%s.%N)
POWDERBOX_KILLS=$kills ASAN_OPTIONS=detect_leaks=0 "$test" \
  --gtest_filter=ConfigTest.AKilledSaveLeavesAWholeFile | grep -E "kills|OK|FAILED"
end=$(date +%s.%N)
echo "took $(echo "$end - $start" | bc) s"
