#!/usr/bin/env bash
# The frame period of a tried match (--try-map Plains --bots 3) with the screen drawn straight into
# its window (1024x768 on a 1024x768 display) and scaled onto a larger desktop (fullscreen on
# 1920x1080, and on 2048x1536 where it is a sharp 2x), RUNS runs each, interleaved so that other
# load on the machine falls on every case alike. Prints each run's last FRAME line (fps, period
# p50 and p99 over its last two seconds) and the processor time the game used per frame between
# its second and fourth FRAME lines (ten seconds of the match; the renderer's threads included),
# which a busy machine changes far less than the period; then the median of each case.
#
#   bench/scaling_fps.sh BUILD_DIR [RUNS]
#
# With KEEP_LOGS=DIR the logs and a picture of each display stay there. Needs Xvfb (package xvfb)
# and import (imagemagick).
set -euo pipefail
# shellcheck source=bench/measure_common.sh
source "$(dirname "$0")/measure_common.sh"
choose_binaries "$1"
runs=${2:-3}
ticks=$(getconf CLK_TCK)
export ALSOFT_DRIVERS=null

cases=("window 1024x768 0" "fullscreen 1920x1080 1" "fullscreen 2048x1536 1")

run_case() { # name size fullscreen run
  local name=$1-$2 config=$work/$1-$2-$4
  mkdir -p "$config/Vantrel/Powderbox"
  printf '[Display]\r\nFullscreen = %s\r\n' "$3" >"$config/Vantrel/Powderbox/Config.ini"
  start_display "$2"
  APPDATA=$config "$game" --data "$build" --try-map Plains --bots 3 --log "$work/$name-$4.log" \
    >/dev/null 2>&1 &
  local pid=$! log=$work/$name-$4.log
  wait_for_text "START main loop" 60 "$log"
  local at frames=() cpu=()
  for at in 2 4; do
    until [ "$(grep -c FRAME "$log")" -ge "$at" ]; do sleep 0.05; done
    frames+=("$(grep FRAME "$log" | sed -n "${at}p" | sed -E 's/.*frames=([0-9]+).*/\1/')")
    cpu+=("$(awk '{ print $14 + $15 }' "/proc/$pid/stat")")
  done
  import -window root "$work/$name-$4.png" 2>/dev/null || true
  stop "$pid"
  kill "$xserver" 2>/dev/null || true
  wait "$xserver" 2>/dev/null || true
  xserver=
  local line
  line=$(grep FRAME "$log" | sed -n 4p)
  local per=$(((cpu[1] - cpu[0]) * 1000000 / ticks / (frames[1] - frames[0])))
  echo "$name run $4: ${line#* FRAME }, $((per / 1000)).$(printf %03d $((per % 1000))) ms processor per frame"
  echo "$line" | sed -E "s/.*fps=([0-9.]+).*p50 ([0-9.]+) ms p99 ([0-9.]+) ms/\1 \2 \3 $per/" \
    >>"$work/$name.figures"
}

for run in $(seq "$runs"); do
  for c in "${cases[@]}"; do
    # shellcheck disable=SC2086  # the case's three words
    run_case $c "$run"
  done
done

echo "median of $runs runs: fps, period p50 and p99, processor time per frame"
for c in "${cases[@]}"; do
  read -r mode size _ <<<"$c"
  for column in 1 2 3 4; do
    awk -v c=$column '{ print $c }' "$work/$mode-$size.figures" | percentiles | awk '{ printf "%s ", $2 }'
  done | awk -v n="$mode $size" \
    '{ printf "%-22s fps %s  p50 %s ms  p99 %s ms  processor %.2f ms\n", n, $1, $2, $3, $4 / 1000 }'
done
