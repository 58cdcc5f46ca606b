#!/usr/bin/env bash
# board/fr-usb-gadget against a directory standing for configfs (the kernel
# would make the attribute files; here the writes simply land):
#   tests/board/gadget_check.sh
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

export CONFIGFS=$tmp/config FR_SETTINGS=$tmp/settings
gadget=$CONFIGFS/usb_gadget/fr-core
if sh "$src/board/fr-usb-gadget" 2>/dev/null; then fail "ran without a configfs gadget directory"; fi

mkdir -p "$CONFIGFS/usb_gadget"
FR_UDC=fake-udc.0 FR_USB_VID=0x1234 FR_USB_PID=0x5678 FR_USB_SERIAL=4200012345 \
  sh "$src/board/fr-usb-gadget"
expect() { [ "$(cat "$gadget/$1")" = "$2" ] || fail "$1 holds '$(cat "$gadget/$1")', not '$2'"; }
expect idVendor 0x1234
expect idProduct 0x5678
expect strings/0x409/serialnumber 4200012345
expect UDC fake-udc.0
[ -d "$gadget/functions/acm.GS0" ] || fail "no ACM function"
[ "$(readlink -f "$gadget/configs/c.1/acm.GS0")" = "$(readlink -f "$gadget/functions/acm.GS0")" ] ||
  fail "the configuration does not hold the ACM function"

# Bound already: nothing is rewritten.
FR_UDC=other-udc FR_USB_VID=0x9999 sh "$src/board/fr-usb-gadget" 2>/dev/null
expect UDC fake-udc.0
expect idVendor 0x1234

sh "$src/board/fr-usb-gadget" stop
expect UDC ""
# Bound again with the default (development) ids.
FR_UDC=fake-udc.0 sh "$src/board/fr-usb-gadget"
expect idVendor 0x1d6b
expect idProduct 0x0104
expect UDC fake-udc.0

# The board's settings file serves this script too.
sh "$src/board/fr-usb-gadget" stop
printf 'FR_USB_SERIAL=4200099999\n' > "$FR_SETTINGS"
FR_UDC=fake-udc.0 sh "$src/board/fr-usb-gadget"
expect strings/0x409/serialnumber 4200099999
rm "$FR_SETTINGS"

# A controller whose driver comes late is waited for; none at all is an
# error once the wait is up.
sh "$src/board/fr-usb-gadget" stop
mkdir "$tmp/udc"
if FR_UDC_DIR=$tmp/udc FR_UDC_WAIT=1 sh "$src/board/fr-usb-gadget" 2>"$tmp/none.err"; then fail "bound without a controller"; fi
grep -q "no USB device controller in $tmp/udc after 1 s" "$tmp/none.err" || fail "no word of the missing controller"
FR_UDC_DIR=$tmp/udc FR_UDC_WAIT=20 sh "$src/board/fr-usb-gadget" 2>/dev/null &
late=$!
sleep 1.5
touch "$tmp/udc/late-udc.0"
wait "$late" || fail "the late controller was not bound"
expect UDC late-udc.0
echo "gadget_check: ok"
