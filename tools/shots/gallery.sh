#!/usr/bin/env bash
# Takes a screenshot of every gallery page under a private X server.
#
#   tools/shots/gallery.sh BUILD_DIR OUT_DIR
#
# Needs xvfb-run (package xvfb). The pictures are the game's own F12 screenshots.
set -euo pipefail
source "$(dirname "$0")/folders.sh"

pages=$("$build/powderbox" --gallery-pages 2>/dev/null || echo 3)
script="$work/input.txt"
t=2500
for ((page = 1; page <= pages; page++)); do
  echo "$t key tap 88" >>"$script"
  echo "$((t + 400)) key tap 205" >>"$script"
  t=$((t + 2500))
done
echo "$t close" >>"$script"

APPDATA="$work" ALSOFT_DRIVERS=null xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/powderbox" --gallery --data "$build" --input-script "$script" --log "$work/log.txt"
page=1
for shot in "$work"/Vantrel/Powderbox/ScreenShots/Picture*.png; do
  cp "$shot" "$out/gallery-$page.png"
  page=$((page + 1))
done
echo "$((page - 1)) pictures in $out"
