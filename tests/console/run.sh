#!/usr/bin/env bash
# The console's browser test: a fresh virtual register, fr-bridge in front
# of it on a free port with an admin and a pos token, then
# tests/console/console_test.mjs in headless chromium against it: the day in
# Russian, then, with the bridge restarted, in English.
#   tests/console/run.sh BIN_DIR OUT_DIR
# OUT_DIR keeps the register (emu/), the bridge's state and log (bridge/)
# and the screenshots (shots/). The exit status is the test's.
set -euo pipefail
emu="" bridge=""
stop() {
  [ -n "$bridge" ] && kill "$bridge" 2>/dev/null
  [ -n "$emu" ] && kill "$emu" 2>/dev/null
  wait 2>/dev/null
  return 0
}
trap stop EXIT
trap 'exit 130' INT TERM

if [ $# -ne 2 ]; then
  echo "usage: $0 BIN_DIR OUT_DIR" >&2
  exit 2
fi
bin=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

# A fresh register every time: an old archive would already be registered.
rm -rf "$out/emu" "$out/bridge" "$out/shots" "$out/day.json"
mkdir -p "$out/emu" "$out/bridge" "$out/shots"

"$bin/fr-emu" "$out/emu" >"$out/emu.log" 2>&1 &
emu=$!
for _ in $(seq 100); do [ -e "$out/emu/host" ] && break; sleep 0.1; done
if [ ! -e "$out/emu/host" ]; then
  echo "console test: fr-emu did not start; see $out/emu.log" >&2
  exit 1
fi

random_token() { od -An -N24 -tx1 /dev/urandom | tr -d ' \n'; }
admin_token=$(random_token)
pos_token=$(random_token)
tokens="$out/bridge/tokens"
printf 'admin %s console-admin\npos %s console-pos\n' "$admin_token" "$pos_token" >"$tokens"
chmod 600 "$tokens"

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Another program may take the port between the pick and the bridge's
# listen: then the bridge exits, and another port is tried. A restart keeps
# the port (the page's address) and the bridge's state.
port=""
start_bridge() {
  local online="" tries=5
  [ -n "$port" ] && tries=30  # the old listener may take a moment to go
  for _ in $(seq "$tries"); do
    [ -n "${1:-}" ] || port=$(free_port)
    "$bin/fr-bridge" --emu "main=$out/emu" --state "$out/bridge" --tokens "$tokens" \
      --listen "127.0.0.1:$port" --log "$out/bridge/bridge.log" 2>>"$out/bridge/stderr.log" &
    bridge=$!
    for _ in $(seq 100); do
      if ! kill -0 "$bridge" 2>/dev/null; then break; fi
      if curl -fsS "http://127.0.0.1:$port/healthz" 2>/dev/null | grep -q '"main":"online"'; then
        online=yes
        break
      fi
      sleep 0.1
    done
    [ -n "$online" ] && return 0
    kill "$bridge" 2>/dev/null || true
    wait "$bridge" 2>/dev/null || true
    bridge=""
    [ -n "${1:-}" ] && sleep 0.2
  done
  echo "console test: the bridge did not come up with the register online; see $out/bridge/" >&2
  exit 1
}

run_test() {
  BASE_URL="http://127.0.0.1:$port" ADMIN_TOKEN="$admin_token" POS_TOKEN="$pos_token" PHASE="$1" DAY_FILE="$out/day.json" \
    EMU_DIR="$out/emu" SHOTS_DIR="$out/shots" FR_ARCHIVE="$bin/fr-archive" node "$here/console_test.mjs"
}

# The day in Russian (the page's first language); the bridge restarted;
# then in English, reading what was stored before the restart. Under set -e
# the script ends with the tests' status, and the EXIT trap stops the bridge
# and the register.
start_bridge
run_test ru
kill "$bridge"
wait "$bridge" 2>/dev/null || true
bridge=""
start_bridge same-port
run_test en
