#!/usr/bin/env bash
# Builds the Debian package and tries it on a fresh Debian 12: installs it into a clean chroot
# with apt (which fetches its dependencies from this machine's mirror), starts the game from its
# menu entry on a virtual screen, hosts a match without a window, then purges the package and
# checks that nothing of it is left. Run by hand, as root; it takes minutes, so CI does not.
#   dist/check_deb.sh [BUILD_DIR]      (default build-pack)
# The bare chroot is made once by debootstrap and kept in /var/tmp/powderbox-deb-check; every
# run works on a fresh copy of it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-pack}
cache=/var/tmp/powderbox-deb-check
base=$cache/bookworm-base
root=$cache/run
[ "$(id -u)" -eq 0 ] || { echo "run as root (chroot, mounts)" >&2; exit 2; }
step() { printf '\n== %s\n' "$*"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

step "Building the package in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  >/dev/null
cmake --build "$build" -j2 --target powderbox powderbox-bot powderbox-serverlist content \
  desktop_files >/dev/null
(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$PWD/package" >/dev/null)
deb=$(ls -t "$build"/package/powderbox_*.deb | head -n1)
ls -l "$deb"
dpkg-deb --field "$deb" Package Version Section Installed-Size Depends Recommends
if command -v lintian >/dev/null; then
  step "lintian"
  lintian --no-tag-display-limit "$deb" || true
fi

if [ ! -d "$base" ]; then
  step "Making the bare chroot (debootstrap minbase bookworm)"
  mirror=$(grep -hoE '^URIs: *http[^ ]*|^deb +http[^ ]*' /etc/apt/sources.list.d/*.sources \
           /etc/apt/sources.list 2>/dev/null | grep -v security | head -n1 | awk '{print $2}')
  mkdir -p "$cache"
  rm -rf "$base.tmp"
  debootstrap --variant=minbase bookworm "$base.tmp" "${mirror:-http://deb.debian.org/debian}" \
    >"$cache/debootstrap.log"
  mv "$base.tmp" "$base"
fi

step "A fresh copy of the chroot"
mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
rm -rf "$root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
for m in proc dev sys; do
  mount --rbind "/$m" "$root/$m"
  mounts+=("$root/$m")
done
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
listing() { # every file outside the kernel's and apt's own folders
  in_root find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp \
    -o -path /var/cache/apt -o -path /var/lib/apt -o -path /var/log -o -path /var/cache/debconf \
    -o -path /var/lib/dpkg \) -prune -o -print | sort
}
in_root apt-get update -q >/dev/null

# The dependencies first, so that what the package itself leaves can be told apart from what
# they leave (system users, caches).
step "Installing the dependencies, then $(basename "$deb") with apt"
needs="$(dpkg-deb --field "$deb" Depends), $(dpkg-deb --field "$deb" Recommends)"
start=$(date +%s)
in_root env DEBIAN_FRONTEND=noninteractive apt-get satisfy -y -q "$needs" >"$cache/install.log" ||
  { tail -n 30 "$cache/install.log"; fail "apt-get satisfy"; }
echo "dependencies: $(grep -c '^Setting up' "$cache/install.log") packages" \
     "in $(($(date +%s) - start)) s"
listing >"$cache/before.txt"
cp "$deb" "$root/tmp/powderbox.deb"
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q /tmp/powderbox.deb \
  >>"$cache/install.log" || { tail -n 30 "$cache/install.log"; fail "apt-get install"; }
in_root dpkg -L powderbox |
  grep -E 'bin/|\.desktop|metainfo/|systemd/system/|man[68]/|scalable/apps/|changelog'
echo "$(in_root dpkg -L powderbox | grep -c 'hicolor/.*\.png$') PNG icons," \
     "$(in_root dpkg -L powderbox | grep -c '^/usr/share/powderbox/Data/.*\.')" data files

step "powderbox --version"
in_root powderbox --version

step "From the menu entry, on a virtual screen without a sound card"
exec_line=$(grep '^Exec=' "$root/usr/share/applications/org.example.Powderbox.desktop")
display=:$((100 + RANDOM % 400))
Xvfb $display -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" 2>/dev/null ||
  { mkdir -p "$root/tmp/.X11-unix" && mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"; }
mounts+=("$root/tmp/.X11-unix")
mkdir -p "$root/tmp/player" && chown nobody:nogroup "$root/tmp/player"
chroot "$root" env -i PATH=/usr/bin:/bin HOME=/tmp/player DISPLAY=$display LANG=C.UTF-8 \
  POWDERBOX_LOG=/tmp/player/game.log setpriv --reuid=nobody --regid=nogroup --clear-groups \
  timeout 15 ${exec_line#Exec=} >"$cache/menu.out" 2>&1 &
game=$!
sleep 8
DISPLAY=$display import -window root "$cache/menu.png" 2>/dev/null || true
status=0
wait $game || status=$?
echo "the game ran until stopped after 15 s (timeout status $status, 124 = still running)"
echo "what it printed:"; sed 's/^/  | /' "$cache/menu.out"
grep -E 'START (data root|main window)' "$root/tmp/player/game.log" | sed 's/^/  log | /'
[ $status -eq 124 ] || fail "the game did not keep running"
[ "$(wc -l <"$cache/menu.out")" -le 1 ] || fail "more than one line on the terminal"
echo "screen: $cache/menu.png"

step "A dedicated host and a bot, loopback only"
unshare -n sh -c "ip link set lo up && chroot '$root' env -i PATH=/usr/bin:/bin HOME=/tmp sh -c '
  powderbox --headless --host --once --start-with 1 --rounds 1 --port-base 47100 \
    --log /tmp/host.log &
  sleep 1
  powderbox-bot --connect 127.0.0.1 --port-base 47100 --play suicide --quiet
  wait \$!'"
echo "host ended with $?:"
sed 's/^/  | /' "$root/tmp/host.log" | grep -E 'data root|MATCH|ROUND|quit|exit|END' | head -n 12

step "The units"
for unit in powderbox-host powderbox-serverlist; do
  grep -H '^ExecStart=' "$root/usr/lib/systemd/system/$unit.service"
done

step "Purging"
in_root env DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -q powderbox >/dev/null
listing >"$cache/after.txt"
left=$(comm -13 "$cache/before.txt" "$cache/after.txt" | grep -v '^/etc/ld.so.cache$' || true)
in_root dpkg -l | grep -q ' powderbox ' && fail "dpkg still lists the package"
if [ -n "$left" ]; then
  echo "$left"
  fail "files left after the purge"
fi
echo "nothing left: $(wc -l <"$cache/after.txt") paths, as before the install"
echo "PASS"
