#!/usr/bin/env bash
# Screenshots of the menus worked from a gamepad, under a private X server: the main menu with the
# focus frame, the "Control" page naming the pad in English and in German, and the quit question
# with its chosen answer framed. The pad is the input script's.
#
#   tools/shots/gamepad.sh BUILD_DIR OUT_DIR
set -euo pipefail
source "$(dirname "$0")/folders.sh"

for language in English Deutsch; do
  lower=$(echo "$language" | tr 'A-Z' 'a-z')
  appdata="$work/$language"
  mkdir -p "$appdata/Vantrel/Powderbox"
  printf '[Others]\r\nLanguage = %s\r\n' "$language" >"$appdata/Vantrel/Powderbox/Config.ini"
  # Main menu: down to "Options"; in the options, down to "Control" and into it; back out, and
  # east on the main menu's "Quit" asks the question.
  cat >"$work/$language.txt" <<SCRIPT
0 pad connect Virtual Test Pad
1500 pad tap dpdown
2500 key tap 88
3500 pad tap a
4000 pad tap dpdown
4500 pad tap a
5500 key tap 88
6000 pad tap b
6500 pad axis lefty 32767
6600 pad axis lefty 0
6800 pad tap dpdown
7000 pad tap dpdown
7200 pad tap a
8000 pad tap dpleft
8500 key tap 88
9000 close
SCRIPT
  APPDATA="$appdata" ALSOFT_DRIVERS=null xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/powderbox" --data "$build" --input-script "$work/$language.txt" \
    --log "$work/$language.log"
  i=0
  for name in main-menu control quit-question; do
    i=$((i + 1))
    shot=$(printf '%s/Vantrel/Powderbox/ScreenShots/Picture%04d.png' "$appdata" "$i")
    [ -f "$shot" ] && cp "$shot" "$out/$lower-pad-$name.png"
  done
  grep MENU "$work/$language.log" || true
done
