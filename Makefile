# The two entry points are `make demo` (the main job) and `make test` (every
# test); each runs the set-up first, so either works alone on a fresh machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
COV_BUILD  ?= build-coverage
PKG_BUILD  ?= build-package
# The package needs neither tests nor benchmarks; PKG_OPTIONS="" keeps a folder's own.
PKG_OPTIONS ?= -DORDODESK_TESTS=OFF -DORDODESK_BENCH=OFF
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all setup build build-asan demo test test-plain test-asan format format-check fuzz bench crash-test coverage mutation-check package package-smoke package-build workbench clean

all: build

setup:
	@scripts/setup

build: setup
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORDODESK_WERROR=ON
	cmake --build $(BUILD) -j$(JOBS)

build-asan: setup
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DORDODESK_SANITIZE=ON \
	  -DORDODESK_BENCH=OFF -DORDODESK_WERROR=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)

# make demo KEEP=DIR keeps the demo's workspace (pictures, PDF, document) in DIR.
demo: build
	$(BUILD)/apps/ordodesk/ordodesk demo $(if $(KEEP),--keep $(KEEP))

test: setup format-check test-plain test-asan

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS)

format:
	scripts/format

format-check: setup
	scripts/format --check

fuzz: setup
	fuzz/run $(or $(SECONDS),60)

crash-test: build
	tests/crash/run-crash-test $(or $(TRIALS),30) --time-limit $(or $(LIMIT),3000) \
	  --ordodesk $(BUILD)/apps/ordodesk/ordodesk --qor-refserver $(BUILD)/apps/qor-refserver/qor-refserver

# Line and branch coverage of src/ and apps/ over the test run, in its own
# build folder (not part of `make test`). CTEST_ARGS="-LE crash" leaves the
# crash test out.
coverage: setup
	JOBS=$(JOBS) CTEST_ARGS="$(CTEST_ARGS)" scripts/coverage $(COV_BUILD)

# Thirty small deliberate faults (tests/mutation/faults.tsv), each built and
# tested in build-mutation; not part of `make test`.
mutation-check: setup
	tests/mutation/run-mutation-check --jobs $(JOBS) $(if $(OUT),--out $(OUT))

bench: build
	$(BUILD)/bench/ordodesk_bench
	$(BUILD)/bench/ordodesk_inspect_bench
	$(BUILD)/bench/qor_refserver_bench
	$(BUILD)/bench/ordodesk_send_bench
	$(BUILD)/bench/ordodesk_pickup_bench
	$(BUILD)/bench/ordodesk_panel_bench

# The Debian package (ordodesk_VERSION_ARCH.deb in $(PKG_BUILD)), installed
# under /usr (docs/packaging.md); package-smoke builds it, unpacks it into a
# scratch folder and runs the installed programs.
package: package-build
	cd $(PKG_BUILD) && cpack -G DEB

package-smoke: package-build
	scripts/package-smoke --cpack $(PKG_BUILD)

package-build: setup
	cmake -S . -B $(PKG_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DORDODESK_WERROR=ON $(PKG_OPTIONS)
	cmake --build $(PKG_BUILD) -j$(JOBS)

# The workbench: the host session in a Qt window, on the demo's workspace
# (made by the demo the first time), so that the road shows in a window.
WB_DEMO ?= $(BUILD)/workbench-demo
workbench: build
	@test -d $(WB_DEMO) || $(BUILD)/apps/ordodesk/ordodesk demo --keep $(WB_DEMO)
	$(BUILD)/apps/workbench/ordodesk-workbench $(WB_DEMO)/demo-document.odoc \
	  --system-folder $(WB_DEMO)/system --session $(WB_DEMO)/session.odsession

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(COV_BUILD) $(PKG_BUILD) build-fuzz
