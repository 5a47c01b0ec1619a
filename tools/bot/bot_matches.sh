#!/usr/bin/env bash
# How well the practice bots play, on a headless host in a network of its own (loopback only):
#   1. four practice bots against each other for ROUNDS rounds;
#   2. one practice bot against two players who stand and place barrels (powderbox-bot --play
#      barrels), for ROUNDS rounds: how often the bot lives through a round.
# Kills, self-kills, deaths and survival per player come from the host's log.
#   tools/bot/bot_matches.sh BUILD [ROUNDS] [MAP]     (defaults: 50 rounds, map Arena)
set -euo pipefail
if [ "${1:-}" = "--inside" ]; then
  shift
  ip link set lo up
else
  [ $# -ge 1 ] || { echo "usage: $0 BUILD [ROUNDS] [MAP]" >&2; exit 2; }
  exec unshare -rn "$0" --inside "$@"
fi

build=$(realpath "$1")
rounds=${2:-50}
map=${3:-Arena}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export APPDATA=$work/settings ALSOFT_DRIVERS=null
unset POWDERBOX_LOG
base=27300
bot=$build/tools/bot/powderbox-bot
[ -x "$bot" ] || bot=$build/powderbox-bot

host() { # log name, then the host's options
  local log=$work/$1.log
  shift
  "$build/powderbox" --headless --host --once --map "$map" --rounds "$rounds" --data "$build" \
    --port-base "$base" --log "$log" "$@" >/dev/null 2>"$log.err" &
  pid=$!
}

# Per player: rounds played, kills, self-kills, deaths, rounds survived, from the host's log.
report() { # log
  awk -v rounds="$rounds" '
    $2 == "JOIN" { id = $4; name = $5; gsub(/"/, "", name); names[id] = name }
    $2 == "ROUND" && $3 == "start" {
      n = $4
      playing = (n <= rounds)
      if (playing) {
        played++
        for (id in names) if (!(id in gone)) { inRound[id]++; alive[id] = 1 }
      }
    }
    $2 == "LEAVE" { gone[$4] = 1 }
    $2 == "KILL" && playing {
      victim = $4; killer = $8
      deaths[victim]++; delete alive[victim]
      if (victim == killer) selfKills[killer]++; else kills[killer]++
      roundDeaths[n]++
    }
    END {
      printf "%-10s %6s %6s %10s %7s %9s\n", "player", "rounds", "kills", "self-kills", "deaths", "survived"
      for (id in names) {
        r = inRound[id] + 0; d = deaths[id] + 0
        printf "%-10s %6d %6d %10d %7d %8.0f%%\n", names[id], r, kills[id] + 0, selfKills[id] + 0,
               d, r ? 100 * (r - d) / r : 0
      }
      printf "rounds played: %d\n", played
    }' "$1"
}

wait_for() { # pid, what
  if ! wait "$1"; then
    echo "$2: the host ended with an error" >&2
    cat "$work"/*.err >&2 || true
  fi
}

echo "== four practice bots, $rounds rounds on $map"
host bots --bots 4 --start-with 4
wait_for "$pid" "bot match"
report "$work/bots.log"

echo
echo "== one practice bot against two players who place barrels, $rounds rounds on $map"
base=27400
host barrels --bots 1 --start-with 3
sleep 1
for name in Still1 Still2; do
  "$bot" --connect 127.0.0.1 --port-base "$base" --name "$name" --play barrels \
    --data "$build" --settings "$work/$name/" --quiet 2>"$work/$name.err" &
done
wait_for "$pid" "barrel match"
wait
report "$work/barrels.log"
