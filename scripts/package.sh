#!/usr/bin/env bash
# Makes the Debian package of a finished build (CPack), installs it with dpkg, starts the
# installed app with --version and removes the package again. Run after scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir="${OSTRA_BUILD_DIR:-build}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

rm -f "$build_dir"/ostra-radio_*.deb
(cd "$build_dir" && cpack -G DEB > /dev/null)
deb="$(ls "$build_dir"/ostra-radio_*.deb)"
echo "package: $deb"
dpkg-deb --info "$deb" | grep -E "Package|Version|Depends"
dpkg-deb --contents "$deb" | awk '{print $6}'

$SUDO dpkg -i "$deb"
/usr/bin/OstraRadio --version
/usr/bin/ostra-play 2>&1 | grep -q "usage: ostra-play" || true
$SUDO dpkg -r ostra-radio > /dev/null
echo "package: installed, started and removed"
