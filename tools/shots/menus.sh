#!/usr/bin/env bash
# Takes a screenshot of every menu page in English and in German, and of both lobbies with
# players and lobby chat, under private X servers.
#
#   tools/shots/menus.sh BUILD_DIR OUT_DIR
#
# Needs xvfb-run (package xvfb). The pictures are the game's own F12 screenshots; the lobbies run
# on loopback ports above 20000.
set -euo pipefail
source "$(dirname "$0")/folders.sh"

game() { # appdata, args...
  local appdata=$1
  shift
  APPDATA="$appdata" ALSOFT_DRIVERS=null xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/powderbox" --data "$build" "$@"
}

# Clicks at a point of the column of buttons and takes a picture after each page has settled.
tour() { # script file
  local t=1500 script=$1
  shot() { echo "$t key tap 88" >>"$script"; t=$((t + 1400)); }
  click() { echo "$t mouse move $1 $2" >>"$script"; echo "$((t + 100)) mouse click left" >>"$script"; t=$((t + 300)); }
  shot                                     # Main Menu
  click 150 520; shot                      # Credits
  click 150 620; click 150 370; shot       # Options
  click 150 220; shot                      # Audio
  click 150 270; shot                      # Control
  click 150 320; shot                      # Game
  click 150 370; shot                      # Profil
  click 150 620; click 150 270; shot       # Multiplayer
  click 150 220; shot                      # Create Server
  click 150 320; shot                      # Direct Connection
  click 150 370; shot                      # Local Network
  click 150 620; click 150 420; shot       # Internet
  click 150 620; click 150 620; click 150 620; shot  # Quit ?
  echo "$t close" >>"$script"
}
pages=(main-menu credits options audio control game profile multiplayer create-server
       direct-connection local-network internet quit-question)

for language in English Deutsch; do
  appdata="$work/$language"
  mkdir -p "$appdata/Vantrel/Powderbox"
  printf '[Others]\r\nLanguage = %s\r\n' "$language" >"$appdata/Vantrel/Powderbox/Config.ini"
  tour "$work/$language.txt"
  game "$appdata" --input-script "$work/$language.txt" --log "$work/$language.log"
  i=0
  for shot in "$appdata"/Vantrel/Powderbox/ScreenShots/Picture*.png; do
    cp "$shot" "$out/$(echo "$language" | tr 'A-Z' 'a-z')-${pages[$i]}.png"
    i=$((i + 1))
  done
done

# Both lobbies in both languages: a host with a window and a joined client, each saying
# something.
cat >"$work/host.txt" <<SCRIPT
3000 mouse move 600 712
3100 mouse click left
3300 text Welcome to my server!
3500 key tap 28
7000 key tap 88
9500 close
SCRIPT
cat >"$work/client.txt" <<SCRIPT
2000 mouse move 600 712
2100 mouse click left
2300 text Hello, ready when you are.
2500 key tap 28
3800 key tap 88
5500 close
SCRIPT
for language in English Deutsch; do
  lower=$(echo "$language" | tr 'A-Z' 'a-z')
  for side in host client; do
    mkdir -p "$work/$lower-$side/Vantrel/Powderbox"
    printf '[Others]\r\nLanguage = %s\r\n' "$language" \
      >"$work/$lower-$side/Vantrel/Powderbox/Config.ini"
  done
  base=$((20000 + RANDOM % 20000))
  game "$work/$lower-host" --host --name Alice --map Market --start-with 9 --port-base "$base" \
    --input-script "$work/host.txt" --log "$work/$lower-host.log" &
  sleep 3
  game "$work/$lower-client" --connect 127.0.0.1 --name Bob --port-base "$base" \
    --input-script "$work/client.txt" --log "$work/$lower-client.log"
  wait
  cp "$work/$lower-host"/Vantrel/Powderbox/ScreenShots/Picture0001.png \
    "$out/$lower-server-lobby.png"
  cp "$work/$lower-client"/Vantrel/Powderbox/ScreenShots/Picture0001.png \
    "$out/$lower-client-lobby.png"
done
echo "pictures in $out"
