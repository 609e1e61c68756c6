#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing the workbench need.
# Idempotent: when everything is already there it only checks and prints nothing.
set -euo pipefail

packages=(
  cmake ninja-build ccache g++ pkg-config clang-format clang-14 libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-websockets-dev qt6-svg-dev qt6-5compat-dev
  libqt6svg6 qml6-module-qtqml qml6-module-qtqml-models qml6-module-qtqml-workerscript
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-window
  qml6-module-qtquick-layouts qml6-module-qtquick-templates qml6-module-qtquick-shapes
  qml6-module-qtquick-dialogs qml6-module-qt-labs-folderlistmodel qml6-module-qttest
  qml6-module-qt5compat-graphicaleffects qml6-module-qtwebsockets
  libasound2-dev libasound2-plugins alsa-utils libpulse-dev
  libjack-jackd2-dev jackd2
  pulseaudio pulseaudio-utils cmt ladspa-sdk swh-plugins
  fonts-noto-cjk fonts-dejavu-core qt6-translations-l10n
  xvfb xauth x11-utils libgl1-mesa-dri libgl-dev
  libbenchmark-dev libfftw3-dev
  python3 python3-websockets python3-aiohttp openssl iproute2 util-linux
  linuxptp tshark ffmpeg python3-zeroconf curl
  xclip wl-clipboard
  bindfs fuse
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable realtime scheduling; answer once, quietly.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo_cmd debconf-set-selections
# tshark asks whether non-root users may capture; the tests capture as root or in their own
# namespace, so no.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo_cmd debconf-set-selections
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
