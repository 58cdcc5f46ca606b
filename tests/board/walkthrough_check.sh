#!/usr/bin/env bash
# docs/board.md's walk-through on a virtual register (fr-emu: a blank
# sandbox board, its printer and host line), the POS side by fr-host:
#   tests/board/walkthrough_check.sh BIN_DIR
# serial number, the service cashier's new password, registration, shift,
# a sale, and the receipt on the paper. The USB gadget (against a directory
# standing for configfs) names the register by its serial number.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
bin=$(cd "${1:?usage: walkthrough_check.sh BIN_DIR}" && pwd)
tmp=$(mktemp -d)
reg=$tmp/register
emu=""
cleanup() {
  [ -n "$emu" ] && kill "$emu" 2>/dev/null && wait "$emu" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin/fr-emu" "$reg" > "$tmp/emu.log" 2>&1 &
emu=$!
for _ in $(seq 100); do [ -e "$reg/host" ] && break; sleep 0.1; done
[ -e "$reg/host" ] || fail "no register line: $(cat "$tmp/emu.log")"
export FR_HOST_PORT=$reg/host
host() { "$bin/fr-host" "$@" > "$tmp/out" 2>&1 || fail "fr-host $*: $(cat "$tmp/out")"; }
refused() { if "$bin/fr-host" "$@" > "$tmp/out" 2>&1; then fail "fr-host $* was not refused"; fi; }

usb_serial=$tmp/config/usb_gadget/fr-core/strings/0x409/serialnumber
gadget() {
  CONFIGFS=$tmp/config FR_ROOT=$reg FR_UDC=fake-udc.0 FR_IDENTITY_LAYOUT=$bin/../share/fr-core/identity-layout \
    sh "$src/board/fr-usb-gadget" "$@"
}
mkdir -p "$tmp/config/usb_gadget"

refused status                       # a blank board has no serial number yet
grep -qF "CREATE NEW STORAGE FILE " "$reg/log/stdout.log" || fail "no new archive on the blank card"
gadget
[ ! -e "$usb_serial" ] || fail "a blank board's USB serial string is '$(cat "$usb_serial")'"
gadget stop
host set-serial 4200012345
host model
grep -q "serial: 4200012345" "$tmp/out" || fail "serial number not set: $(cat "$tmp/out")"
gadget
[ "$(cat "$usb_serial")" = 4200012345 ] || fail "the USB serial string is '$(cat "$usb_serial")'"

# Service cashier 20: password 30 -> 4321 (rights and name kept).
password_le=$(printf '%08x' 4321 | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/')
host table-write 1 "14ff03${password_le}$(printf '%0512d' 0)"
refused table-read 1 20              # the old password, 30
host --password 4321 table-read 1 20

host --password 4321 register --inn 7701234567 --fn 9999078900012345 --text1 'ООО "Ромашка"' \
  --tax '0;1;2000;НДС 20%'
host --password 4321 open-shift
host --password 4321 sale --line 'Чай;12990;1;1;1' --cash 15000
grep -q "total: 12990" "$tmp/out" || fail "sale: $(cat "$tmp/out")"
for _ in $(seq 50); do grep -lq "ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК" "$reg"/paper/*.txt 2>/dev/null && break; sleep 0.1; done
receipt=$(grep -l "ФИСКАЛЬНЫЙ КАССОВЫЙ ЧЕК" "$reg"/paper/*.txt) || fail "no receipt on the paper"
grep -q "ЗЕЛТА-7ФК 4200012345" "$receipt" || fail "the receipt lacks the serial number: $(cat "$receipt")"
grep -q "^ИТОГО *129.90" "$receipt" || fail "the receipt lacks its total: $(cat "$receipt")"
echo "walkthrough_check: ok"
