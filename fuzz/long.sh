#!/usr/bin/env bash
# The long fuzz run: every target until RUNS executions (default 10 million)
# or HOURS hours (default 2), whichever comes first, each growing a scratch
# copy of its seeds. Afterwards the inputs that reached code the kept seeds do
# not are merged into fuzz/corpus/<target>, so the kept corpus stays minimal.
# FUZZ_TARGETS narrows the set as in run.sh. Findings stop the merge of that
# target and are listed; keep one as a seed once it is fixed.
set -u
RUNS="${RUNS:-10000000}"
HOURS="${HOURS:-2}"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$ROOT/build-fuzz"
# Every target is named in fuzz/targets.txt.
read -r -a TARGETS <<< "${FUZZ_TARGETS:-$(tr '\n' ' ' < "$ROOT/fuzz/targets.txt")}"

# run.sh builds the targets (a one-second run each proves they start);
# NO_BUILD=1 skips that when two runs share one set of binaries.
if [ -z "${NO_BUILD:-}" ]; then
  FUZZ_TARGETS="${TARGETS[*]}" bash "$ROOT/fuzz/run.sh" 1 >/dev/null || { echo "build or smoke run failed"; exit 1; }
fi

status=0
for t in "${TARGETS[@]}"; do
  work="$OUT/long/$t"
  rm -rf "$work"; mkdir -p "$work/corpus" "$work/artifacts"
  cp -r "$ROOT/fuzz/corpus/$t/." "$work/corpus/"
  log="$OUT/long/$t.log"
  start=$(date +%s)
  (cd "$work" && "$OUT/$t" -runs="$RUNS" -max_total_time=$((HOURS * 3600)) -rss_limit_mb=2048 \
      -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus" >"$log" 2>&1)
  rc=$?
  runs=$(grep -o 'Done [0-9]* runs' "$log" | tail -1 | awk '{print $2}')
  found=$(find "$work/artifacts" -type f | wc -l)
  if [ $rc -ne 0 ] || [ "$found" -ne 0 ]; then
    status=1
    echo "$t: FINDING after $(( $(date +%s) - start )) s, log $log"
    find "$work/artifacts" -type f | sed 's/^/  /'
    continue
  fi
  before=$(find "$ROOT/fuzz/corpus/$t" -type f | wc -l)
  "$OUT/$t" -merge=1 "$ROOT/fuzz/corpus/$t" "$work/corpus" >"$work/merge.log" 2>&1
  after=$(find "$ROOT/fuzz/corpus/$t" -type f | wc -l)
  echo "$t: ${runs:-0} execs in $(( $(date +%s) - start )) s, 0 findings, kept corpus $before -> $after inputs"
done
exit $status
