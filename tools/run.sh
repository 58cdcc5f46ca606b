#!/usr/bin/env bash
# A virtual register and fr-bridge in front of it, until Ctrl-C:
#   tools/run.sh BIN_DIR EMU_DIR STATE_DIR
set -euo pipefail
bin="$1" emu_dir="$2" state="$3"
listen="${FR_LISTEN:-127.0.0.1:8780}"

mkdir -p "$emu_dir" "$state"
"$bin/fr-emu" "$emu_dir" &
emu=$!
bridge=""
stop() {
  [ -n "$bridge" ] && kill "$bridge" 2>/dev/null
  kill "$emu" 2>/dev/null
  wait 2>/dev/null
}
trap stop EXIT INT TERM

# The emulator's line appears once the register runs.
for _ in $(seq 100); do [ -e "$emu_dir/host" ] && break; sleep 0.1; done
"$bin/fr-bridge" --emu "main=$emu_dir" --state "$state" --listen "$listen" --log "$state/bridge.log" &
bridge=$!
sleep 1
echo
echo "fr-bridge: http://$listen/  (register \"main\"; its line is $emu_dir/host)"
echo "token:     the admin line of $state/tokens, sent as 'Authorization: Bearer TOKEN'"
echo "log:       $state/bridge.log; the interface: docs/bridge.md"
wait "$bridge"
