#!/usr/bin/env bash
# Peak resident memory (VmHWM, in MiB) of the game in its menu and as the host of a four-player
# match (its own player and three bots on Arena, one round), each with a window under a private X
# server and headless (null screen and sound: no graphics or audio libraries at all, so what is
# left is the game's own share). For the windowed runs, a look at /proc/PID/smaps halfway through
# splits the resident memory into the graphics stack's mapped libraries (Mesa, LLVM, X, SDL and
# what they pull in), the other mapped files, and anonymous memory (the game's heap, but also the
# software renderer's textures and generated code).
#
#   bench/memory_peaks.sh BUILD_DIR [BINARY_DIR]
#
# BINARY_DIR holds powderbox and powderbox-bot when they are not the build's own. With
# KEEP_LOGS=DIR the logs stay there. Needs Xvfb (package xvfb); the ports are above 30000.
set -euo pipefail
# shellcheck source=bench/measure_common.sh
source "$(dirname "$0")/measure_common.sh"
choose_binaries "$1" "${2:-}"
start_display
export APPDATA=$work ALSOFT_DRIVERS=null

# Follows a process until it ends; prints its last VmHWM in MiB. With a second argument, writes a
# breakdown of /proc/PID/smaps to that file once, that many seconds after the start.
follow() { # pid [seconds file]
  local pid=$1 at=${2:-0} out=${3:-} peak=0 ticks=0
  while [ -r "/proc/$pid/status" ]; do
    local kb
    kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$kb" ] && peak=$kb
    ticks=$((ticks + 1))
    if [ -n "$out" ] && [ "$ticks" -eq $((at * 10)) ]; then breakdown "$pid" >"$out" || true; fi
    sleep 0.1
  done
  awk -v kb="$peak" 'BEGIN { printf "%.1f\n", kb / 1024 }'
}

breakdown() { # pid
  awk '
    /^[0-9a-f]+-[0-9a-f]+ / { path = $6; next }
    /^Rss:/ {
      if (path ~ /(libLLVM|\/dri\/|libGL|libglapi|libgallium|libdrm|libX|libxcb|libxshmfence|libSDL2|libexpat|libz3|libedit|libxml2|libicu|libsensors|libelf|libffi|libtinfo|libbsd|libmd\.|libwayland|libvulkan|libEGL|libgbm)/) gl += $2
      else if (path ~ /^\//) files += $2
      else anon += $2
    }
    END { printf "graphics-libs %.1f other-files %.1f anonymous %.1f\n", gl / 1024, files / 1024, anon / 1024 }
  ' "/proc/$1/smaps"
}

menu() { # label, extra options...
  local label=$1
  shift
  echo "4000 close" >"$work/close.txt"
  "$game" --data "$build" --input-script "$work/close.txt" --log "$work/$label.log" "$@" \
    >/dev/null 2>&1 &
  local pid=$!
  started "$pid"
  printf "%-16s %8s MiB" "$label" "$(follow "$pid" 3 "$work/$label.smaps")"
  [ -s "$work/$label.smaps" ] && printf "   (%s)" "$(cat "$work/$label.smaps")"
  echo
}

match() { # label, extra options...
  local label=$1 base=$((30000 + RANDOM % 2000 * 4))
  shift
  "$game" --data "$build" --host --map Arena --rounds 1 --once --start-with 4 --port-base "$base" \
    --log "$work/$label.log" "$@" >/dev/null 2>&1 &
  local pid=$!
  started "$pid"
  wait_for_text "SESSION hosting" 30 "$work/$label.log"
  local name bots=3
  [ "$*" = "--headless" ] && bots=4  # a headless host has no player of its own
  for name in $(seq "$bots"); do
    "$bot" --data "$build" --connect 127.0.0.1 --port-base "$base" --name "Bot$name" \
      --play suicide --until-item --quiet --log "$work/$label-bot$name.log" >/dev/null 2>&1 &
    started $!
  done
  printf "%-16s %8s MiB" "$label" "$(follow "$pid" 10 "$work/$label.smaps")"
  [ -s "$work/$label.smaps" ] && printf "   (%s)" "$(cat "$work/$label.smaps")"
  echo
  awk '$2 == "END" && $3 == "peak" { printf "%-16s %8.1f MiB\n", "  a bot", $5 / 1024; exit }' \
    "$work/$label-bot1.log" 2>/dev/null || true
}

menu menu-window
menu menu-headless --headless
match match-window
match match-headless --headless
