#!/usr/bin/env bash
# What the device's work costs, in numbers that do not depend on the load of
# the machine:
#   - instructions (callgrind's Ir) of a whole register's day and of one
#     ten-line receipt, counted inside the command core only
#     (CoreWorker::initialise and CoreWorker::dispatch) by bench/cost_day,
#     which runs the core in one thread with a fake clock and a printer line
#     that answers at once: no pause and no printer wait is in them. The
#     same build gives the same numbers, run after run.
#   - fr-core's peak memory (VmHWM): the real program on a virtual register
#     (fr-emu), driven by fr-host through a day, then started on a board
#     with a full archive (fr-archive-gen) and asked for its longest reports.
# The full board is made once under BUILD_DIR/boards (half a minute) and
# shared with the benchmarks; the runs here work on copies of it.
#
# usage: tools/cost.sh [BUILD_DIR]     (make cost BUILD=...)
# The callgrind profiles stay in BUILD_DIR/cost/*.out for callgrind_annotate.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
jobs=${JOBS:-2}
work=$build/cost
bin=$build/bin

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" --target cost_day fr-core fr-emu fr-host fr-archive-gen >/dev/null
mkdir -p "$work"

# The board with a full archive the benchmarks share (bench/bench_boards.h).
board=$build/boards/board-250000
if [ ! -e "$board/mnt/sd/V0XD24TX" ]; then
  echo "making a board with a full archive (fr-archive-gen) ..."
  rm -rf "$board.making"
  "$bin/fr-archive-gen" "$board.making" | sed 's/^/  /'
  mv "$board.making" "$board"
fi

# ---- instructions ------------------------------------------------------------

# Nothing of the caller's environment, no address randomisation: both move
# buffers across alignments that the C library's string functions count.
quiet_run() { env -i PATH=/usr/bin:/bin "$@"; }
start_up='--toggle-collect=CoreWorker::initialise*'
commands='--toggle-collect=CoreWorker::dispatch*'
callgrind() {  # OUT TOGGLES... -- ARGS...
  local out=$1 toggles=()
  shift
  while [ "$1" != -- ]; do toggles+=("$1"); shift; done
  shift
  quiet_run setarch "$(uname -m)" -R valgrind --tool=callgrind --callgrind-out-file="$out" \
    "${toggles[@]}" "$@" > "$out.log" 2>&1 || { cat "$out.log"; exit 1; }
}
total() { awk '/^totals:/ { print $2 }' "$1"; }
# Inclusive instructions of one function of the device code (0 when absent).
inclusive() {  # OUT FUNCTION
  callgrind_annotate --inclusive=yes --threshold=100 "$1" 2>/dev/null |
    awk -v f="$2" 'index($0, f) { gsub(",", "", $1); if ($1 + 0 > max) max = $1 + 0 } END { print max + 0 }'
}
thousands() { echo "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }
row() { printf '  %-58s %12s\n' "$1" "$(thousands "$2")"; }

# The boards live at fixed paths: their path is among what is counted.
rm -rf "$work/day"
callgrind "$work/day.out" "$start_up" "$commands" -- "$bin/cost_day" "$work/day" day
rm -rf "$work/receipt"
quiet_run "$bin/cost_day" "$work/receipt" setup > /dev/null
callgrind "$work/receipt.out" "$commands" -- "$bin/cost_day" "$work/receipt" receipt
rm -rf "$work/full"
cp -a "$board" "$work/full"
callgrind "$work/full.out" "$start_up" "$commands" -- "$bin/cost_day" "$work/full" full

echo "instructions (callgrind Ir inside CoreWorker::initialise and ::dispatch)"
row "register day: $(sed -n 's/^cost_day day: \([0-9]*\) commands, last document \([0-9]*\).*/\1 commands, \2 documents/p' "$work/day.out.log")" "$(total "$work/day.out")"
row "  start-up (CoreWorker::initialise)" "$(inclusive "$work/day.out" 'CoreWorker::initialise()')"
row "  the archive (FiscalArchive::store)" "$(inclusive "$work/day.out" 'FiscalArchive::store(')"
row "  the reports (ReportsWorker::handle)" "$(inclusive "$work/day.out" 'ReportsWorker::handle(')"
row "  print layout (printer::render)" "$(inclusive "$work/day.out" 'printer::render[abi:cxx11](std::vector')"
row "one 10-line receipt: open, 10 lines, close (12 commands)" "$(total "$work/receipt.out")"
row "  the store (FiscalArchive::store)" "$(inclusive "$work/receipt.out" 'FiscalArchive::store(')"
row "  the lines (DocumentsWorker::add, 10 commands)" "$(inclusive "$work/receipt.out" 'DocumentsWorker::add(')"
row "  print layout (printer::render)" "$(inclusive "$work/receipt.out" 'printer::render[abi:cxx11](std::vector')"
row "full archive (250000 documents): start-up" "$(inclusive "$work/full.out" 'CoreWorker::initialise()')"
row "  period report over all of it (177 kind 5)" "$(inclusive "$work/full.out" 'ReportsWorker::periodReport(')"
row "  shift-range report over all shifts (177 kind 6)" "$(inclusive "$work/full.out" 'ReportsWorker::shiftRangeReport(')"

# ---- peak memory of the real fr-core -----------------------------------------

emu=""
stop_emu() {
  if [ -n "$emu" ]; then
    kill -TERM "$emu" 2>/dev/null || true
    wait "$emu" 2>/dev/null || true
    emu=""
  fi
}
trap stop_emu EXIT

start_emu() {  # DIR
  "$bin/fr-emu" "$1" > "$1.emu.log" 2>&1 &
  emu=$!
  for _ in $(seq 100); do [ -e "$1/host" ] && break; sleep 0.1; done
  export FR_HOST_PORT=$1/host
  core=""
  for _ in $(seq 50); do
    core=$(cat /proc/"$emu"/task/*/children 2>/dev/null | tr ' ' '\n' | grep -m1 . || true)
    [ -n "$core" ] && "$bin/fr-host" version > /dev/null 2>&1 && break
    sleep 0.1
  done
  [ -n "$core" ] || { echo "fr-core did not start in $1"; cat "$1.emu.log"; exit 1; }
}
hwm() { awk '/^VmHWM/ { print $2 }' /proc/"$core"/status; }
h() { "$bin/fr-host" "$@" > /dev/null || { echo "fr-host $* failed"; exit 1; }; }
next() { sleep 1.05; }  # a document's time must be later than the last one's

dir=$work/emu-day
rm -rf "$dir" "$dir.emu.log"
mkdir -p "$dir"
start_emu "$dir"
started=$(hwm)
h set-serial 4200012345
h register --inn 7701234567 --fn 9999078900012345 --text1 'ООО "Ромашка"' --text2 'ул. Лесная, 1' \
  --text3 'Москва' --tax '0;1;2000;НДС 20%' --tax '1;1;1000;НДС 10%'
next; h open-shift
next; h cash-in 500000
ten=()
for item in 'Хлеб;5490;1;2;1' 'Молоко;8990;2;2;1' 'Сыр;65000;0.350;2;1' 'Масло;18990;1;2;1' \
            'Сахар;6500;1;2;1' 'Чай;25990;1;1;1' 'Кофе;38900;1;1;1' 'Яблоки;12900;1.240;2;1' \
            'Шоколад;8990;3;1;1' 'Пакет;500;1;1;1'; do
  ten+=(--line "$item")
done
for _ in $(seq 8); do next; h sale "${ten[@]}"; done
next; h sale --line 'Чай;25990;1;1;1' --cashless 25990
next; h return-sale --line 'Хлеб;5490;1;2;1'
next; h cash-out 100000
h report 1
h copy 5
h tape
drawer=$("$bin/fr-host" --json shift-status | sed -n 's/.*"drawer":\([0-9]*\).*/\1/p')
next; h cash-out "$drawer"
next; h close-shift
day_hwm=$(hwm)
stop_emu

dir=$work/emu-full
rm -rf "$dir" "$dir.emu.log"
cp -a "$board" "$dir"
start_emu "$dir"
full_started=$(hwm)
shifts=$("$bin/fr-host" --json shift-status | sed -n 's/.*"shift":\([0-9]*\).*/\1/p')
h report 5 0 4000000000
h report 6 1 "$shifts"
h copy 123456
full_hwm=$(hwm)
stop_emu

echo "peak resident memory of fr-core (VmHWM)"
printf '  %-56s %6s kB\n' "fresh board, after start-up" "$started" \
  "fresh board, after a day (16 documents, X, copy, tape)" "$day_hwm" \
  "full archive (250000 documents), after start-up" "$full_started" \
  "full archive, after period and shift-range reports" "$full_hwm"
