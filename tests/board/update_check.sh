#!/usr/bin/env bash
# board/fr-update with the ARM build's fr-core under qemu-arm, supervised
# by board/fr-start on a sandbox board:
#   tests/board/update_check.sh CROSS_BUILD_DIR
# The build identifier as readelf shows it, refusals (a wrong sum, a program
# for another machine) that change nothing, an update that runs the new
# slot and keeps the old one, a rollback by hand, and a new program that
# exits at once rolled back by fr-start by itself.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
cross=$(cd "${1:?usage: update_check.sh CROSS_BUILD_DIR}" && pwd)
tmp=$(mktemp -d)
supervisor=""
fail() { echo "FAIL: $*" >&2; exit 1; }
cleanup() {
  [ -n "$supervisor" ] && kill "$supervisor" 2>/dev/null
  pkill -f "$tmp/fr/bin/" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
wait_for() {
  for _ in $(seq 150); do "$@" && return 0; sleep 0.1; done
  return 1
}

# The installed tree: the ARM program and the scripts.
fr=$tmp/fr
mkdir -p "$fr/bin" "$fr/sbin"
cp "$cross/bin/fr-core" "$fr/bin/fr-core"
cp "$src/board/fr-start" "$src/board/fr-update" "$fr/sbin/"
board=$tmp/board
mkdir -p "$board/dev" "$board/nv" "$board/mnt" "$board/sys/bus/i2c/devices/0-0050"
head -c 4096 /dev/zero | tr '\0' '\377' > "$board/sys/bus/i2c/devices/0-0050/eeprom"
touch "$board/dev/mmcblk0p1" "$board/dev/ttyGS0"
cat > "$tmp/logger" <<EOF
#!/bin/sh
while IFS= read -r line; do printf '%s\n' "\$line"; done >> "$tmp/syslog"
EOF
chmod +x "$tmp/logger"
export FR_ROOT=$board FR_LOGGER=$tmp/logger FR_HWCLOCK='' FR_EMULATOR=qemu-arm FR_DEVICE_WAIT=0 \
       FR_RESTART_PAUSE=0.1 FR_TRIAL_SECONDS=30
update() { sh "$fr/sbin/fr-update" "$@"; }
sum() { sha256sum "$1" | cut -d ' ' -f 1; }
runs() { [ -n "$(core_pid)" ] && kill -0 "$(core_pid)" 2>/dev/null; }
core_pid() { cat "$board/run/fr-core/fr-core.pid" 2>/dev/null; }
new_core() { runs && [ "$(core_pid)" != "$1" ]; }
slot() { readlink "$fr/bin/fr-core"; }
readelf_id() { arm-linux-gnueabihf-readelf -n "$1" | sed -n 's/.*Build ID: //p'; }

# The build identifier: the note readelf reads.
id=$(readelf_id "$fr/bin/fr-core")
[ -n "$id" ] || fail "the ARM fr-core carries no build-id note"
[ "$(update --list)" = "fr-core $id (installed; no slots yet)" ] || fail "--list says $(update --list)"

sh "$fr/sbin/fr-start" --supervise 2>"$tmp/start.err" &
supervisor=$!
wait_for runs || fail "fr-core did not start under qemu-arm: $(cat "$tmp/start.err")"
first=$(core_pid)

# Refused: a wrong sum, a program for another machine; nothing changes.
if update "$cross/bin/fr-core" 0000 2>"$tmp/err"; then fail "a wrong sum was taken"; fi
grep -q "SHA-256 is" "$tmp/err" || fail "the wrong sum was not said: $(cat "$tmp/err")"
if update /bin/sh "$(sum /bin/sh)" 2>/dev/null; then fail "a program for another machine was taken"; fi
[ ! -L "$fr/bin/fr-core" ] || fail "a refused update made slots"
[ "$(core_pid)" = "$first" ] || fail "a refused update restarted fr-core"

# An update: the new slot runs, the old one is kept.
cp "$cross/bin/fr-core" "$tmp/new"
update "$tmp/new" "$(sum "$tmp/new")" 2>/dev/null || fail "the update failed"
[ "$(slot)" = fr-core.b ] || fail "the link names $(slot)"
wait_for new_core "$first" || fail "fr-core did not restart on the new program"
list=$(update --list)
grep -qx "\* fr-core.b $id" <<< "$list" || fail "--list: $list"
grep -qx "  fr-core.a $id" <<< "$list" || fail "the old program is not kept: $list"

# Back by hand.
second=$(core_pid)
update --rollback 2>/dev/null || fail "the rollback failed"
[ "$(slot)" = fr-core.a ] || fail "the rollback left the link at $(slot)"
wait_for new_core "$second" || fail "fr-core did not restart on the old program"

# A new program that exits at once: fr-start goes back by itself.
printf 'int main(void) { return 3; }\n' > "$tmp/exits.c"
arm-linux-gnueabihf-gcc -static -o "$tmp/exits" "$tmp/exits.c"
third=$(core_pid)
update "$tmp/exits" "$(sum "$tmp/exits")" 2>/dev/null || fail "the update to a failing program was refused"
rolled() { [ "$(slot)" = fr-core.a ] && runs && [ "$(core_pid)" != "$third" ]; }
wait_for rolled || fail "no automatic rollback: the link names $(slot)"
grep -q "the new fr-core ended 3 times within 30 s of its start; going back to fr-core.a" "$tmp/syslog" ||
  fail "the rollback is not in the log"
[ ! -e "$board/run/fr-core/update-trial" ] || fail "the trial outlived the rollback"
sleep 1
runs || fail "the rolled-back fr-core does not stay up"

sh "$fr/sbin/fr-start" stop || fail "stop failed"
wait "$supervisor" || fail "fr-start ended with $?"
supervisor=""
echo "update_check: ok"
