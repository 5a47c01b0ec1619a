#!/usr/bin/env bash
# The frame period of a tried match (--try-map Plains --bots 3) with the screen drawn straight into
# its window (1024x768 on a 1024x768 display) and scaled onto a larger desktop (fullscreen on
# 1920x1080, and on 2048x1536 where it is a sharp 2x), RUNS runs of SECONDS each, interleaved so
# that other load on the machine falls on every case alike. Prints each run's last FRAME line
# (fps, period p50 and p99 over its last two seconds) and the median of each case.
#
#   bench/scaling_fps.sh BUILD_DIR [RUNS] [SECONDS]
#
# With KEEP_LOGS=DIR the logs and a picture of each display stay there. Needs Xvfb (package xvfb)
# and import (imagemagick).
set -euo pipefail
# shellcheck source=bench/measure_common.sh
source "$(dirname "$0")/measure_common.sh"
choose_binaries "$1"
runs=${2:-3}
seconds=${3:-15}
export ALSOFT_DRIVERS=null

cases=("window 1024x768 0" "fullscreen 1920x1080 1" "fullscreen 2048x1536 1")

run_case() { # name size fullscreen run
  local name=$1-$2 config=$work/$1-$2-$4
  mkdir -p "$config/Vantrel/Powderbox"
  printf '[Display]\r\nFullscreen = %s\r\n' "$3" >"$config/Vantrel/Powderbox/Config.ini"
  start_display "$2"
  APPDATA=$config "$game" --data "$build" --try-map Plains --bots 3 --log "$work/$name-$4.log" \
    >/dev/null 2>&1 &
  local pid=$!
  sleep "$seconds"
  import -window root "$work/$name-$4.png" 2>/dev/null || true
  stop "$pid"
  kill "$xserver" 2>/dev/null || true
  wait "$xserver" 2>/dev/null || true
  xserver=
  local line
  line=$(grep FRAME "$work/$name-$4.log" | tail -1)
  echo "$name run $4: ${line#* FRAME }"
  echo "$line" | sed -E 's/.*fps=([0-9.]+).*p50 ([0-9.]+) ms p99 ([0-9.]+) ms/\1 \2 \3/' \
    >>"$work/$name.figures"
}

for run in $(seq "$runs"); do
  for c in "${cases[@]}"; do
    # shellcheck disable=SC2086  # the case's three words
    run_case $c "$run"
  done
done

echo "median of $runs runs: fps, period p50 ms, period p99 ms"
for c in "${cases[@]}"; do
  read -r mode size _ <<<"$c"
  for column in 1 2 3; do
    awk -v c=$column '{ print $c }' "$work/$mode-$size.figures" | percentiles | awk '{ printf "%s ", $2 }'
  done | awk -v n="$mode $size" '{ printf "%-22s fps %s  p50 %s  p99 %s\n", n, $1, $2, $3 }'
done
