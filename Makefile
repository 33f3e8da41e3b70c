# Entry points for people and CI. Each target installs what is missing (Debian packages),
# configures, builds and runs. Build trees: build/ (plain), build-asan/, build-tsan/.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
APT_PACKAGES := cmake ninja-build g++ make pkg-config file libgtest-dev libgmock-dev \
	libbenchmark-dev redis-server redis-tools libcli11-dev nlohmann-json3-dev dpkg-dev \
	man-db groff-base chromium-headless-shell fonts-dejavu-core

.PHONY: all deps build test test-asan test-tsan test-sequences bench demo docs package clean

all: build

deps:
	@missing=""; for p in $(APT_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLTFM_SANITIZE=address $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPLTFM_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# Event-order sequences beyond the fixed seeds that `make test` runs: SEEDS=N random ones (their
# seeds are printed), or SEED=S to replay one and print its events; CONCURRENT=1 runs the
# insertion monitor on its own thread while the events are applied.
SEEDS ?= 50
SEED ?=
CONCURRENT ?=
test-sequences: build
	PLTFM_SEQUENCE_SEED=$(SEED) PLTFM_SEQUENCE_COUNT=$(SEEDS) PLTFM_SEQUENCE_CONCURRENT=$(CONCURRENT) \
	  build/tests/event_order_test --gtest_filter='EventOrdersChosen.*'

# Release build of the benchmarks only, then every benchmark binary.
bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLTFM_BUILD_BENCH=ON \
	  -DPLTFM_BUILD_TESTS=OFF -DPLTFM_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)
	for b in build-bench/bench/*_bench; do "$$b" || exit 1; done

# The simulated switch: start-up, bring-up of every port, a module swap and a tuning rescan
# (about a minute). The library's log is kept in build/pltfm-sim.log.
demo: build
	build/tools/pltfm-sim --log $(CURDIR)/build/pltfm-sim.log

# The README's screenshots (docs/*.png) of the tuning report and of a simulated switch run,
# taken with headless Chromium; the pages themselves stay in build/docs.
docs: build
	tools/html/doc_pages.sh build

# Debian package of the library, headers, pkg-config file and tools (CPack, into build/).
package: build
	cd build && cpack -G DEB
	@ls -1 build/libpltfm_*.deb

clean:
	rm -rf build build-asan build-tsan build-bench
