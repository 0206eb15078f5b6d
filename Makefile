# The set-up commands of the README: `make run`, `make test`, `make check` and
# `make package`.
BUILD_DIR ?= build
# `make check` builds here, with the sanitizers; never mixed with BUILD_DIR.
CHECK_DIR ?= build-asan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=

.PHONY: all deps configure build run test check package check-package bench clean

all: build

deps:
	@./tools/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/orvex $(ARGS)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole project and every test under AddressSanitizer and
# UndefinedBehaviorSanitizer (-O1, so the suite still runs in minutes).
check: deps
	@cmake -S . -B $(CHECK_DIR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DORVEX_SANITIZE=ON >/dev/null
	@cmake --build $(CHECK_DIR) -j $(JOBS)
	@./tools/run-sanitized-tests $(CHECK_DIR) $(JOBS)

# The Debian packages orvex_*.deb and orvex-tools_*.deb, in BUILD_DIR.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The packages built and checked (lintian, the menu entry, AppStream, the
# service unit, the programs run from the extracted package).
check-package: build
	@./tools/check-package $(BUILD_DIR)

bench: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target $$(cd bench && ls bench_*.cpp 2>/dev/null | sed 's/\.cpp$$//')
	@for b in $(BUILD_DIR)/bench/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then QT_QPA_PLATFORM=offscreen "$$b"; fi; done

clean:
	rm -rf $(BUILD_DIR) $(CHECK_DIR)
