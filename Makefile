# Two entry points on a fresh Debian machine: `make demo` and `make test`.
# Both install the Debian packages that are missing, and only those.

BUILD ?= build
JOBS ?= $(shell nproc)
PACKAGES = cmake make g++ pkg-config libgtest-dev libgmock-dev libcairo2-dev nlohmann-json3-dev \
           libcxxopts-dev fonts-dejavu-core libcpp-httplib-dev libsqlite3-dev libssl-dev \
           libmosquitto-dev mosquitto libpq-dev postgresql

.PHONY: all build deps configure test check windows msi windows-check format-check openapi console board-check install tarball sanitize fuzz fuzz-long coverage mutants demo run bench cost cross clean

all: build

# Installs those of the Debian packages $(1) that are missing.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

configure:
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every test: the suite (unit, end-to-end, ThreadSanitizer), the bridge's
# interface document against what the suite was answered, the console in a
# browser, the suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# each fuzz target briefly, the ARM build with its tests under qemu-arm, and
# the board kit's checks.
TEST_FUZZ_SECONDS ?= 10
test: check
	$(MAKE) openapi
	$(MAKE) console
	$(MAKE) sanitize
	$(MAKE) fuzz FUZZ_SECONDS=$(TEST_FUZZ_SECONDS)
	$(MAKE) cross
	$(MAKE) board-check
	$(MAKE) windows-check

# The suite alone: what to run while working. The bridge's tests keep every
# answer they get in $(BUILD)/bridge-answers.jsonl for `make openapi`.
ANSWERS = $(abspath $(BUILD))/bridge-answers.jsonl
check: deps format-check
	$(MAKE) build
	rm -f $(ANSWERS)
	cd $(BUILD) && FR_BRIDGE_RECORD=$(ANSWERS) ctest --output-on-failure -j $(JOBS)

# The host side's sources (host/, bridge/, tools/) as .clang-format writes
# them; the device folders keep their own layout.
format-check:
	@command -v clang-format >/dev/null || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang-format; }
	clang-format --dry-run --Werror $$(find host bridge tools -name '*.cpp' -o -name '*.h' | sort)

# docs/bridge-openapi.json: a valid document (Redocly, from npm, pinned in
# tests/node), every route fr-bridge serves in it, and every answer the last
# `make check` recorded matching its schema.
openapi: deps
	@command -v npm >/dev/null || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q nodejs npm; }
	@dpkg-query -W -f='$${Status}' python3-jsonschema 2>/dev/null | grep -q 'install ok installed' || \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q python3-jsonschema; }
	$(MAKE) build
	$(BUILD)/bin/fr-bridge --routes > $(BUILD)/bridge-routes.txt
	@[ -s $(ANSWERS) ] || { echo "no recorded answers: run make check first"; exit 1; }
	bash tools/openapi/check.sh --routes $(BUILD)/bridge-routes.txt --responses $(ANSWERS)

# The console in a real browser: Playwright's playwright-core (pinned in
# tests/node) drives Debian's chromium against fr-bridge and fr-emu;
# screenshots of its main states land in $(BUILD)/console/shots/.
console: deps
	@command -v npm >/dev/null || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q nodejs npm; }
	@[ -x /usr/bin/chromium ] || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q chromium; }
	@command -v curl >/dev/null || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q curl; }
	bash tests/node/install.sh
	$(MAKE) build
	bash tests/console/run.sh $(BUILD)/bin $(BUILD)/console

# The board kit (board/, docs/board.md): the ARM build installed into
# DESTDIR under PREFIX, or packed for a board image's build; board-check runs
# every shell script through shellcheck and the kit's checks on a sandbox
# board (never the machine's own clock, mounts or init); fr-start under
# dash and under BusyBox ash.
PREFIX ?= /usr
install: cross
	DESTDIR=$(if $(DESTDIR),$(abspath $(DESTDIR))) cmake --install $(CROSS) --prefix $(PREFIX)
tarball: cross
	sh board/tarball.sh $(CROSS) $(PREFIX)
board-check: deps
	@command -v shellcheck >/dev/null || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q shellcheck; }
	@command -v busybox >/dev/null || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q busybox; }
	$(MAKE) build
	@[ -x $(CROSS)/bin/fr-core ] || $(MAKE) cross
	bash tests/board/shellcheck_check.sh
	bash tests/board/gadget_check.sh
	bash tests/board/start_check.sh $(BUILD)/bin
	FR_TEST_SHELL=busybox bash tests/board/start_check.sh $(BUILD)/bin
	bash tests/board/walkthrough_check.sh $(BUILD)/bin
	bash tests/board/install_check.sh $(CROSS)
	bash tests/board/update_check.sh $(CROSS)
	bash tests/board/systemd_check.sh $(CROSS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (the
# ThreadSanitizer tests are part of the main build). End-to-end tests get a
# second try: the sanitizers slow the device's replies; fewer power cuts keep
# that test inside its time limit, and the soak test judges replies and
# descriptors only (the sanitizer's quarantine makes resident memory grow).
sanitize: deps
	@[ -f $(BUILD)-asan/CMakeCache.txt ] || cmake -S . -B $(BUILD)-asan -DFR_SANITIZE=address,undefined
	cmake --build $(BUILD)-asan -j $(JOBS) --target unit_tests e2e_tests fr-core fr-emu fr-host fr-bridge
	cd $(BUILD)-asan && LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp FR_POWER_CUTS=40 FR_SOAK_RSS_SLACK_KIB=-1 \
	  ctest --output-on-failure -j $(JOBS) --repeat until-pass:2

# Line and branch coverage of the device code (gcovr, a Debian package) from
# the whole suite, end-to-end tests included, in $(BUILD)-cov; throw
# branches left out. The report: $(BUILD)-cov/coverage/index.html.
COVERAGE_DIRS = app link serial documents storage workers printer platform util
coverage: deps
	@dpkg-query -W -f='$${Status}' gcovr 2>/dev/null | grep -q 'install ok installed' || \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q gcovr; }
	@[ -f $(BUILD)-cov/CMakeCache.txt ] || cmake -S . -B $(BUILD)-cov -DFR_COVERAGE=ON
	cmake --build $(BUILD)-cov -j $(JOBS) --target unit_tests e2e_tests fr-core fr-emu fr-host fr-bridge
	find $(BUILD)-cov -name '*.gcda' -delete
	cd $(BUILD)-cov && ctest -j $(JOBS) --output-on-failure --repeat until-pass:2
	mkdir -p $(BUILD)-cov/coverage
	gcovr -r . $(BUILD)-cov $(foreach d,$(COVERAGE_DIRS),--filter '$(d)/') --exclude '.*_test\.cpp' --exclude '.*_test_(fixture|util)\.h' \
	  --exclude 'platform/fake_.*' --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
	  --html-details $(BUILD)-cov/coverage/index.html --txt $(BUILD)-cov/coverage/summary.txt --print-summary

# Each fault of tools/mutants/mutants.txt planted in turn, the suite run
# against it in $(BUILD)-mut; reports which were caught. Long: not part of
# `make test`. MUTANTS_ONLY=TEXT runs those whose name holds TEXT.
mutants: deps
	python3 tools/mutants/run.py $(BUILD)-mut $(if $(MUTANTS_ONLY),--only '$(MUTANTS_ONLY)')

# Every fuzz target for FUZZ_SECONDS each (needs clang and its runtime).
FUZZ_SECONDS ?= 20
fuzz:
	@dpkg-query -W -f='$${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed' || \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang libclang-rt-14-dev; }
	bash fuzz/run.sh $(FUZZ_SECONDS)

# The long run: each target to RUNS executions or HOURS hours, its corpus
# grown and merged back minimal into fuzz/corpus/ (fuzz/long.sh).
fuzz-long:
	@dpkg-query -W -f='$${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed' || \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang libclang-rt-14-dev; }
	bash fuzz/long.sh

# A shop's first minutes: only the programs these two run are built.
DEMO_PROGRAMS = fr-core fr-emu fr-host
RUN_PROGRAMS = fr-core fr-emu fr-bridge
demo: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target $(DEMO_PROGRAMS)
	bash tools/demo.sh var/demo

# A virtual register (fr-emu in var/run) with fr-bridge in front of it on
# http://127.0.0.1:8780/ (state and token in var/bridge); Ctrl-C stops both.
run: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_PROGRAMS)
	bash tools/run.sh $(BUILD)/bin var/run var/bridge

# Every benchmark program (Google Benchmark). The first run makes a board with
# a full archive under $(BUILD)/boards (half a minute); delete it after a
# change to the archive format. BENCH_ARGS go to each program, for instance
# BENCH_ARGS=--benchmark_filter=Report. docs/performance.md has the figures.
BENCH_ARGS ?=
bench: deps
	@dpkg-query -W -f='$${Status}' libbenchmark-dev 2>/dev/null | grep -q 'install ok installed' || \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q libbenchmark-dev; }
	cmake -S . -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@for b in $(BUILD)/bin/*_bench; do echo "== $$b"; $$b $(BENCH_ARGS) || exit 1; done

# Instruction counts of a register's day and of one receipt (callgrind), and
# fr-core's peak memory through a day and on a full archive: tools/cost.sh.
cost: deps
	@dpkg-query -W -f='$${Status}' valgrind 2>/dev/null | grep -q 'install ok installed' || \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q valgrind; }
	JOBS=$(JOBS) bash tools/cost.sh $(BUILD)

# The board's build: a static fr-core and its unit tests for 32-bit ARM in
# $(CROSS), run under qemu-arm; then end-to-end tests of the host build drive
# that fr-core (FR_CORE names a script that runs it under qemu-arm).
# Skipped under qemu: tests decoding printed text with iconv (a static ARM
# program finds no CP866 converter on the PC) and those reading exact speeds
# back through termios2 (qemu-user has none).
CROSS ?= $(BUILD)-arm
CROSS_PACKAGES = g++-arm-linux-gnueabihf qemu-user libgtest-dev
CROSS_UNIT_SKIP = Cp866Test.EveryByteMatchesTheCLibraryAndRoundTrips:ReportsWorkerTest.*:$\
  SerialPortTest.SpeedIsExactThroughBother:SerialPortTest.StaleInputSpeedIsCleared:$\
  SerialPortTest.SpeedCodeOutsideTableThrows:SerialPortTest.SettersReconfigureOpenPort
CROSS_E2E ?= Modes/HostLineTest.*:IdentityLineTest.*:ArchiveLineTest.*:EepromModeTest.*:$\
  CommandCoreLineTest.*:ConfigLineTest.*:RegisterDayTest.*:ProtocolDocTest.EveryExampleIsWhatTheRegisterAnswers
cross: deps
	$(call install_missing,$(CROSS_PACKAGES))
	@[ -f $(CROSS)/CMakeCache.txt ] || \
	  cmake -S . -B $(CROSS) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/arm-linux-gnueabihf.cmake
	cmake --build $(CROSS) -j $(JOBS) --target fr-core unit_tests
	qemu-arm $(CROSS)/bin/unit_tests --gtest_brief=1 --gtest_filter='-$(CROSS_UNIT_SKIP)'
	$(MAKE) configure
	cmake --build $(BUILD) -j $(JOBS) --target e2e_tests
	printf '#!/bin/sh\nexec qemu-arm %s "$$@"\n' $(abspath $(CROSS))/bin/fr-core > $(CROSS)/bin/fr-core-qemu
	chmod +x $(CROSS)/bin/fr-core-qemu
	FR_CORE=$(abspath $(CROSS))/bin/fr-core-qemu $(BUILD)/bin/e2e_tests --gtest_brief=1 \
	  --gtest_filter='$(CROSS_E2E)'

# The till's Windows programs (x86-64, static): fr-bridge.exe, fr-host.exe
# and fr-archive.exe in $(WIN)/bin, cross-built with Debian's mingw-w64; the
# libraries they compile in are fetched first (cmake/windows-deps.sh), the
# build downloads nothing. make msi packs the bridge's installer with wixl;
# make windows-check runs them under wine64 (tests/windows/).
WIN ?= $(BUILD)-win
WIN_PACKAGES = g++-mingw-w64-x86-64-posix wine64 msitools wixl dpkg-dev curl python3
WIN_PROGRAMS = fr-bridge fr-host fr-archive
windows: deps
	$(call install_missing,$(WIN_PACKAGES))
	@command -v npm >/dev/null || { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q nodejs npm; }
	bash cmake/windows-deps.sh $(WIN)/deps
	@[ -f $(WIN)/CMakeCache.txt ] || cmake -S . -B $(WIN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake
	cmake --build $(WIN) -j $(JOBS) --target $(WIN_PROGRAMS)
msi: windows
	bash bridge/windows/msi.sh $(WIN)
windows-check: msi
	$(MAKE) configure
	cmake --build $(BUILD) -j $(JOBS) --target e2e_tests fr-emu fr-host fr-archive
	bash tests/windows/run.sh $(BUILD) $(WIN)

clean:
	rm -rf $(BUILD)
