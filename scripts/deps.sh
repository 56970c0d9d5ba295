#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and packaging BREVAK need (udev for
# its pkg-config file, which names the folder the package puts the access rule in).
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libhidapi-dev libudev-dev libsystemd-dev libsdbus-c++-dev
  dbus-daemon python3-dbusmock
  clang libclang-rt-14-dev
  qt6-base-dev qt6-svg-dev libqt6svg6 qt6-qpa-plugins libqt6opengl6-dev libgl-dev fonts-dejavu-core libfontconfig-dev libexpat1-dev
  xvfb xauth libx11-dev libxcb1-dev libxi-dev libxtst-dev libx11-xcb-dev
  libxkbcommon-dev libxkbcommon-x11-dev xkb-data
  openbox xdotool wmctrl x11-utils x11-apps
  dpkg-dev file lintian appstream udev
)
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
