#!/usr/bin/env bash
# A register's day on a fresh virtual register: fr-emu in DIR, fr-host as
# the point of sale. Prints the paper and where its pictures are.
# FR_DEMO_HOST is another fr-host to run (a command line: the Windows one
# under wine64, say); FR_DEMO_TCP_PORT has it reach the register through
# fr-emu's TCP port instead of the serial line; FR_DEMO_PORT is another name
# of the line for it (a COM port wine maps to DIR/host, say).
set -euo pipefail
dir=${1:-var/demo}
bin=$(cd "$(dirname "$0")/../build/bin" && pwd)
read -r -a fr_host <<< "${FR_DEMO_HOST:-$bin/fr-host}"
rm -rf "$dir"
mkdir -p "$dir"
"$bin/fr-emu" "$dir" ${FR_DEMO_TCP_PORT:+--tcp "$FR_DEMO_TCP_PORT"} > "$dir.emu.log" 2>&1 &
emu=$!
trap 'kill -TERM $emu 2>/dev/null; wait $emu 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -e "$dir/host" ] && break; sleep 0.1; done
export FR_HOST_PORT=${FR_DEMO_TCP_PORT:+tcp://127.0.0.1:$FR_DEMO_TCP_PORT}
export FR_HOST_PORT=${FR_HOST_PORT:-${FR_DEMO_PORT:-$dir/host}}
# fr-host waits by itself when a document comes in the same second as the
# last one (the register takes one a second).
host() { echo "\$ fr-host $*"; "${fr_host[@]}" "$@"; }
refused() { echo "\$ fr-host $*   (refused on purpose)"; if "${fr_host[@]}" "$@"; then return 1; fi; }

host version
host set-serial 4200012345
host register --inn 7701234567 --fn 9999078900012345 \
  --text1 'ООО "Ромашка"' --text2 'ул. Лесная, 1' --text3 'Москва' \
  --tax '0;1;2000;НДС 20%' --tax '1;1;1000;НДС 10%'
# Discount 1: 5 per cent, written into the discount table.
name=$(printf 'СКИДКА 5%%' | iconv -f UTF-8 -t CP866 | od -An -tx1 | tr -d ' \n')
image="0101000000f401000000000000${name}"
image=$(printf '%-282s' "$image" | tr ' ' 0)
host table-write 3 "$image"
host open-shift
refused open-shift
host sale --line 'Чай;12990;1;1;1;1' --line 'Хлеб;4550;2;2;1' --cash 15000 --cashless 10000
host return-sale --line 'Хлеб;4550;1;2;1'
host cash-in 50000
host purchase --line 'Тара;1000;3;1;1' --cash 3000
refused cash-out 99999999
host cash-out 20000
host report 1
host cash-out all
host close-shift
sleep 0.5
echo
echo "paper:"
cat "$dir"/paper/*.txt
echo
echo "pictures of the paper:"
ls "$dir"/paper/*.html "$dir"/paper/*.png
