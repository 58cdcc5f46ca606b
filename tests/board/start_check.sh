#!/usr/bin/env bash
# board/fr-start on a sandbox board, with the host build's fr-core:
#   tests/board/start_check.sh BIN_DIR
# One fr-core at a time, its output tagged in the log, killed -> started
# again (--supervise), a binary swapped in place + restart -> the new one
# runs, stop -> gone; without --supervise the script ends with fr-core (for
# init to respawn); the clock is never touched on a sandbox board.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:?usage: start_check.sh BIN_DIR}" && pwd)
tmp=$(mktemp -d)
board=$tmp/board
fr_start=$src/board/fr-start
supervisor=""

fail() { echo "FAIL: $*" >&2; exit 1; }
cleanup() {
  [ -n "$supervisor" ] && kill "$supervisor" 2>/dev/null
  for p in $(cores); do kill -9 "$p"; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# Pids of the fr-core processes running on this board.
cores() {
  local p
  for p in $(pgrep -x fr-core || true); do
    tr '\0' '\n' < "/proc/$p/environ" 2>/dev/null | grep -qxF "FR_ROOT=$board" && echo "$p"
  done
  return 0
}
# Waits up to 10 s for the command to succeed.
wait_for() {
  for _ in $(seq 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
one_core() { [ "$(cores | wc -l)" -eq 1 ]; }
no_core() { [ -z "$(cores)" ]; }
core_pid() { cat "$board/run/fr-core/fr-core.pid" 2>/dev/null; }
new_core() { one_core && [ "$(cores)" != "$1" ] && [ "$(core_pid)" = "$(cores)" ]; }
logged() { grep -qF -- "$1" "$tmp/syslog"; }

# A blank board with a card (as tools/common/sandbox.cpp makes them), and no
# host line: the link's failing reads show in the log too.
mkdir -p "$board/dev" "$board/nv" "$board/mnt" "$board/sandbox" "$board/sys/bus/i2c/devices/0-0050"
head -c 4096 /dev/zero | tr '\0' '\377' > "$board/sys/bus/i2c/devices/0-0050/eeprom"
touch "$board/dev/mmcblk0p1"

# logger(1) and hwclock(8) stand-ins: one writes "TAG: line", the other
# leaves a mark if ever run.
cat > "$tmp/logger" <<EOF
#!/bin/sh
[ "\$1" = -t ] || exit 2
while IFS= read -r line; do printf '%s: %s\n' "\$2" "\$line"; done >> "$tmp/syslog"
EOF
printf '#!/bin/sh\ntouch %s/hwclock-ran\n' "$tmp" > "$tmp/hwclock"
mkdir "$tmp/bin"
cp "$bin/fr-core" "$tmp/bin/fr-core"
chmod +x "$tmp/logger" "$tmp/hwclock"
export FR_ROOT=$board FR_CORE=$tmp/bin/fr-core FR_LOGGER=$tmp/logger FR_HWCLOCK=$tmp/hwclock \
       FR_RESTART_PAUSE=0.2

sh "$fr_start" --supervise 2>"$tmp/supervisor.err" &
supervisor=$!
wait_for one_core || fail "fr-core did not start"
first=$(cores)
[ "$(core_pid)" = "$first" ] || fail "pid file holds $(core_pid), fr-core is $first"
wait_for logged "fr-core: CREATE NEW STORAGE FILE" || fail "fr-core's lines do not reach the log with their tag"

status=0
timeout 5 sh "$fr_start" 2>"$tmp/second.err" || status=$?
[ "$status" -eq 1 ] || fail "a second fr-start ran (status $status)"
grep -q "already runs" "$tmp/second.err" || fail "the second fr-start did not say why: $(cat "$tmp/second.err")"
one_core || fail "$(cores | wc -l) fr-core processes after a second start"

kill -9 "$first"
wait_for new_core "$first" || fail "fr-core was not started again after it was killed"
logged "fr-start: fr-core ended (status 137); starting it again" || fail "the restart is not in the log"

# The update: the new binary renamed over the old one, then a restart.
second=$(cores)
cp "$bin/fr-core" "$tmp/bin/fr-core.new"
mv "$tmp/bin/fr-core.new" "$tmp/bin/fr-core"
[[ $(readlink "/proc/$second/exe") == *"(deleted)" ]] || fail "the running fr-core is not the replaced file"
sh "$fr_start" restart || fail "fr-start restart failed"
wait_for new_core "$second" || fail "fr-core did not come back after restart"
[ "$(readlink "/proc/$(cores)/exe")" = "$tmp/bin/fr-core" ] || fail "the new binary does not run"

sh "$fr_start" stop || fail "fr-start stop failed"
wait "$supervisor" || fail "the supervisor ended with status $?"
supervisor=""
no_core || fail "fr-core still runs after stop"
[ ! -e "$board/run/fr-core/fr-core.pid" ] || fail "the pid file outlived fr-core"
if sh "$fr_start" status 2>/dev/null; then fail "status says fr-core runs after stop"; fi

# Without --supervise (inittab respawn, systemd): the script ends with fr-core.
sh "$fr_start" 2>/dev/null &
runner=$!
wait_for one_core || fail "fr-core did not start without --supervise"
[ "$(sh "$fr_start" status)" = "$(cores)" ] || fail "status does not give fr-core's pid"
kill -9 "$(cores)"
status=0
wait "$runner" || status=$?
[ "$status" -eq 137 ] || fail "fr-start ended with $status, not fr-core's 137"
no_core || fail "fr-core runs after its script ended"

[ ! -e "$tmp/hwclock-ran" ] || fail "hwclock was run on a sandbox board"
echo "start_check: ok"
