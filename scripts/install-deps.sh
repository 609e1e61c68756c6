#!/usr/bin/env bash
# Installs the Debian 12 packages the workbench needs: "run" (the default) what building and
# running the program need, "test" that and the tools the tests start (servers, peers, fuzzing,
# file systems). Idempotent: when everything is already there it only checks and prints nothing.
# It never removes an installed package: where an install would remove one, it installs nothing,
# names what would go and fails. "--list run|test" prints the packages, one entry a line.
set -euo pipefail

run_packages=(
  cmake ninja-build ccache g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-websockets-dev qt6-svg-dev qt6-5compat-dev
  libqt6svg6 qml6-module-qtqml qml6-module-qtqml-models qml6-module-qtqml-workerscript
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-window
  qml6-module-qtquick-layouts qml6-module-qtquick-templates qml6-module-qtquick-shapes
  qml6-module-qtquick-dialogs qml6-module-qt-labs-folderlistmodel
  qml6-module-qt5compat-graphicaleffects qml6-module-qtwebsockets
  libasound2-dev libasound2-plugins libpulse-dev libjack-jackd2-dev
  fonts-noto-cjk fonts-dejavu-core qt6-translations-l10n libgl-dev
  libbenchmark-dev libfftw3-dev
)
# An entry "a|b" is there when either is installed, and installs a. FUSE 3 is Debian 12's FUSE
# and provides "fuse", which bindfs asks for; FUSE 2 ("fuse") breaks fuse3, and installing it
# would take fuse3 and everything that needs it (sshfs, the desktop portal, flatpak) away.
test_packages=(
  "${run_packages[@]}"
  clang-format clang-14 libclang-rt-14-dev qml6-module-qttest
  alsa-utils jackd2 pulseaudio pulseaudio-utils cmt ladspa-sdk swh-plugins
  xvfb xauth x11-utils libgl1-mesa-dri
  python3 python3-websockets python3-aiohttp openssl iproute2 util-linux
  linuxptp tshark ffmpeg python3-zeroconf curl
  xclip wl-clipboard
  "fuse3|fuse" bindfs
)

usage() {
  echo "usage: $0 [run|test] | --list run|test" >&2
  exit 2
}
list_for() {
  case "$1" in
    run) printf '%s\n' "${run_packages[@]}" ;;
    test) printf '%s\n' "${test_packages[@]}" ;;
    *) usage ;;
  esac
}
# The status is "<wanted> ok installed": the wanted state is "install", or "hold" for a package
# the user keeps at its version, which asking apt for would upgrade.
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q ' ok installed'
}
# The first package of each entry none of whose alternatives is installed.
missing_of() {
  local entry alternative
  while read -r entry; do
    local found=""
    for alternative in ${entry//|/ }; do
      installed "$alternative" && found=yes && break
    done
    [ -n "$found" ] || echo "${entry%%|*}"
  done
}

if [ "${1:-}" = "--list" ]; then
  [ $# -eq 2 ] || usage
  list_for "$2"
  exit 0
fi
[ $# -le 1 ] || usage
# Read here, not in the process substitution below, whose exit would not end the script: an
# unknown list name fails rather than finding nothing missing.
entries=$(list_for "${1:-run}")
mapfile -t missing < <(missing_of <<<"$entries")
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive
# jackd2 asks whether to enable realtime scheduling; answer once, quietly.
echo "jackd2 jackd/tweak_rt_limits boolean false" | $sudo_cmd debconf-set-selections
# tshark asks whether non-root users may capture; the tests capture as root or in their own
# namespace, so no.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo_cmd debconf-set-selections
$sudo_cmd apt-get update -qq
# apt-get's simulation names what the install would remove: "Remv <package> [version]", or
# "Purg <package> [version]" where apt is set to purge (APT::Get::Purge).
removed=$(apt-get install -s --no-install-recommends "${missing[@]}" \
  | sed -nE 's/^(Remv|Purg) ([^ ]*).*/\2/p')
if [ -n "$removed" ]; then
  echo "install-deps: installing ${missing[*]} would remove installed packages:" \
    $removed "- nothing was installed; install the rest by hand or remove those first" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
# --no-remove holds even where the simulation and the install see different package lists.
$sudo_cmd apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}" >/dev/null
