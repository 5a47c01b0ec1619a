#!/usr/bin/env bash
# How long a barrel takes from the machine that places it to the others, in a real match over
# loopback: a host with a window under a private X server, whose player stands still, and two
# wandering bots that place the barrels. Every process stamps on the one monotonic clock: a bot
# when it asks for a barrel, every machine when the barrel enters its world, and the host's window
# each time a frame is presented (bench/libpresent_stamps.so). Prints p50, p99 and the largest
# delay in milliseconds for: the host's world, the host's screen (the first present after the
# barrel entered its world), the other bot's world and the placing bot's own echo.
#
#   bench/barrel_latency.sh BUILD_DIR [SECONDS] [BINARY_DIR]
#
# BINARY_DIR holds powderbox and powderbox-bot when they are not the build's own (to compare two
# versions against one data folder). With KEEP_LOGS=DIR the logs and stamps stay there. Needs
# Xvfb (package xvfb); the ports are above 24000.
set -euo pipefail
# shellcheck source=bench/measure_common.sh
source "$(dirname "$0")/measure_common.sh"
choose_binaries "$1" "${3:-}"
seconds=${2:-90}
start_display

base=$((24000 + RANDOM % 4000 * 4))
export APPDATA=$work ALSOFT_DRIVERS=null
POWDERBOX_PRESENT_STAMPS="$work/presents" LD_PRELOAD="$stamps" \
  "$game" --data "$build" --host --map Arena --rounds 100 --start-with 3 --port-base "$base" \
  --log "$work/host.log" >/dev/null 2>&1 &
started $!
wait_for_text "SESSION hosting" 30 "$work/host.log"
for name in BotA BotB; do
  "$bot" --data "$build" --connect 127.0.0.1 --port-base "$base" --name "$name" --play wander \
    --quiet --log "$work/$name.log" &
  started $!
done
sleep "$seconds"

# One line per arrival: "<kind> <ms>".
arrivals() {
  awk -v host="$work/host.log" -v presents="$work/presents" -v a="$work/BotA.log" \
      -v b="$work/BotB.log" '
    function clockOf(line) {
      match(line, /clock [0-9]+ us/)
      return substr(line, RSTART + 6, RLENGTH - 9)
    }
    function cellOf(line) {
      match(line, /cell [0-9]+,[0-9]+/)
      return substr(line, RSTART + 5, RLENGTH - 5)
    }
    # Barrels entering a world: placed[file, n] = "owner cell clock".
    function readPlaced(file,   line, n, f) {
      n = 0
      while ((getline line < file) > 0) {
        if (line ~ / BARREL player -?[0-9]+ placed a barrel at cell /) {
          split(line, f, " ")
          placed[file, ++n] = f[4] " " cellOf(line) " " clockOf(line)
        }
      }
      count[file] = n
      close(file)
    }
    # The first arrival of this owner and cell at or after the request, within a second.
    function arrival(file, owner, cell, asked,   i, f) {
      for (i = 1; i <= count[file]; ++i) {
        split(placed[file, i], f, " ")
        if (f[1] != owner || f[2] != cell) continue
        if (f[3] + 0 >= asked && f[3] - asked < 1000000) return f[3] + 0
      }
      return -1
    }
    function firstPresent(after,   i) {
      for (i = 1; i <= npresents; ++i) if (present[i] >= after) return present[i]
      return -1
    }
    BEGIN {
      while ((getline line < presents) > 0) {
        split(line, f, " ")
        if (f[1] == "present") present[++npresents] = f[2] + 0
      }
      readPlaced(host); readPlaced(a); readPlaced(b)
      bots[1] = a; bots[2] = b
      for (k = 1; k <= 2; ++k) {
        placer = bots[k]; other = bots[3 - k]; id = ""
        while ((getline line < placer) > 0) {
          if (line ~ / BOT joined as player /) { split(line, f, " "); id = f[6] }
          if (line !~ / BOT barrel asked for at cell /) continue
          asked = clockOf(line) + 0; cell = cellOf(line)
          if ((t = arrival(host, id, cell, asked)) >= 0) {
            print "host-world", (t - asked) / 1000
            if ((p = firstPresent(t)) >= 0) print "host-screen", (p - asked) / 1000
          }
          if ((t = arrival(other, id, cell, asked)) >= 0) print "other-bot", (t - asked) / 1000
          if ((t = arrival(placer, id, cell, asked)) >= 0) print "own-echo", (t - asked) / 1000
        }
      }
    }'
}

# The host's frame period from its presents, for scale.
awk '$1 == "present" { if (last) print "host-frame", ($2 - last) / 1000; last = $2 }' \
  "$work/presents" >"$work/arrivals"
arrivals >>"$work/arrivals"
printf "%-12s %6s %8s %8s %8s\n" what count p50 p99 max
for kind in host-world host-screen other-bot own-echo host-frame; do
  read -r count p50 p99 max <<<"$(awk -v k="$kind" '$1 == k { print $2 }' "$work/arrivals" |
    percentiles)"
  printf "%-12s %6s %8s %8s %8s\n" "$kind" "$count" "${p50:-}" "${p99:-}" "${max:-}"
done
