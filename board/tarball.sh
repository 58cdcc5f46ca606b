#!/bin/sh
# The board's installed tree as one archive to unpack at the board's root:
#   board/tarball.sh BUILD_DIR [PREFIX [OUT_DIR]]
# makes OUT_DIR/fr-core-board-VERSION.tar.gz (OUT_DIR defaults to BUILD_DIR,
# PREFIX to /usr; VERSION is fr-core's, from app/version.h) and prints its
# path. Files belong to root; only PREFIX's own tree is in it, so unpacking
# with `tar -xzf ... -C /` changes no other directory.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: tarball.sh BUILD_DIR [PREFIX [OUT_DIR]]}
prefix=${2:-/usr}
out=$(cd "${3:-$build}" && pwd)
version=$(sed -n 's/.*kText = "\([^"]*\)".*/\1/p' "$src/app/version.h")
[ -n "$version" ] || { echo "tarball.sh: no version in app/version.h" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" > /dev/null
tarball=$out/fr-core-board-$version.tar.gz
top=${prefix#/}
tar -C "$stage" --owner=0 --group=0 --numeric-owner -czf "$tarball" "${top%%/*}"
echo "$tarball"
