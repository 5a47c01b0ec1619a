#!/usr/bin/env bash
# How well the practice bots play, on headless hosts in a network of their own (loopback only):
#   bots     four practice bots against each other;
#   barrels  one practice bot against two players who stand and place barrels where they stand
#            (powderbox-bot --play barrels): how often the bot lives through a round;
#   wanderers  one practice bot against two that wander, blow up boxes and run from blasts
#            (powderbox-bot --play wander): how it hunts and lives.
# Each part plays ROUNDS rounds in all, as MATCHES matches side by side (the bots mostly wait on
# their fuses, so matches in parallel take little more than one). Kills, self-kills, deaths and
# survival per player come from the hosts' logs.
#   tools/bot/bot_matches.sh BUILD [ROUNDS] [MAP] [bots|barrels|wanderers|all] [MATCHES]
#   (defaults: 50 rounds, map Arena, all parts, 5 matches)
set -euo pipefail
if [ "${1:-}" = "--inside" ]; then
  shift
  ip link set lo up
else
  [ $# -ge 1 ] || {
    echo "usage: $0 BUILD [ROUNDS] [MAP] [bots|barrels|wanderers|all] [MATCHES]" >&2
    exit 2
  }
  exec unshare -rn "$0" --inside "$@"
fi

build=$(realpath "$1")
rounds=${2:-50}
map=${3:-Arena}
part=${4:-all}
matches=${5:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export APPDATA=$work/settings ALSOFT_DRIVERS=null
unset POWDERBOX_LOG
bot=$build/tools/bot/powderbox-bot
[ -x "$bot" ] || bot=$build/powderbox-bot
hosts=()

host() { # log name, port base, then the host's options; its rounds are this match's share
  local log=$work/$1.log base=$2
  shift 2
  "$build/powderbox" --headless --host --once --map "$map" --rounds "$share" --data "$build" \
    --port-base "$base" --log "$log" "$@" >/dev/null 2>"$log.err" &
  hosts+=($!)
}

# Per player name over all matches: rounds played, kills, self-kills, deaths, rounds survived. A
# round counts once the next one is set up (after the last, the set-up that ends the match), so
# a round cut short by stopping the script is left out.
report() { # logs...
  awk '
    function commit(   n) {
      if (open) {
        played++
        for (n in curIn) inRound[n]++
        for (n in curDeaths) deaths[n] += curDeaths[n]
        for (n in curKills) kills[n] += curKills[n]
        for (n in curSelf) selfKills[n] += curSelf[n]
      }
      open = 0
      delete curIn; delete curDeaths; delete curKills; delete curSelf
    }
    FNR == 1 { open = 0; commit(); delete names }
    $2 == "JOIN" { name = $5; gsub(/"/, "", name); names[$4] = name; order[name] = 1 }
    $2 == "LEAVE" { delete names[$4] }
    $2 == "ROUND" && $3 == "start" {
      commit()
      # "start N map NAME (N of ROUNDS, ...": the set-up after the last round is no round
      open = $4 + 0 <= $9 + 0
      if (open) for (id in names) curIn[names[id]] = 1
    }
    $2 == "KILL" && open && ($4 in names) && ($8 in names) {
      victim = names[$4]; killer = names[$8]
      curDeaths[victim]++
      if (victim == killer) curSelf[killer]++; else curKills[killer]++
    }
    END {
      printf "%-10s %6s %6s %10s %7s %9s\n", "player", "rounds", "kills", "self-kills", "deaths",
             "survived"
      for (name in order) {
        r = inRound[name] + 0; d = deaths[name] + 0
        printf "%-10s %6d %6d %10d %7d %8.0f%%\n", name, r, kills[name] + 0,
               selfKills[name] + 0, d, r ? 100 * (r - d) / r : 0
      }
      printf "rounds played: %d\n", played
    }' "$@"
}

await_hosts() {
  for pid in "${hosts[@]}"; do
    wait "$pid" || echo "a host ended with an error (see its log)" >&2
  done
  hosts=()
}

share=$(( (rounds + matches - 1) / matches ))
if [ "$part" = bots ] || [ "$part" = all ]; then
  echo "== four practice bots, $((share * matches)) rounds on $map"
  for i in $(seq 1 "$matches"); do host "bots-$i" $((27000 + 10 * i)) --bots 4 --start-with 4; done
  await_hosts
  report "$work"/bots-*.log
fi

# One practice bot against two powderbox-bots of the given play, for a part of the given name.
against() { # part name, play mode, port base, heading
  echo "== one practice bot against two players who $4, $((share * matches)) rounds on $map"
  for i in $(seq 1 "$matches"); do host "$1-$i" $(($3 + 10 * i)) --bots 1 --start-with 3; done
  sleep 2
  for i in $(seq 1 "$matches"); do
    for name in "${2^}1" "${2^}2"; do
      "$bot" --connect 127.0.0.1 --port-base $(($3 + 10 * i)) --name "$name" --play "$2" \
        --data "$build" --settings "$work/$name-$i/" --quiet 2>"$work/$name-$i.err" &
    done
  done
  await_hosts
  wait
  report "$work/$1"-*.log
}

if [ "$part" = barrels ] || [ "$part" = all ]; then
  against barrels barrels 27500 "stand and place barrels where they stand"
fi
if [ "$part" = wanderers ] || [ "$part" = all ]; then
  against wanderers wander 28000 "wander, blow up boxes and run from blasts"
fi
