#!/usr/bin/env bash
# board/fr-start on a sandbox board, with the host build's fr-core:
#   tests/board/start_check.sh BIN_DIR
# One fr-core at a time, its output tagged in the log, killed -> started
# again (--supervise), a binary swapped in place + restart -> the new one
# runs, stop -> gone; without --supervise the script ends with fr-core (for
# init to respawn), but a restart is not an end; the clock is never touched
# on a sandbox board. The board's failures: a host line that comes late or
# never, a logger that dies, an fr-core left by a killed fr-start, no flock
# program, an fr-core that keeps ending (pauses that double); the settings
# file and the watchdogs (the board's and systemd's).
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:?usage: start_check.sh BIN_DIR}" && pwd)
tmp=$(mktemp -d)
board=$tmp/board
fr_start=$src/board/fr-start
# The shell that runs fr-start: FR_TEST_SHELL=busybox runs it under BusyBox ash.
if [ "${FR_TEST_SHELL:-sh}" = busybox ]; then
  start=("$(command -v busybox)" sh "$fr_start")
else
  start=("$(command -v sh)" "$fr_start")
fi
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
    tr '\0' '\n' 2>/dev/null < "/proc/$p/environ" | grep -qxF "FR_ROOT=$board" && echo "$p"
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
while IFS= read -r line; do
  printf '%s: %s\n' "\$2" "\$line" >> "$tmp/syslog"
  if [ -e "$tmp/logger-dies" ]; then rm -f "$tmp/logger-dies"; exit 0; fi
done
EOF
printf '#!/bin/sh\ntouch %s/hwclock-ran\n' "$tmp" > "$tmp/hwclock"
mkdir "$tmp/bin"
cp "$bin/fr-core" "$tmp/bin/fr-core"
chmod +x "$tmp/logger" "$tmp/hwclock"
export FR_ROOT=$board FR_CORE=$tmp/bin/fr-core FR_LOGGER=$tmp/logger FR_HWCLOCK=$tmp/hwclock \
       FR_RESTART_PAUSE=0.2 FR_DEVICE_WAIT=1

"${start[@]}" --supervise 2>"$tmp/supervisor.err" &
supervisor=$!
wait_for one_core || fail "fr-core did not start"
first=$(cores)
[ "$(core_pid)" = "$first" ] || fail "pid file holds $(core_pid), fr-core is $first"
wait_for logged "fr-core: CREATE NEW STORAGE FILE" || fail "fr-core's lines do not reach the log with their tag"
logged "fr-start: /dev/ttyGS0 did not appear within 1 s; starting fr-core without it" ||
  fail "the missing host line is not in the log"

status=0
timeout 5 "${start[@]}" 2>"$tmp/second.err" || status=$?
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
"${start[@]}" restart || fail "fr-start restart failed"
wait_for new_core "$second" || fail "fr-core did not come back after restart"
[ "$(readlink "/proc/$(cores)/exe")" = "$tmp/bin/fr-core" ] || fail "the new binary does not run"

# A logger that dies: fr-start and fr-core go on, a new logger takes the
# lines (the ones between go to the console).
touch "$tmp/logger-dies"
wait_for test ! -e "$tmp/logger-dies" || fail "the logger did not die"
lines=$(wc -l < "$tmp/syslog")
log_grew() { [ "$(wc -l < "$tmp/syslog")" -gt "$((lines + 5))" ]; }
wait_for log_grew || fail "no logger took the lines after one died"
kill -0 "$supervisor" || fail "fr-start died with its logger"
one_core || fail "fr-core died with the logger"

# fr-start killed outright: its fr-core is left holding the board; the next
# fr-start ends it and takes over.
third=$(cores)
kill -9 "$supervisor"
wait "$supervisor" 2>/dev/null || true
"${start[@]}" --supervise 2>"$tmp/takeover.err" &
supervisor=$!
wait_for new_core "$third" || fail "the next fr-start did not take over from an orphaned fr-core"
grep -q "fr-core $third runs without its fr-start; ending it" "$tmp/takeover.err" ||
  fail "the takeover is not said: $(cat "$tmp/takeover.err")"

"${start[@]}" stop || fail "fr-start stop failed"
wait "$supervisor" || fail "the supervisor ended with status $?"
supervisor=""
no_core || fail "fr-core still runs after stop"
[ ! -e "$board/run/fr-core/fr-core.pid" ] || fail "the pid file outlived fr-core"
if "${start[@]}" status 2>/dev/null; then fail "status says fr-core runs after stop"; fi

# Without --supervise (inittab respawn, systemd): the script ends with fr-core.
"${start[@]}" 2>/dev/null &
runner=$!
wait_for one_core || fail "fr-core did not start without --supervise"
[ "$("${start[@]}" status)" = "$(cores)" ] || fail "status does not give fr-core's pid"
kill -9 "$(cores)"
status=0
wait "$runner" || status=$?
[ "$status" -eq 137 ] || fail "fr-start ended with $status, not fr-core's 137"
no_core || fail "fr-core runs after its script ended"

# A restart of a plain fr-start (systemd's reload) is not its end.
"${start[@]}" 2>/dev/null &
runner=$!
wait_for one_core || fail "fr-core did not start"
before=$(cores)
"${start[@]}" restart || fail "fr-start restart failed"
wait_for new_core "$before" || fail "a plain fr-start did not start fr-core again after a restart"
kill -0 "$runner" || fail "a plain fr-start ended on a restart"
# An orphan of a plain fr-start: stop ends it.
kill -9 "$runner"
wait "$runner" 2>/dev/null || true
one_core || fail "fr-core did not outlive its killed fr-start"
"${start[@]}" stop 2>/dev/null || fail "stop did not end the orphaned fr-core"
no_core || fail "the orphaned fr-core still runs after stop"

# The host line comes late: fr-core starts once it is there.
FR_DEVICE_WAIT=20 "${start[@]}" 2>/dev/null &
runner=$!
wait_for logged "fr-start: waiting up to 20 s for /dev/ttyGS0" || fail "the wait for the host line is not said"
no_core || fail "fr-core started before its host line"
touch "$board/dev/ttyGS0"
wait_for one_core || fail "fr-core did not start when the host line came"
logged "fr-start: /dev/ttyGS0 appeared after" || fail "the host line's arrival is not in the log"
"${start[@]}" stop 2>/dev/null || true
wait "$runner" 2>/dev/null || true
rm -f "$board/dev/ttyGS0"

# Without a flock program fr-core's own lock keeps one copy.
mkdir "$tmp/noflock"
for tool in dirname cat mkdir mkfifo rm date sleep awk head wc; do ln -s "$(command -v "$tool")" "$tmp/noflock/$tool"; done
PATH=$tmp/noflock "${start[@]}" 2>"$tmp/noflock.err" &
runner=$!
wait_for one_core || fail "fr-core did not start without flock: $(cat "$tmp/noflock.err")"
grep -q "no flock program" "$tmp/noflock.err" || fail "fr-start did not say it has no flock"
status=0
timeout 5 env PATH="$tmp/noflock" "${start[@]}" 2>"$tmp/noflock2.err" || status=$?
[ "$status" -eq 1 ] || fail "a second fr-start without flock ran (status $status)"
grep -q "already runs" "$tmp/noflock2.err" || fail "the second fr-start without flock did not say why"
one_core || fail "two fr-core without flock"
"${start[@]}" stop 2>/dev/null || fail "stop failed"
wait "$runner" 2>/dev/null || true

# An fr-core that ends at once: pauses that double up to the longest.
printf '#!/bin/sh
exit 3
' > "$tmp/bin/ends"
chmod +x "$tmp/bin/ends"
FR_CORE=$tmp/bin/ends FR_RESTART_PAUSE=0.1 FR_RESTART_MAX=0.4 "${start[@]}" --supervise 2>/dev/null &
supervisor=$!
five_ends() { [ "$(grep -c 'fr-core ended (status 3); starting it again in' "$tmp/syslog")" -ge 5 ]; }
wait_for five_ends || fail "fr-core was not started again"
pauses=$(grep -o 'fr-core ended (status 3); starting it again in [0-9.]* s' "$tmp/syslog" | awk '{print $(NF-1)}' | head -n 5 | tr '\n' ' ')
[ "$pauses" = "0.1 0.2 0.4 0.4 0.4 " ] || fail "the pauses were $pauses"
"${start[@]}" stop 2>/dev/null || fail "stop during the pauses failed"
wait "$supervisor" || fail "the supervisor ended with status $? after a stop"
supervisor=""

# The settings file, and a watchdog fed while fr-core runs and disarmed at
# a clean stop.
mkdir -p "$board/etc/default"
printf 'FR_LOG_TAG=till\n' > "$board/etc/default/fr-core"
FR_WATCHDOG=$tmp/watchdog FR_WATCHDOG_INTERVAL=0.2 "${start[@]}" --supervise 2>/dev/null &
supervisor=$!
wait_for logged "till: " || fail "the settings file was not read"
fed() { grep -q '[.]' "$tmp/watchdog" 2>/dev/null; }
wait_for fed || fail "the watchdog was not fed"
"${start[@]}" stop 2>/dev/null || fail "stop failed"
wait "$supervisor" || fail "the supervisor ended with status $? after a stop"
supervisor=""
[ "$(tail -c 1 "$tmp/watchdog")" = V ] || fail "the watchdog was not disarmed at the stop"
rm "$board/etc/default/fr-core"

# systemd's watchdog: pinged while fr-core runs and while fr-start pauses
# between starts; a supervisor that stopped (SIGSTOP) with fr-core gone
# leaves it unpinged.
printf '#!/bin/sh\necho "$*" >> %s/pings\n' "$tmp" > "$tmp/bin/systemd-notify"
chmod +x "$tmp/bin/systemd-notify"
PATH=$tmp/bin:$PATH NOTIFY_SOCKET=@test WATCHDOG_USEC=400000 FR_RESTART_PAUSE=1 \
  "${start[@]}" --supervise 2>/dev/null &
supervisor=$!
pings() { if [ -e "$tmp/pings" ]; then wc -l < "$tmp/pings"; else echo 0; fi; }
pinged_since() { [ "$(pings)" -gt "$1" ]; }
wait_for pinged_since 2 || fail "systemd's watchdog was not pinged while fr-core ran"
grep -qvx "WATCHDOG=1" "$tmp/pings" && fail "fr-start sent systemd $(sort -u "$tmp/pings")"
wait_for one_core || fail "fr-core did not start"
kill -STOP "$supervisor"
kill -9 "$(cores)"
sleep 0.5
before=$(pings)
sleep 1
[ "$(pings)" -eq "$before" ] || fail "systemd was pinged while its supervisor was stopped"
kill -CONT "$supervisor"
wait_for pinged_since "$before" || fail "the pings did not come back with the supervisor"
"${start[@]}" stop 2>/dev/null || fail "stop failed"
wait "$supervisor" || fail "the supervisor ended with status $? after a stop"
supervisor=""

[ ! -e "$tmp/hwclock-ran" ] || fail "hwclock was run on a sandbox board"
echo "start_check: ok"
