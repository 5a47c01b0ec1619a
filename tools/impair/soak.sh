#!/usr/bin/env bash
# A match through a poor network: a headless host on Arena and BOTS bots (default 8) that reach
# it only through powderbox-impair (200 +- 50 ms each way, datagrams lost at 5 % and overtaking
# each other), for SECONDS (default 600). Runs in a network namespace of its own, loopback only.
# Reports the share of position messages the players applied, and checks that every machine saw
# the same kills in every round, that nobody was dropped and that the share is at least
# MIN_SHARE percent (default 0). Exit status 0 when all hold.
#
#   tools/impair/soak.sh BUILD_DIR [SECONDS] [BOTS]
#
# GAME_BUILD_DIR, when set, takes the game and the bot from another build (to compare); LOSS
# sets the share of datagrams lost on each way (default 0.05).
set -euo pipefail

if [ -z "${POWDERBOX_SOAK_NS:-}" ]; then
  exec unshare -n env POWDERBOX_SOAK_NS=1 bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
build=$(cd "${1:?usage: $0 BUILD_DIR [SECONDS] [BOTS]}" && pwd)
game_build=$(cd "${GAME_BUILD_DIR:-$build}" && pwd)
seconds=${2:-600}
bots=${3:-8}
work=$(mktemp -d /tmp/powderbox-soak-XXXXXX)
export APPDATA=$work ALSOFT_DRIVERS=null POWDERBOX_SEED=1
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true' EXIT

"$game_build/powderbox" --headless --data "$build" --host --map Arena --rounds 100000 \
  --start-with "$bots" --port-base 26000 --log "$work/host.log" >"$work/host.out" 2>&1 &
host=$!
pids+=("$host")
"$build/tools/impair/powderbox-impair" --listen-base 26100 --target-base 26000 \
  --delay-ms 200 --jitter-ms 50 --loss "${LOSS:-0.05}" >"$work/impair.out" 2>&1 &
pids+=("$!")
until grep -q "SESSION hosting" "$work/host.log" 2>/dev/null; do sleep 0.1; done
# The bots wander and blow up boxes until an item has dropped, then themselves, so that rounds
# end and scores change (no round ends by time).
for i in $(seq 1 "$bots"); do
  "$game_build/tools/bot/powderbox-bot" --connect 127.0.0.1 --port-base 26100 --name "Bot$i" \
    --play suicide --until-item --data "$build" --log "$work/Bot$i.log" --quiet \
    >"$work/Bot$i.out" 2>&1 &
  pids+=("$!")
done
sleep "$seconds"
kill -TERM "$host"
wait "$host" || true
sleep 3

# Kills by round, as each machine logged them.
kills() {
  awk '$2 == "ROUND" && $3 == "start" {round = $4} $2 == "KILL" {$1 = ""; print round ":" $0}' "$1" |
    sort
}
kills "$work/host.log" >"$work/host.kills"
same=0
for i in $(seq 1 "$bots"); do
  if kills "$work/Bot$i.log" | cmp -s - "$work/host.kills"; then same=$((same + 1)); fi
done
rounds=$(grep -c "ROUND start" "$work/host.log" || true)
kills=$(wc -l <"$work/host.kills")
dropped=$(grep -c " LEAVE " "$work/host.log" || true)
read -r sent applied < <(cat "$work"/Bot*.log |
  sed -n 's/.*positions: \([0-9]*\) sent, \([0-9]*\) applied.*/\1 \2/p' |
  awk '{s += $1; a += $2} END {print s + 0, a + 0}')
share=$(awk -v s="$sent" -v a="$applied" -v n="$bots" 'BEGIN {
  if (s == 0) print "0.0"; else printf "%.1f", 100 * a / (s * (n - 1)) }')
echo "rounds: $rounds, kills: $kills, logged alike on $same of $bots players; players dropped: $dropped"
echo "positions: $sent sent, $applied applied by the others: $share % of $((bots - 1)) x sent"
echo "logs: $work"
[ "$same" -eq "$bots" ] && [ "$dropped" -eq 0 ] &&
  awk -v share="$share" -v least="${MIN_SHARE:-0}" 'BEGIN {exit !(share >= least)}'
