#!/usr/bin/env bash
# The board's install rules (board/install.cmake) on the ARM build:
#   tests/board/install_check.sh CROSS_BUILD_DIR
# DESTDIR and the prefix are honoured, the tree is the documented one with
# its modes, fr-core is the static ARM program stripped, the units and the
# inittab lines name the installed scripts, and board/tarball.sh packs it.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: install_check.sh CROSS_BUILD_DIR}" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The rules as they are now: regenerating the build system builds nothing.
cmake "$build" > "$tmp/configure.log" || fail "cmake $build failed: $(cat "$tmp/configure.log")"
root=$tmp/root
DESTDIR=$root cmake --install "$build" --prefix /opt/fr > "$tmp/install.log" ||
  fail "cmake --install failed: $(cat "$tmp/install.log")"

expected="opt/fr/bin/fr-core 755
opt/fr/lib/systemd/system/fr-core.service 644
opt/fr/lib/systemd/system/fr-usb-gadget.service 644
opt/fr/sbin/fr-start 755
opt/fr/sbin/fr-update 755
opt/fr/sbin/fr-usb-gadget 755
opt/fr/share/doc/fr-core/board.md 644
opt/fr/share/fr-core/identity-layout 644
opt/fr/share/fr-core/inittab.fr-core 644"
actual=$(cd "$root" && find . -type f -printf '%P %m\n' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed tree:
$actual
expected:
$expected"

core=$root/opt/fr/bin/fr-core
sections=$(arm-linux-gnueabihf-readelf -S "$core")
! grep -qE '\.symtab|\.debug' <<< "$sections" || fail "fr-core is not stripped"
arm-linux-gnueabihf-readelf -h "$core" | grep -q 'Machine: *ARM$' || fail "fr-core is not an ARM program"
arm-linux-gnueabihf-readelf -d "$core" 2>&1 | grep -q 'no dynamic section' || fail "fr-core is not static"

for f in fr-start fr-usb-gadget; do
  cmp -s "$src/board/$f" "$root/opt/fr/sbin/$f" || fail "sbin/$f differs from board/$f"
done
! grep -rl '@PREFIX@' "$root" || fail "@PREFIX@ left in the files above"
grep -qx 'ExecStart=/opt/fr/sbin/fr-start --supervise' "$root/opt/fr/lib/systemd/system/fr-core.service" ||
  fail "fr-core.service does not start /opt/fr/sbin/fr-start --supervise"
grep -qx '::respawn:/opt/fr/sbin/fr-start' "$root/opt/fr/share/fr-core/inittab.fr-core" ||
  fail "the inittab lines do not respawn /opt/fr/sbin/fr-start"

tarball=$(sh "$src/board/tarball.sh" "$build" /usr "$tmp")
version=$(sed -n 's/.*kText = "\([^"]*\)".*/\1/p' "$src/app/version.h")
[ "$tarball" = "$tmp/fr-core-board-$version.tar.gz" ] || fail "tarball at $tarball"
listing=$(tar -tvzf "$tarball")
grep -qE '^-rwxr-xr-x 0/0 .* usr/bin/fr-core$' <<< "$listing" || fail "tarball: $listing"
[ "$(grep -c . <<< "$listing")" -eq "$(find "$root/opt" -mindepth 1 | wc -l)" ] || fail "tarball does not hold the tree: $listing"
echo "install_check: ok"
