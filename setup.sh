#!/usr/bin/env bash
# Sets up a Debian machine for Powderbox and builds it.
#   ./setup.sh play   install what is missing, build the game and its data, start the game
#   ./setup.sh test   install what is missing, build the test tree (ASan + UBSan), run every test
#   ./setup.sh build  install and build only
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  build-essential cmake pkg-config git ca-certificates
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libsdl2-dev libgl1-mesa-dri libx11-dev
  libopenal-dev libopenal1 libasound2-dev libvorbis-dev libogg-dev
  libpng-dev libjpeg62-turbo-dev zlib1g-dev nettle-dev
  libfreetype-dev fonts-dejavu-core fonts-dejavu-extra librsvg2-dev libcairo2-dev
  libcpp-httplib-dev libsqlite3-dev
  xvfb xauth x11-utils imagemagick sox chromium
  desktop-file-utils appstream
)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

jobs=$(nproc 2>/dev/null || echo 2)

configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

mode=${1:-build}
install_missing
case "$mode" in
  play)
    configure build
    cmake --build build -j "$jobs" --target powderbox content
    shift || true
    exec ./build/powderbox "$@"
    ;;
  test)
    configure build-test -DPOWDERBOX_SANITIZE=ON
    cmake --build build-test -j "$jobs"
    (cd build-test && ctest --output-on-failure -j "$jobs" --timeout 600)
    # The fuzz targets, briefly, in a clang tree of their own.
    tests/fuzz/run.sh build-fuzz 60
    ;;
  build)
    configure build
    cmake --build build -j "$jobs"
    ;;
  *)
    echo "usage: $0 play|test|build" >&2
    exit 2
    ;;
esac
