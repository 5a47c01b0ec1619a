#!/usr/bin/env bash
# The long form of the attack test: a headless host on Arena with seven bots waits for an eighth
# player; a hostile crowd (tools/attack/main.cpp) then attacks it for SECONDS, the eighth bot
# joins a few seconds in, and the match plays on under the attack. Reports the host's frame rate
# before, during and after, the rounds it started under attack, the late player's join time, the
# host's descriptors and memory, and the attacker's own counts. Loopback only.
#
#   tools/attack/host_attack.sh BUILD_DIR [SECONDS]
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-60}
work=$(mktemp -d /tmp/powderbox-attack-XXXXXX)
base=$((27000 + RANDOM % 2000 * 3))
export APPDATA=$work ALSOFT_DRIVERS=null POWDERBOX_SEED=1
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

"$build/powderbox" --headless --data "$build" --host --map Arena --rounds 1000 --start-with 8 \
  --port-base "$base" --log "$work/host.log" >"$work/host.out" 2>&1 &
host=$!
pids+=("$host")
until grep -q "SESSION hosting" "$work/host.log" 2>/dev/null; do sleep 0.1; done
bot() {
  "$build/tools/bot/powderbox-bot" --connect 127.0.0.1 --port-base "$base" --name "$1" \
    --log "$work/$1.log" --quiet >"$work/$1.out" 2>&1 &
  pids+=("$!")
}
for i in 1 2 3 4 5 6 7; do bot "Bot$i"; done
until [ "$(grep -c ' joined, ' "$work/host.log")" -ge 7 ]; do sleep 0.1; done
sleep 6  # a quiet FRAME line of the lobby

sample() {  # seconds since start, descriptors, resident KiB
  echo "$1 $(ls "/proc/$host/fd" | wc -l) $(awk '/VmRSS/ {print $2}' "/proc/$host/status")"
}
host_ms() { awk 'END {print $1}' "$work/host.log"; }
quiet=$(sample 0)
attack_from=$(host_ms)
"$build/tools/attack/powderbox-attack" --port-base "$base" --seconds "$seconds" \
  --connections 1000 --datagrams-per-second 1000 --queries 3000 >"$work/attack.out" 2>&1 &
attacker=$!
pids+=("$attacker")
sleep 3
late_at=$(date +%s%N)
bot Late
until grep -q '"Late" joined' "$work/host.log"; do sleep 0.05; done
late_ms=$(( ($(date +%s%N) - late_at) / 1000000 ))
samples=()
t=0
while kill -0 "$attacker" 2>/dev/null; do
  t=$((t + 1))
  samples+=("$(sample "$t")")
  sleep 1
done
attack_to=$(host_ms)
sleep 6
after=$(sample after)

late_id=$(sed -n 's/.*JOIN player \([0-9]*\) "Late" joined.*/\1/p' "$work/host.log")
frames() {  # FRAME lines of the host between two of its log times
  awk -v from="$1" -v to="$2" '$2 == "FRAME" && $1 > from && $1 <= to {print}' "$work/host.log"
}
echo "attacker:    $(cat "$work/attack.out")"
echo "late player: joined ${late_ms} ms after it started; positions relayed:" \
  "$(grep -c "positions of player $late_id " "$work/host.log" || true) binding(s)"
read -r sent applied < <(cat "$work"/Bot*.log "$work/Late.log" |
  sed -n 's/.*positions: \([0-9]*\) sent, \([0-9]*\) applied.*/\1 \2/p' |
  awk '{s += $1; a += $2} END {print s + 0, a + 0}')
echo "positions: $sent sent, $applied applied by the other seven" \
  "($(awk -v s="$sent" -v a="$applied" 'BEGIN {printf "%.1f", s ? 100 * a / (7 * s) : 0}') %)"
echo "rounds started during the attack:" \
  "$(awk -v from="$attack_from" -v to="$attack_to" \
       '$2 == "ROUND" && $3 == "start" && $1 > from && $1 <= to' "$work/host.log" | wc -l)"
echo "host frame rate during the attack (5 s windows):"
frames "$attack_from" "$attack_to" | sed 's/^/  /'
echo "host frame rate after:"
frames "$attack_to" 999999999 | sed 's/^/  /'
printf 'descriptors and memory (s fds KiB): quiet %s, peak fds %s, peak KiB %s, after %s\n' \
  "$quiet" \
  "$(printf '%s\n' "${samples[@]}" | awk '{ if ($2 > m) m = $2 } END {print m}')" \
  "$(printf '%s\n' "${samples[@]}" | awk '{ if ($3 > m) m = $3 } END {print m}')" "$after"
echo "logs: $work"
