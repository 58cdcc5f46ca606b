# Two entry points on a fresh Debian machine: `make demo` and `make test`.
# Both install the Debian packages that are missing, and only those.

BUILD ?= build
JOBS ?= $(shell nproc)
PACKAGES = cmake make g++ pkg-config libgtest-dev libgmock-dev libcairo2-dev nlohmann-json3-dev \
           libcxxopts-dev fonts-dejavu-core

.PHONY: all build deps configure test sanitize fuzz demo run bench clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -q $$missing; \
	fi

configure:
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer (the
# ThreadSanitizer tests are part of the main build). End-to-end tests get a
# second try: the sanitizers slow the device's replies.
sanitize: deps
	@[ -f $(BUILD)-asan/CMakeCache.txt ] || cmake -S . -B $(BUILD)-asan -DFR_SANITIZE=address,undefined
	cmake --build $(BUILD)-asan -j $(JOBS) --target unit_tests e2e_tests fr-core fr-emu fr-host
	cd $(BUILD)-asan && LSAN_OPTIONS=suppressions=$(CURDIR)/tools/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) --repeat until-pass:2

# Every fuzz target for FUZZ_SECONDS each (needs clang and its runtime).
FUZZ_SECONDS ?= 20
fuzz:
	@dpkg-query -W -f='$${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed' || \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang libclang-rt-14-dev; }
	bash fuzz/run.sh $(FUZZ_SECONDS)

demo: deps
	$(MAKE) build
	bash tools/demo.sh var/demo

run: deps
	$(MAKE) build
	$(BUILD)/bin/fr-emu var/run

bench: deps
	@dpkg-query -W -f='$${Status}' libbenchmark-dev 2>/dev/null | grep -q 'install ok installed' || \
	  { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q libbenchmark-dev; }
	cmake -S . -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@for b in $(BUILD)/bin/*_bench; do $$b; done

clean:
	rm -rf $(BUILD)
