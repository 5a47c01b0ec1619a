#!/usr/bin/env bash
# Installs a built tree into a scratch prefix and checks what a distribution would ship: the
# menu entry and the software centres' file validate, icons and manuals are there, the units
# name the installed programs, and the installed game starts and hosts a match on the data it
# finds beside its bin folder.
#   tests/dist/install_check.sh BUILD_DIR
set -euo pipefail
# Where it may, it runs in a network namespace of its own, so that its ports clash with nothing.
if [ -z "${POWDERBOX_OWN_NETWORK:-}" ] && command -v ip >/dev/null && unshare -n true 2>/dev/null
then
  export POWDERBOX_OWN_NETWORK=1
  exec unshare -n sh -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
build=$(cd "$1" && pwd)
prefix=$(mktemp -d /tmp/powderbox-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

app=org.example.Powderbox
for f in bin/powderbox bin/powderbox-bot bin/powderbox-serverlist share/powderbox/alsoft.conf \
         share/powderbox/Data/GFX.qzd share/powderbox/Data/Maps/Arena.map \
         share/icons/hicolor/scalable/apps/powderbox.svg; do
  [ -s "$prefix/$f" ] || fail "$f is not installed"
done
for size in 16 22 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${size}x$size/apps/powderbox.png
  [ "$(identify -format '%wx%h' "$icon")" = "${size}x$size" ] || fail "icon $icon"
done
for page in man6/powderbox.6 man6/powderbox-bot.6 man8/powderbox-serverlist.8; do
  manual=$prefix/share/man/$page.gz
  [ -s "$manual" ] || fail "$page is not installed"
  ! zcat "$manual" | grep -q '@[A-Z_]*@' || fail "$page has an unfilled placeholder"
  if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
  fi
done

desktop-file-validate "$prefix/share/applications/$app.desktop"
# The tree form also checks that the menu entry the AppStream file names is installed.
appstreamcli validate-tree --no-net "$prefix" >/dev/null ||
  { appstreamcli validate-tree --no-net "$prefix"; fail "appstreamcli validate-tree"; }
grep -q "^Icon=powderbox$" "$prefix/share/applications/$app.desktop" || fail "desktop icon name"

# The units start the programs of this prefix.
for unit in powderbox-host powderbox-serverlist; do
  file=$prefix/lib/systemd/system/$unit.service
  exec_line=$(grep '^ExecStart=' "$file") || fail "$unit has no ExecStart"
  program=${exec_line#ExecStart=}
  program=${program%% *}
  [ "$program" = "$prefix/bin/${unit%-host}" ] || fail "$unit starts $program"
  if command -v systemd-analyze >/dev/null; then
    complaints=$(systemd-analyze verify "$file" 2>&1) || true
    [ -z "$complaints" ] || fail "$complaints"
  fi
done

# The newest release note is the version the game reports.
version=$("$prefix/bin/powderbox" --version)
newest=$(grep -o '<release version="[^"]*"' "$prefix/share/metainfo/$app.metainfo.xml" |
         head -n1 | cut -d'"' -f2)
[ "$version" = "Powderbox $newest" ] || fail "'$version' but the newest release note is $newest"

# Without a sound card the game says so in one line of its own, not the sound libraries'
# dozen. A device that exists nowhere stands in for the missing card.
printf '[alsa]\ndevice = powderbox-nowhere\n' >"$prefix/nowhere.conf"
ALSOFT_DRIVERS=alsa ALSOFT_CONF=$prefix/nowhere.conf XDG_CONFIG_HOME=$prefix/config APPDATA= \
  xvfb-run -a timeout 6 "$prefix/bin/powderbox" >"$prefix/terminal.txt" 2>&1 || true
# xvfb-run's own complaints (it sometimes fails to remove its scratch folder under load) are not
# the game's.
[ "$(grep -v '^xvfb-run: ' "$prefix/terminal.txt")" = \
  "Sound: no audio device, playing without sound" ] ||
  { cat "$prefix/terminal.txt"; fail "the terminal got more or less than one line about sound"; }

# A dedicated host from the installed program, with nothing to tell it where its data is. It
# plays one match with a bot on ports of its own and ends by itself.
unset POWDERBOX_DATA
export XDG_CONFIG_HOME=$prefix/config APPDATA=
base=$((20000 + RANDOM % 20000))
log=$prefix/host.log
"$prefix/bin/powderbox" --headless --host --once --start-with 1 --rounds 1 --map Arena \
    --port-base "$base" --bind 127.0.0.1 --log "$log" >/dev/null 2>&1 &
host=$!
for _ in $(seq 300); do  # up to 30 s on a busy machine
  grep -q "main loop" "$log" 2>/dev/null && break
  sleep 0.1
done
timeout 60 "$prefix/bin/powderbox-bot" --connect 127.0.0.1 --port-base "$base" --play suicide \
    --quiet >/dev/null 2>&1 || true
status=0
timeout 60 tail --pid=$host -f /dev/null || { kill $host; fail "the host did not end"; }
wait $host || status=$?
[ $status -eq 0 ] || { cat "$log"; fail "the host ended with $status"; }
grep -q "data root $prefix/share/powderbox\$" "$log" || { cat "$log"; fail "data root"; }
echo "installed into $prefix: files valid, $version hosted a match"
