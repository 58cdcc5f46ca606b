#!/bin/bash
# Fills DIR with what the Windows build compiles beside our code, from the
# registries we reach, so that the build itself downloads nothing:
#   DIR/include  cpp-httplib's whole header (Debian's source package of the
#                version the Linux build links, with Debian's patches),
#                nlohmann-json and cxxopts (Debian's headers)
#   DIR/sqlite   SQLite's amalgamation, as the npm package better-sqlite3
#                ships it (pinned, checked against its digest)
# Usage: cmake/windows-deps.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir/include" "$dir/sqlite" "$dir/src"
src=$(cd "$dir/src" && pwd)

SQLITE_NPM=better-sqlite3@12.4.1
SQLITE_PACKAGE=better-sqlite3-12.4.1.tgz
SQLITE_SHA256=14398acbf00d1e8fe0a2753df7d4f15c13138e4b874f4e6e96791f65b4536d0d

if [ ! -f "$dir/include/httplib.h" ]; then
  version=$(dpkg-query -W -f='${Version}' libcpp-httplib-dev)
  # Debian's source index in a folder of our own: the machine's apt
  # configuration stays as it is.
  mkdir -p "$src/apt/lists/partial"
  cat >"$src/apt/sources.list" <<LIST
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
LIST
  apt=(apt-get -q -o Dir::Etc::SourceList="$src/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
       -o Dir::State::Lists="$src/apt/lists" -o APT::Sandbox::User=root)
  "${apt[@]}" update >/dev/null
  (cd "$src" && rm -rf cpp-httplib && "${apt[@]}" source --download-only "cpp-httplib=$version" >/dev/null &&
     dpkg-source -x --no-check cpp-httplib_*.dsc cpp-httplib >/dev/null)
  cp "$src/cpp-httplib/httplib.h" "$dir/include/httplib.h"
fi

if [ ! -f "$dir/sqlite/sqlite3.c" ]; then
  [ -f "$src/$SQLITE_PACKAGE" ] || (cd "$src" && npm pack --silent "$SQLITE_NPM" >/dev/null)
  echo "$SQLITE_SHA256  $src/$SQLITE_PACKAGE" | sha256sum -c --quiet
  tar -xzf "$src/$SQLITE_PACKAGE" -C "$src" package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h
  cp "$src/package/deps/sqlite3/sqlite3.c" "$src/package/deps/sqlite3/sqlite3.h" "$dir/sqlite/"
fi

cp -r /usr/include/nlohmann "$dir/include/"
cp /usr/include/cxxopts.hpp "$dir/include/"
