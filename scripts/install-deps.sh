#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent; run as root (or through sudo). Fetches nothing but Debian packages.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libxml2-dev libcurl4-openssl-dev ca-certificates openssl libssl-dev curl
  libavcodec-dev libavutil-dev libswresample-dev libsdl2-dev
  qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg python3 clang-format
  clang libclang-rt-14-dev
  mpg123
  desktop-file-utils appstream man-db
  dbus-daemon playerctl stress-ng icecast2 mpv xvfb xdotool
)

# Only the packages that are missing are installed, so a second run is quick.
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
