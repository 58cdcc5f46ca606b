#!/bin/bash
# Packs WIN/fr-bridge.msi from the Windows build in WIN (make msi) with
# msitools' wixl, and lists what it holds.
# Usage: bridge/windows/msi.sh WIN
set -euo pipefail
win=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# The register's version, as the device program and the host tools say it.
version=$(sed -n 's/.*kText = "\([0-9.]*\)".*/\1/p' "$root/app/version.h")
[ -n "$version" ] || { echo "msi.sh: no version in app/version.h" >&2; exit 1; }
stage=$win/msi
rm -rf "$stage"
mkdir -p "$stage/bin"
for p in fr-bridge fr-host fr-archive; do
  x86_64-w64-mingw32-strip -o "$stage/bin/$p.exe" "$win/bin/$p.exe"
done
cp "$root/docs/windows.md" "$stage/"
sed -e "s|@VERSION@|$version|" "$here/fr-bridge.wxs" > "$stage/fr-bridge.wxs"
# wixl takes the files' paths relative to where it runs.
(cd "$stage" && wixl -a x64 -o "$win/fr-bridge.msi" fr-bridge.wxs)
echo "$win/fr-bridge.msi: version $version"
