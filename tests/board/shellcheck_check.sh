#!/usr/bin/env bash
# Runs shellcheck over every shell script of the repository: the tracked files
# named *.sh and those whose first line runs sh, bash, dash or ash (the
# board's scripts have no extension). Installs Debian's shellcheck when
# missing.
#   tests/board/shellcheck_check.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v shellcheck > /dev/null; then
  sudo=$([ "$(id -u)" = 0 ] || echo sudo)
  $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q shellcheck
fi
scripts=()
while IFS= read -r -d '' f; do
  [ -f "$f" ] || continue
  if [[ $f == *.sh ]] || head -n 1 "$f" | grep -qE '^#!.*[/ ](ba|da|a)?sh( |$)'; then
    scripts+=("$f")
  fi
done < <(git ls-files -z)
[ "${#scripts[@]}" -gt 0 ] || { echo "FAIL: no shell scripts found" >&2; exit 1; }
echo "shellcheck: ${#scripts[@]} scripts"
shellcheck "${scripts[@]}"
# What runs on a board must also parse under BusyBox ash.
if command -v busybox > /dev/null; then
  for f in board/*; do
    if head -n 1 "$f" | grep -qE '^#!.*[/ ](ba|da|a)?sh( |$)'; then busybox sh -n "$f" || { echo "FAIL: $f under BusyBox ash" >&2; exit 1; }; fi
  done
fi
echo "shellcheck_check: ok"
