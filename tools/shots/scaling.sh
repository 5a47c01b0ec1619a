#!/usr/bin/env bash
# Pictures of the game scaled to other window sizes, as the display shows them (not the game's
# own F12 pictures, which stay 1024x768 whatever the window):
#   fullscreen-1920x1080.jpg  a tried match on a 1920x1080 desktop (smooth, bars left and right)
#   fullscreen-1280x1024.jpg  the same on a 1280x1024 desktop (smooth, bars above and below)
#   window-1280x720.jpg       the menus in a window resized to 1280x720 on a 1920x1080 desktop
# and checks that an F12 picture taken on the 1920x1080 desktop is 1024x768.
#
#   tools/shots/scaling.sh BUILD_DIR OUT_DIR
#
# Needs Xvfb (package xvfb) and import, convert and identify (imagemagick). The window sizes come
# from the [Display] group of a scratch Config.ini.
set -euo pipefail
# shellcheck source=bench/measure_common.sh
source "$(dirname "$0")/../../bench/measure_common.sh"
choose_binaries "$1"
mkdir -p "$2"
out=$(cd "$2" && pwd)
export ALSOFT_DRIVERS=null

shoot() { # name desktop fullscreen width height seconds game-args...
  local name=$1 config=$work/$1 seconds=$6
  mkdir -p "$config/Vantrel/Powderbox"
  printf '[Display]\r\nFullscreen = %s\r\nWidth = %s\r\nHeight = %s\r\n' "$3" "$4" "$5" \
    >"$config/Vantrel/Powderbox/Config.ini"
  start_display "$2"
  shift 6
  APPDATA=$config "$game" --data "$build" --log "$work/$name.log" "$@" >/dev/null 2>&1 &
  local pid=$!
  # Seconds from the first frame, however long a busy machine takes to start.
  wait_for_text "START main loop" 60 "$work/$name.log"
  sleep "$seconds"
  import -window root "$work/$name.png"
  stop "$pid"
  kill "$xserver" 2>/dev/null || true
  wait "$xserver" 2>/dev/null || true
  xserver=
  convert "$work/$name.png" -quality 88 "$out/$name.jpg"
  echo "$out/$name.jpg"
}

echo "1500 key tap 88" >"$work/f12"  # F12, counted from the first frame
shoot fullscreen-1920x1080 1920x1080 1 1024 768 6 --try-map Plains --bots 3 \
  --input-script "$work/f12"
shoot fullscreen-1280x1024 1280x1024 1 1024 768 6 --try-map Plains --bots 3
shoot window-1280x720 1920x1080 0 1280 720 3

f12=$work/fullscreen-1920x1080/Vantrel/Powderbox/ScreenShots/Picture0001.png
echo "the game's own F12 picture: $(identify -format '%wx%h' "$f12" 2>/dev/null || echo none)"
