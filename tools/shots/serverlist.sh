#!/usr/bin/env bash
# Takes pictures of both server-list pages with rows, and of the list service's status page:
# the service, two headless hosts on 127.0.0.2 and 127.0.0.3 (one with two bots joined), and a
# game with a window that opens "Local Network" and "Internet" and joins the first row.
#
#   unshare -n tools/shots/serverlist.sh BUILD_DIR OUT_DIR
#
# Searches broadcast and hosts register, so it refuses to run outside a network namespace whose
# only interface is loopback. Needs xvfb-run and chromium.
set -euo pipefail
if [ "$(ip -o link show | awk -F': ' '{print $2}')" != "lo" ]; then
  echo "run inside 'unshare -n': this script searches and registers" >&2
  exit 2
fi
ip link set lo up
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT

base=21000
port=8080
url="127.0.0.1:$port/Projekte/Powderbox/ServerList.php"
"$build/tools/serverlist/powderbox-serverlist" --bind 127.0.0.1 --port $port \
  --db "$work/list.db" --info-port $base --check-interval 2 2>"$work/service.log" &

host() { # address, name, map, rounds, round time
  local appdata="$work/$1"
  mkdir -p "$appdata/Vantrel/Powderbox"
  printf '[Server]\r\nInternet = 1\r\nName = %s\r\nRounds = %s\r\nRoundTime = %s\r\n' \
    "$2" "$4" "$5" >"$appdata/Vantrel/Powderbox/Config.ini"
  APPDATA="$appdata" ALSOFT_DRIVERS=null "$build/powderbox" --headless --data "$build" --host \
    --bind "$1" --port-base $base --map "$3" --start-with 9 --server-list "$url" \
    --log "$work/$1.log" &
}
host 127.0.0.2 "Alice's Arena" Arena 5 300
host 127.0.0.3 "Nightfall 24/7" Nightfall 10 240
sleep 4
for name in Bob Carol; do
  "$build/tools/bot/powderbox-bot" --connect 127.0.0.3 --port-base $base --name $name \
    --log "$work/$name.log" --quiet &
done
sleep 4

appdata="$work/window"
mkdir -p "$appdata/Vantrel/Powderbox"
printf '[Network]\r\nICP Port = %s\r\nTCP Port = %s\r\nUDP Port = %s\r\n' \
  $base $((base + 1)) $((base + 2)) >"$appdata/Vantrel/Powderbox/Config.ini"
cat >"$work/window.txt" <<SCRIPT
2000 mouse move 150 270
2100 mouse click left
2600 mouse move 150 370
2700 mouse click left
5500 key tap 88
6000 mouse move 150 620
6100 mouse click left
6600 mouse move 150 420
6700 mouse click left
9000 key tap 88
9500 mouse move 400 240
9600 mouse click left
10000 mouse move 150 570
10100 mouse click left
13000 key tap 88
13500 close
SCRIPT
APPDATA="$appdata" ALSOFT_DRIVERS=null xvfb-run -a -s "-screen 0 1024x768x24" \
  "$build/powderbox" --data "$build" --server-list "$url" --input-script "$work/window.txt" \
  --log "$work/window.log"
shots="$appdata/Vantrel/Powderbox/ScreenShots"
cp "$shots/Picture0001.png" "$out/local-network.png"
cp "$shots/Picture0002.png" "$out/internet.png"
cp "$shots/Picture0003.png" "$out/joined-from-the-list.png"

chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$work/profile" \
  --window-size=900,280 --screenshot="$out/status-page.png" "http://127.0.0.1:$port/" \
  2>/dev/null
echo "pictures in $out"
