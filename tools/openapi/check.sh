#!/usr/bin/env bash
# Lints docs/bridge-openapi.json, then holds it to what fr-bridge serves:
#   tools/openapi/check.sh [--routes FILE] [--responses FILE.jsonl]
# (the arguments go to check.py). The only download is the npm install of
# tests/node when its packages are missing or older than its lock file.
set -euo pipefail
cd "$(dirname "$0")/../.."

node_dir=tests/node
bash "$node_dir/install.sh"

# No usage report and no update check: nothing leaves the machine.
REDOCLY_TELEMETRY=off REDOCLY_SUPPRESS_UPDATE_NOTICE=true \
  "$node_dir/node_modules/.bin/redocly" lint --config "$node_dir/redocly.yaml" docs/bridge-openapi.json

# Debian's python3-jsonschema serves /usr/bin/python3; another python3 first
# on PATH may lack it.
python=python3
if ! "$python" -c 'import jsonschema' 2>/dev/null; then
  python=/usr/bin/python3
fi
if ! "$python" -c 'import jsonschema' 2>/dev/null; then
  echo "check.sh: jsonschema is missing: apt-get install python3-jsonschema" >&2
  exit 1
fi
exec "$python" tools/openapi/check.py docs/bridge-openapi.json "$@"
