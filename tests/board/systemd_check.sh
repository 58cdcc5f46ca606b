#!/usr/bin/env bash
# The systemd units as installed, checked by systemd-analyze verify (their
# commands must exist, so they are installed under a temporary prefix):
#   tests/board/systemd_check.sh CROSS_BUILD_DIR
# Skipped, with a message, where systemd-analyze is missing.
set -euo pipefail
build=$(cd "${1:?usage: systemd_check.sh CROSS_BUILD_DIR}" && pwd)
if ! command -v systemd-analyze > /dev/null; then
  echo "systemd_check: skipped, no systemd-analyze here"
  exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/fr" > /dev/null
units=$tmp/fr/lib/systemd/system
# Warnings go to the output with status 0; any of them fails the check.
if ! systemd-analyze verify --man=no "$units/fr-core.service" "$units/fr-usb-gadget.service" \
     > "$tmp/verify.log" 2>&1 || [ -s "$tmp/verify.log" ]; then
  echo "FAIL: systemd-analyze verify:" >&2
  cat "$tmp/verify.log" >&2
  exit 1
fi
grep -qx 'Restart=always' "$units/fr-core.service" || { echo "FAIL: fr-core.service is not restarted always" >&2; exit 1; }
echo "systemd_check: ok"
