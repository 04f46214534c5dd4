#!/usr/bin/env bash
# Installs a build into a fresh prefix and checks it as a desktop would see it: exactly the
# expected files, a desktop entry and metainfo that the freedesktop and AppStream validators
# pass, and programs that run from there. Prints the file list.
#   check-install.sh BUILD_DIR
set -euo pipefail
build="$1"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" > /dev/null
actual="$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort)"
echo "$actual"

id=org.ostraradio.OstraRadio
expected="bin/OstraRadio
bin/ostra-basicplayer
bin/ostra-play
share/applications/$id.desktop"
for size in 16 24 32 48 64 128 256 512; do
  expected+=$'\n'"share/icons/hicolor/${size}x${size}/apps/$id.png"
done
expected+=$'\n'"share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/ostra-play.1
share/metainfo/$id.metainfo.xml"
expected="$(echo "$expected" | sort)"
if [ "$actual" != "$expected" ]; then
  echo "check-install: the installed files differ from the expected ones:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi

desktop-file-validate "$prefix/share/applications/$id.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml"
# The icon the entry names is installed, and the programs run from the prefix.
grep -qx "Icon=$id" "$prefix/share/applications/$id.desktop"
grep -qx "Exec=OstraRadio" "$prefix/share/applications/$id.desktop"
"$prefix/bin/OstraRadio" --version
{ "$prefix/bin/ostra-play" 2>&1 || true; } | grep -q "usage: ostra-play"
man -l "$prefix/share/man/man1/ostra-play.1" > /dev/null 2>&1 || [ ! -x "$(command -v man)" ]
echo "check-install: ok"
