#!/usr/bin/env bash
# Installs tests/node's pinned packages (npm ci) when they are missing or
# older than the lock file; nothing is fetched otherwise.
set -euo pipefail
node_dir="$(cd "$(dirname "$0")" && pwd)"
# npm writes this file last: it is there and newer only after a full install.
installed=$node_dir/node_modules/.package-lock.json
if [[ ! -f $installed || $node_dir/package-lock.json -nt $installed || $node_dir/package.json -nt $installed ]]; then
  npm ci --prefix "$node_dir" --no-audit --no-fund
fi
