# shellcheck shell=bash disable=SC2034  # sets variables for the scripts that source it
# Shared by the measurement scripts (sourced, not run): the binaries, a scratch folder ($work), a
# private X server, the processes a script starts, and percentiles.
#
# Every process started with `started PID` is ended, the X server last, when the script exits;
# with KEEP_LOGS=DIR the scratch folder is copied there first.

work=$(mktemp -d)
pids=()

# Sets build (its data and its stamp library, bench/libpresent_stamps.so), game and bot: the
# build's own binaries, or those in BINARY_DIR (to compare two versions against one data folder).
choose_binaries() { # BUILD_DIR [BINARY_DIR]
  build=$(cd "$1" && pwd)
  local bin=${2:-}
  game=${bin:-$build}/powderbox
  bot=${bin:+$bin/powderbox-bot}
  bot=${bot:-$build/tools/bot/powderbox-bot}
  stamps=$build/bench/libpresent_stamps.so
}

started() { pids+=("$1"); }

# Asks a process this script started to end, and kills it when it has not within five seconds.
stop() { # pid
  kill "$1" 2>/dev/null || return 0
  local _
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

finish() {
  local pid
  for pid in "${pids[@]}"; do stop "$pid"; done
  if [ -n "${xserver:-}" ]; then
    kill "$xserver" 2>/dev/null || true
    wait "$xserver" 2>/dev/null || true
  fi
  if [ -n "${KEEP_LOGS:-}" ]; then mkdir -p "$KEEP_LOGS" && cp -r "$work"/. "$KEEP_LOGS"/; fi
  rm -rf "$work"
}
trap finish EXIT

# A private X server (Xvfb, package xvfb) for the windows of this script, 1024x768 unless told;
# sets DISPLAY.
start_display() { # [WIDTHxHEIGHT]
  Xvfb -displayfd 3 -screen 0 "${1:-1024x768}x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
  xserver=$!
  local _
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.05
  done
  DISPLAY=":$(head -1 "$work/display")"
  export DISPLAY
}

# Waits up to $2 seconds for text $1 in file $3.
wait_for_text() {
  local _
  for _ in $(seq $(($2 * 20))); do
    grep -q "$1" "$3" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# Numbers on standard input; prints "count p50 p99 max" (nearest rank), or "0" for none.
percentiles() {
  sort -g | awk '
    { v[++n] = $1 }
    END {
      if (n == 0) { print 0; exit }
      printf "%d %.2f %.2f %.2f\n", n, v[int((n - 1) * 0.50) + 1], v[int((n - 1) * 0.99) + 1], v[n]
    }'
}
