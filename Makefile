# Entry points for people and CI. Each target installs what is missing (Debian packages),
# configures, builds and runs. Build trees: build/ (plain), build-asan/, build-tsan/.
# `make help` lists the targets: the text after `## ` on each target's line.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# What the library and pltfm-sim need to build and run (`make demo`), then what the tests,
# the sanitizer and fuzz builds, the benchmarks, the pages' screenshots and the package add.
DEMO_PACKAGES := cmake ninja-build g++ make pkg-config libhiredis-dev redis-server redis-tools \
	libcli11-dev nlohmann-json3-dev
APT_PACKAGES := $(DEMO_PACKAGES) file libgtest-dev libgmock-dev libbenchmark-dev dpkg-dev \
	man-db groff-base clang libclang-rt-14-dev chromium-headless-shell fonts-dejavu-core
# apt-get runs through sudo unless make already runs as root.
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
# Seconds each fuzzer runs in `make fuzz`; how long `make soak` runs each Redis connection.
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 300
# Fuzzers `make fuzz` runs, by name (build-fuzz/fuzz/<name>_fuzzer); empty: every one built.
FUZZERS ?=

.PHONY: all help deps deps-demo build test test-asan test-tsan test-sequences bench fuzz soak demo \
	docs package clean

all: build ## same as build

help: ## this list
	@sed -n 's/^\([a-z-]*\):.*## \(.*\)/\1\t\2/p' $(firstword $(MAKEFILE_LIST)) | expand -t 16

# Installs the packages of $(1) that dpkg does not list as installed, in one apt-get run.
define apt_install
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi
endef

deps: ## install every Debian package the targets below use (apt-get)
	$(call apt_install,$(APT_PACKAGES))

deps-demo: ## install only what the library and pltfm-sim need
	$(call apt_install,$(DEMO_PACKAGES))

build: deps ## configure and build everything in build/: library, tools, tests
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLTFM_BUILD_TESTS=ON \
	  -DPLTFM_BUILD_TOOLS=ON $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test: build ## build everything in build/ and run every test (ctest)
	ctest --test-dir build --output-on-failure -j $(JOBS)

test-asan: deps ## the tests under AddressSanitizer and UBSan, in build-asan/
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLTFM_SANITIZE=address $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan: deps ## the tests under ThreadSanitizer, in build-tsan/
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLTFM_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# Event-order sequences beyond the fixed seeds that `make test` runs: SEEDS=N random ones (their
# seeds are printed), or SEED=S to replay one and print its events; CONCURRENT=1 runs the
# insertion monitor on its own thread while the events are applied; REDIS=cli reaches Redis
# through redis-cli instead of the native connection.
SEEDS ?= 50
SEED ?=
CONCURRENT ?=
REDIS ?=
test-sequences: build ## more event-order sequences: SEEDS=n random ones, or SEED=s replayed
	PLTFM_SEQUENCE_SEED=$(SEED) PLTFM_SEQUENCE_COUNT=$(SEEDS) PLTFM_SEQUENCE_CONCURRENT=$(CONCURRENT) \
	  PLTFM_SEQUENCE_REDIS=$(REDIS) \
	  build/tests/event_order_test --gtest_filter='EventOrdersChosen.*'

# Release build of the benchmarks only, then every benchmark binary.
bench: deps ## the benchmarks, Release build in build-bench/
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLTFM_BUILD_BENCH=ON \
	  -DPLTFM_BUILD_TESTS=OFF -DPLTFM_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)
	for b in build-bench/bench/*_bench; do "$$b" || exit 1; done

# Every fuzzer (clang, libFuzzer, ASan+UBSan) for FUZZ_SECONDS on its seed corpus and
# dictionary. New inputs go to build-fuzz/corpus/<name>; a finding stops the run, fails the
# target and leaves its reproducer as build-fuzz/findings/<name>-crash-*. The fuzzers are
# those fuzz/CMakeLists.txt builds; the case below picks each one's dictionary and extra seeds.
fuzz: deps ## every fuzzer for FUZZ_SECONDS (default 60), in build-fuzz/
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPLTFM_BUILD_FUZZERS=ON -DPLTFM_BUILD_TESTS=OFF -DPLTFM_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target pltfm_fuzzers
	@mkdir -p build-fuzz/findings
	@names="$(FUZZERS)"; \
	if [ -z "$$names" ]; then \
	  for b in build-fuzz/fuzz/*_fuzzer; do b=$${b##*/}; names="$$names $${b%_fuzzer}"; done; \
	fi; \
	for f in $$names; do \
	  mkdir -p build-fuzz/corpus/$$f; \
	  dict=fuzz/dict/tuning.dict; extra=; \
	  case $$f in \
	    translate*) dict=fuzz/dict/translate.dict;; \
	    eeprom*) dict=fuzz/dict/eeprom.dict; extra=tests/data/eeprom;; \
	  esac; \
	  echo "== $$f: $(FUZZ_SECONDS) s"; \
	  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  build-fuzz/fuzz/$${f}_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=8192 -timeout=20 \
	    -rss_limit_mb=4096 -close_fd_mask=2 -print_final_stats=1 -dict=$$dict \
	    -artifact_prefix=build-fuzz/findings/$$f- build-fuzz/corpus/$$f fuzz/corpus/$$f $$extra \
	    2>&1 | tee build-fuzz/$$f.log | grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|==[0-9]+==|SUMMARY|.*property broken)' ; \
	  [ $${PIPESTATUS[0]} -eq 0 ] || { echo "$$f: finding in build-fuzz/findings/"; exit 1; }; \
	done

# The whole library for SOAK_SECONDS through redis-cli, then SOAK_SECONDS over the native
# connection with keyspace events, each against a private redis-server (frozen and restarted
# now and then) and a fake platform tree (build-soak/). Each prints a table of samples and
# writes build-soak/soak-<mode>.csv and soak-<mode>.svg; it fails on a leak (memory,
# descriptors, threads, children, server connections), an SDK call slower than the Redis
# bound, a module exchange not noticed, or a port whose admin_status or tuning is not what
# its model expects once a fault has ended. Both run even when the first fails.
soak: deps ## both Redis connections for SOAK_SECONDS each (default 300), in build-soak/
	cmake -S . -B build-soak -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLTFM_BUILD_TESTS=OFF \
	  $(CMAKE_FLAGS)
	cmake --build build-soak -j $(JOBS) --target pltfm-soak
	@cd build-soak && rc=0; for mode in cli native; do \
	  ./tools/pltfm-soak --redis $$mode --seconds $(SOAK_SECONDS) --csv soak-$$mode.csv \
	    --log pltfm-soak-$$mode.log || rc=1; \
	done; exit $$rc

# The simulated switch: start-up, bring-up of every port, a module swap and a tuning rescan
# (about ten seconds; without --no-compare pltfm-sim also brings the switch up twice more, once
# per Redis mode, for half a minute). Installs and builds only the library and pltfm-sim; build/
# is configured without the tests unless `make build` or `make test` configured it already,
# and with no build type (no optimisation, no debug information): the quickest build on a
# fresh machine, and the run does not need the speed. `make test` configures it again.
# The library's log is kept in build/pltfm-sim.log.
demo: deps-demo ## build the library and pltfm-sim only, and run the simulated switch
	@[ -f build/CMakeCache.txt ] || { set -x; cmake -S . -B build -G Ninja \
	  -DCMAKE_BUILD_TYPE= -DPLTFM_BUILD_TESTS=OFF $(CMAKE_FLAGS); }
	cmake --build build -j $(JOBS) --target pltfm-sim
	build/tools/pltfm-sim --no-compare --log $(CURDIR)/build/pltfm-sim.log

# The README's screenshots (docs/*.png) of the tuning report and of a simulated switch run,
# taken with headless Chromium; the pages themselves stay in build/docs.
docs: build ## the screenshots docs/*.png, from fresh pages in build/docs
	tools/html/doc_pages.sh build

# Debian package of the library, headers, pkg-config file and tools (CPack, into build/).
package: build ## the Debian package build/libpltfm_<version>_<arch>.deb
	cd build && cpack -G DEB
	@ls -1 build/libpltfm_*.deb

clean: ## remove every build tree
	rm -rf build build-asan build-tsan build-bench build-fuzz build-soak
