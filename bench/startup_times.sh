#!/usr/bin/env bash
# Start-up times, each run RUNS times, with the median and the spread (min..max) in milliseconds:
#   first-frame     the game with a window under a private X server: from the start of the
#                   process to its first present (bench/libpresent_stamps.so)
#   host-accepts    a headless host (--headless --host): from its launch to the first accepted
#                   connection on its information port, tried every few milliseconds
#   bot-joined      a bot joining that host: from the start of the process to its "joined" line
#   round-frame-MAP a host with a window on MAP and a standing bot: the menu frame in which the
#                   match starts (the map is loaded there)
#   match-frame-MAP the match's first frame, the one after that
#
#   bench/startup_times.sh BUILD_DIR [RUNS] [BINARY_DIR]
#
# BINARY_DIR holds powderbox and powderbox-bot when they are not the build's own (to compare two
# versions against one data folder). The renderer keeps what it builds for drawing in Mesa's shader
# cache (~/.cache/mesa_shader_cache); COLD_SHADERS=1 gives every run an empty one, as on a
# machine where the game never ran. With KEEP_LOGS=DIR the logs and stamps stay there. Needs
# Xvfb (package xvfb); the ports are above 28000.
set -euo pipefail
# shellcheck source=bench/measure_common.sh
source "$(dirname "$0")/measure_common.sh"
choose_binaries "$1" "${3:-}"
runs=${2:-5}
start_display
export APPDATA=$work ALSOFT_DRIVERS=null

# A fresh shader cache for every window when asked for cold runs.
shaders() {
  if [ "${COLD_SHADERS:-0}" = 1 ]; then
    local dir
    dir=$(mktemp -d -p "$work")
    export MESA_SHADER_CACHE_DIR=$dir
  fi
}

now_us() { echo $(($(date +%s%N) / 1000)); }

first_frame() { # run
  local p=$work/first$1
  shaders
  POWDERBOX_PRESENT_STAMPS=$p LD_PRELOAD="$stamps" "$game" --data "$build" \
    --log "$work/first$1.log" >/dev/null 2>&1 &
  local pid=$!
  wait_for_text present 20 "$p" || true
  stop "$pid"
  awk '$1 == "start" { s = $2 } $1 == "present" { print ($2 - s) / 1000; exit }' "$p" \
    >>"$work/first-frame"
}

host_accepts() { # run
  local base=$((28000 + RANDOM % 2000 * 4))
  local launched
  launched=$(now_us)
  "$game" --headless --data "$build" --host --map Arena --port-base "$base" \
    --log "$work/host$1.log" >/dev/null 2>&1 &
  local pid=$!
  while [ $(($(now_us) - launched)) -lt 10000000 ]; do
    if (exec 3<>"/dev/tcp/127.0.0.1/$base") 2>/dev/null; then
      echo $((($(now_us) - launched) / 1000)) >>"$work/host-accepts"
      break
    fi
  done
  "$bot" --data "$build" --connect 127.0.0.1 --port-base "$base" --name Bot --play still \
    --leave-after 1 --quiet --log "$work/bot$1.log" >/dev/null 2>&1 || true
  awk '$2 == "SESSION" && $3 == "joined" { print $1; exit }' "$work/bot$1.log" >>"$work/bot-joined"
  stop "$pid"
}

match_frame() { # map run
  local base=$((28000 + RANDOM % 2000 * 4)) p=$work/match-$1-$2 log=$work/match-$1-$2.log
  shaders
  POWDERBOX_PRESENT_STAMPS=$p LD_PRELOAD="$stamps" "$game" --data "$build" --host --map "$1" \
    --start-with 2 --port-base "$base" --log "$log" >/dev/null 2>&1 &
  local pid=$!
  wait_for_text "SESSION hosting" 30 "$log" || true
  "$bot" --data "$build" --connect 127.0.0.1 --port-base "$base" --name Bot --play still \
    --quiet --log "$work/match-bot-$1-$2.log" >/dev/null 2>&1 &
  local bot=$!
  wait_for_text "ROUND start 1" 30 "$log" || true
  sleep 1
  stop "$bot"
  stop "$pid"
  # The round starts inside a menu frame; the frame after that one is the match's first. The log
  # counts from its own start, which lies within a few ms of the stamps' start.
  local round
  round=$(awk '$2 == "ROUND" && $3 == "start" { print $1; exit }' "$log")
  awk -v round="$round" -v rounds="$work/round-frame-$1" -v matches="$work/match-frame-$1" '
    $1 == "start" { s = $2 }
    $1 == "present" && ($2 - s) / 1000 > round {
      if (++n == 1) print ($2 - last) / 1000 >>rounds
      if (n == 2) { print ($2 - last) / 1000 >>matches; exit }
    }
    $1 == "present" { last = $2 }' "$p"
}

for run in $(seq "$runs"); do
  first_frame "$run"
  host_accepts "$run"
  for map in Arena Nightfall Market; do match_frame "$map" "$run"; done
done

printf "%-22s %4s %8s %s\n" what runs median "min..max"
for name in first-frame host-accepts bot-joined round-frame-Arena match-frame-Arena \
    round-frame-Nightfall match-frame-Nightfall round-frame-Market match-frame-Market; do
  sort -g "$work/$name" | awk -v name="$name" '
    { v[++n] = $1 }
    END { printf "%-22s %4d %8.1f %.1f..%.1f\n", name, n, v[int((n + 1) / 2)], v[1], v[n] }'
done
