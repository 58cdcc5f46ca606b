#!/usr/bin/env bash
# Builds every libFuzzer target into build-fuzz/ and runs each for SECONDS
# (default 20) on a scratch copy of its seed corpus. Exits non-zero when any
# target fails to build, crashes, leaks or prints a sanitizer report.
set -u
SECONDS_PER_TARGET="${1:-20}"
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$ROOT/build-fuzz"
CXX="${CXX:-clang++}"
# httplib's own flags too: its classes must be laid out as the library was built.
read -r -a HTTPLIB_FLAGS <<< "$(pkg-config --cflags cpp-httplib)"
FLAGS=(-std=c++17 -g -O1 "-fsanitize=fuzzer,address,undefined"
       -fno-sanitize-recover=undefined -I"$ROOT" -D_FILE_OFFSET_BITS=64 "${HTTPLIB_FLAGS[@]}")

# Project sources (no tests, no main), with the host's framing that link_fuzz
# reads the replies with. Each target links all of them so the lists cannot
# drift apart between targets.
SOURCES=(
  util/coding.cpp util/cp866.cpp util/crc.cpp
  platform/env.cpp platform/board_env.cpp platform/posix_env.cpp platform/sandbox_env.cpp platform/fake_env.cpp
  serial/serialport.cpp serial/serialport_posix.cpp
  link/host_link.cpp
  host/frame.cpp host/protocol.cpp host/names.cpp host/status.cpp host/client.cpp host/host_line.cpp
  host/port.cpp host/port_posix.cpp host/clock_posix.cpp
  host/session.cpp
  host/model/document.cpp
  bridge/request.cpp bridge/uplink_message.cpp
  tools/common/archive_check.cpp tools/common/print_decoder.cpp tools/common/cp866_text_posix.cpp
  tools/archive/archive_tool.cpp
  app/base_worker.cpp app/config_worker.cpp app/core_link_state.cpp app/core_worker.cpp
  app/codes.cpp app/eeprom_tool.cpp app/fr_status.cpp app/identity.cpp app/version.cpp
  documents/base_document.cpp documents/decimal.cpp documents/document_factory.cpp
  documents/receipt_doc.cpp documents/receipt_operation.cpp
  documents/registration_documents.cpp documents/shift_documents.cpp documents/tlv_element.cpp
  storage/eeprom.cpp storage/fiscal_archive.cpp storage/model_data.cpp storage/reg_data.cpp
  storage/sd_card.cpp storage/signature.cpp storage/tables.cpp storage/tax_rate.cpp
  workers/counters.cpp workers/documents_worker.cpp workers/reports_worker.cpp
  printer/print_layout.cpp printer/printer_line.cpp printer/printer_settings.cpp
  printer/render.cpp printer/shared_blocks.cpp
)
# The bridge's server side, linked only into the target of its HTTP front.
HTTP_SOURCES=(
  bridge/server.cpp bridge/door.cpp bridge/events.cpp bridge/journal.cpp bridge/metrics.cpp
  bridge/log.cpp bridge/worker.cpp bridge/answer.cpp bridge/console.cpp
  bridge/net_posix.cpp bridge/tls_openssl.cpp bridge/files_posix.cpp bridge/crypto_openssl.cpp
  host/preview/preview.cpp
)
read -r -a HTTP_LIBS <<< "$(pkg-config --libs cpp-httplib) -lsqlite3 -lssl -lcrypto"
# FUZZ_TARGETS="a b" narrows the set, e.g. while working on one target.
# Every target is named in fuzz/targets.txt.
read -r -a TARGETS <<< "${FUZZ_TARGETS:-$(tr '\n' ' ' < "$ROOT/fuzz/targets.txt")}"

mkdir -p "$OUT/obj"
# True when the object is missing or older than its source or any header it
# included (a class that grew a member must not meet objects of its old size).
stale() {
  local obj="$1" dep
  [ -f "$obj" ] && [ -f "$obj.d" ] || return 0
  # A dependency file lists its headers as words, several to a line.
  # shellcheck disable=SC2013
  for dep in $(sed -e 's/^[^:]*://' -e 's/\\$//' "$obj.d"); do
    [ "$dep" -nt "$obj" ] && return 0
  done
  return 1
}

# Compile the project once; the objects are shared by every target.
OBJS=()
HTTP_OBJS=()
for src in "${SOURCES[@]}" "${HTTP_SOURCES[@]}"; do
  obj="$OUT/obj/$(echo "$src" | tr '/' '_').o"
  if stale "$obj"; then
    rm -f "$obj"  # a failed compile must not leave a stale object behind
    "$CXX" "${FLAGS[@]}" -fsanitize=fuzzer-no-link -MMD -MF "$obj.d" -c "$ROOT/$src" -o "$obj" &
  fi
  case " ${HTTP_SOURCES[*]} " in
    *" $src "*) HTTP_OBJS+=("$obj") ;;
    *) OBJS+=("$obj") ;;
  esac
done
wait
for obj in "${OBJS[@]}" "${HTTP_OBJS[@]}"; do
  [ -f "$obj" ] || { echo "build failed: $obj"; exit 1; }
done

status=0
for t in "${TARGETS[@]}"; do
  [ -f "$ROOT/fuzz/$t.cpp" ] || continue
  extra=()
  [ "$t" = bridge_http_fuzz ] && extra=("${HTTP_OBJS[@]}" "${HTTP_LIBS[@]}")
  if ! "$CXX" "${FLAGS[@]}" "$ROOT/fuzz/$t.cpp" "${OBJS[@]}" "${extra[@]}" -lpthread -o "$OUT/$t"; then
    echo "$t: build failed"; status=1; continue
  fi
done

for t in "${TARGETS[@]}"; do
  [ -x "$OUT/$t" ] || continue
  work="$OUT/work/$t"
  rm -rf "$work"; mkdir -p "$work/corpus" "$work/artifacts"
  cp -r "$ROOT/fuzz/corpus/$t/." "$work/corpus/" 2>/dev/null || true
  log="$OUT/$t.log"
  (cd "$work" && "$OUT/$t" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 \
      -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus" >"$log" 2>&1)
  rc=$?
  runs=$(grep -o 'Done [0-9]* runs' "$log" | tail -1 | awk '{print $2}')
  crashes=$(find "$work/artifacts" -type f | wc -l)
  if [ $rc -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$log"; then
    [ "$crashes" -eq 0 ] && crashes=1
  fi
  echo "$t: ${runs:-0} execs, crashes: $crashes"
  if [ "$crashes" -ne 0 ]; then
    status=1
    echo "  log: $log"
    grep -m3 -E 'ERROR|runtime error' "$log" | sed 's/^/  /'
    for a in "$work"/artifacts/*; do [ -f "$a" ] && echo "  $a: $(xxd -p "$a" | tr -d '\n' | cut -c1-400)"; done
  fi
done
exit $status
