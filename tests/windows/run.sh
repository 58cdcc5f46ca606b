#!/usr/bin/env bash
# The Windows programs under wine64, against virtual registers (fr-emu):
#   tests/windows/run.sh BUILD WIN
# BUILD is the Linux build (fr-emu, fr-host, fr-archive, e2e_tests), WIN the
# Windows one (bin/*.exe, fr-bridge.msi).
#   - each .exe needs no library but Windows' own;
#   - fr-host.exe runs the demo's day over tcp:// and over a COM port wine
#     maps to the register's line; the paper is fr-host's, time and signs
#     aside;
#   - fr-archive.exe reads that card as fr-archive does, byte for byte;
#   - fr-bridge.exe passes the bridge's end-to-end tests that do not need
#     TLS, the uplink or POSIX modes, over tcp:// and over a COM port;
#   - the service is installed, started and stopped through sc and through
#     fr-bridge.exe service, answers HTTP meanwhile, and is removed;
#   - msiinfo finds the installer's files, service, folders and actions.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: run.sh BUILD WIN}" && pwd)
win=$(cd "${2:?usage: run.sh BUILD WIN}" && pwd)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
tmp=$(mktemp -d)
# A prefix of the check's own, made anew; no debug chatter, no Mono or Gecko.
export WINEPREFIX=$tmp/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
emu=""

fail() { echo "FAIL: $*" >&2; exit 1; }
cleanup() {
  [ -n "$emu" ] && kill "$emu" 2>/dev/null
  "$wineserver" -k 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
# Times, dates and fiscal signs differ from run to run; line ends by system.
steady() {
  tr -d '\r' | sed -E -e 's/[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}(:[0-9]{2})?/DATE/g' \
    -e 's/(ФП|fiscal_sign:) *[0-9]+/\1 N/' -e 's/(time: ).*/\1T/' -e "s|$tmp/[a-z-]*|DIR|g"
}

echo "== each program needs Windows' own libraries alone"
for exe in "$win"/bin/*.exe; do
  extra=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ {print $3}' |
          grep -viE '^(kernel32|advapi32|shell32|ole32|ws2_32|bcrypt|msvcrt)\.dll$' || true)
  [ -z "$extra" ] || fail "$exe needs $extra beside it"
done

echo "== a wine prefix"
"$wine" wineboot -i >/dev/null 2>&1 || true
"$wineserver" -w
# Services live only while the wine server does: one kept until the end, in
# a session of its own (the tests' kills reach their own processes only).
setsid "$wineserver" -p > "$tmp/wineserver.log" 2>&1 &
for _ in $(seq 50); do "$wineserver" -k0 2>/dev/null && break; sleep 0.1; done
# The service manager starts with the first program: its services' events
# (ReportEvent) are traced to events.log.
WINEDEBUG=-all,+eventlog "$wine" cmd /c exit 2> "$tmp/events.log"

echo "== fr-host.exe: the demo's day, over tcp:// and over COM5"
bash "$src/tools/demo.sh" "$tmp/linux-day" > "$tmp/linux-day.out"
FR_DEMO_TCP_PORT=$(free_port) FR_DEMO_HOST="$wine $win/bin/fr-host.exe" \
  bash "$src/tools/demo.sh" "$tmp/tcp-day" > "$tmp/tcp-day.out" || fail "the day over tcp:// (tcp-day.out)"
ln -sfn "$tmp/com-day/host" "$WINEPREFIX/dosdevices/com5"
FR_DEMO_PORT=COM5 FR_DEMO_HOST="$wine $win/bin/fr-host.exe" \
  bash "$src/tools/demo.sh" "$tmp/com-day" > "$tmp/com-day.out" || fail "the day over COM5 (com-day.out)"
for day in tcp-day com-day; do
  diff <(steady < "$tmp/linux-day.out") <(steady < "$tmp/$day.out") || fail "$day: fr-host.exe said otherwise"
  diff <(cat "$tmp"/linux-day/paper/*.txt | steady) <(cat "$tmp/$day"/paper/*.txt | steady) ||
    fail "$day: other paper"
done

echo "== fr-archive.exe: the card as fr-archive reads it"
card=$(ls "$tmp"/com-day/mnt/sd/*)
eeprom=$tmp/com-day/sys/bus/i2c/devices/0-0050/eeprom
last=$("$build/bin/fr-archive" list "$card" | tail -1 | awk '{print $1}')
while read -r -a args; do
  "$build/bin/fr-archive" "${args[@]}" > "$tmp/linux.txt" 2>&1 || true
  (cd "$tmp" && "$wine" "$win/bin/fr-archive.exe" "${args[@]}") > "$tmp/windows.txt" 2>&1 || true
  [ -s "$tmp/linux.txt" ] || fail "fr-archive ${args[*]} said nothing"
  diff "$tmp/linux.txt" <(tr -d '\r' < "$tmp/windows.txt") || fail "fr-archive.exe ${args[*]}"
done <<EOF
verify $card --eeprom $eeprom
list $card
show $card $last --json --eeprom $eeprom
export $card --format json
export $card --format csv --shift 1
totals $card --shift 1 --json
EOF

echo "== fr-bridge.exe: the bridge's end-to-end tests, over tcp:// and over COM6"
tests='BridgeTest.*:BridgeExactlyOnceTest.*:BridgeDoorTest.*:BridgePreviewTest.*'
tests+=':BridgeJournalTest.AReplyLostByAKilledBridgeIsSettledWhole'
tests+=':BridgeJournalTest.AnOutcomeTheJournalRefusesIsSettledByTheNextRun'
tests+=':-BridgeDoorTest.ServesHttpsWithTheCertificateItIsGiven'
FR_BRIDGE_WINDOWS=$win/bin/fr-bridge.exe "$build/bin/e2e_tests" --gtest_brief=1 --gtest_filter="$tests"
FR_BRIDGE_WINDOWS=$win/bin/fr-bridge.exe FR_BRIDGE_COM=6 "$build/bin/e2e_tests" --gtest_brief=1 \
  --gtest_filter='BridgeTest.ADayOverHttpIsWhatTheRegisterStored:BridgeExactlyOnceTest.*'

echo "== the service"
emu_port=$(free_port)
port=$(free_port)
"$build/bin/fr-emu" "$tmp/service-board" --tcp "$emu_port" > "$tmp/service-emu.log" 2>&1 &
emu=$!
bridge=("$wine" "$win/bin/fr-bridge.exe")
state=$WINEPREFIX/drive_c/ProgramData/fr-bridge
healthy() { curl -s -m 2 "http://127.0.0.1:$port/healthz" | grep -q '"ok"'; }
eventually() { for _ in $(seq 60); do "$@" && return 0; sleep 0.5; done; return 1; }
"${bridge[@]}" service install --register "main=tcp://127.0.0.1:$emu_port" --listen "127.0.0.1:$port" \
  > "$tmp/install.out" 2>&1 || { cat "$tmp/install.out"; fail "service install"; }
grep -q 'runs as NT AUTHORITY\\LocalService' "$tmp/install.out" || fail "not LocalService: $(cat "$tmp/install.out")"
"$wine" reg query 'HKLM\System\CurrentControlSet\Services\fr-bridge' | tr -d '\r' > "$tmp/service.reg"
grep -Eq 'Start +REG_DWORD +0x2$' "$tmp/service.reg" || fail "not started automatically: $(cat "$tmp/service.reg")"
grep -q 'fr-bridge.exe service run --register' "$tmp/service.reg" || fail "its command line: $(cat "$tmp/service.reg")"
"$wine" sc start fr-bridge > "$tmp/sc.out" 2>&1 || fail "sc start: $(cat "$tmp/sc.out")"
eventually healthy || fail "the service does not answer"
token=$(awk '$1 == "admin" {print $2}' "$state/tokens")
curl -s -H "Authorization: Bearer $token" "http://127.0.0.1:$port/v1/registers/main/status" | grep -q '"online":true' ||
  fail "the service's register is not online"
for f in journal.sqlite fr-bridge.log; do [ -s "$state/$f" ] || fail "no $f in $state"; done
"$wine" sc stop fr-bridge > /dev/null || fail "sc stop"
eventually eval '! healthy' || fail "sc stop did not stop it"
"${bridge[@]}" service start || fail "service start"
healthy || fail "service start: no answer"
"${bridge[@]}" service stop || fail "service stop"
! healthy || fail "service stop: still answering"
for event in 'fr-bridge started' 'fr-bridge stopped'; do
  grep -q "$event" "$tmp/events.log" || fail "no \"$event\" in the event log"
done
"${bridge[@]}" service uninstall > /dev/null || fail "service uninstall"
if "$wine" sc query fr-bridge > /dev/null 2>&1; then fail "still installed"; fi
[ -s "$state/journal.sqlite" ] || fail "the journal went with the service"

echo "== the installer"
msi=$win/fr-bridge.msi
table() { msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r'; }
for f in fr-bridge.exe fr-host.exe fr-archive.exe windows.md; do
  table File | grep -q "	$f	" || fail "no $f in the installer"
done
table ServiceInstall | grep -Eq '^Service	fr-bridge	.*	16	2	1	.*NT AUTHORITY\\LocalService		service run	Bridge	' ||
  fail "the service: $(table ServiceInstall)"
table ServiceControl | grep -q 'fr-bridge' || fail "no service control"
table Directory | grep -q '^INSTALLDIR	ProgramFiles64Folder	fr-bridge$' || fail "not in Program Files"
table Directory | grep -q '^STATEDIR	CommonAppDataFolder	fr-bridge$' || fail "no state folder"
table CreateFolder | grep -q '^STATEDIR	' || fail "the state folder is not made"
table CustomAction | grep -q 'service configure' || fail "the service is not configured"
echo "windows check: passed"
