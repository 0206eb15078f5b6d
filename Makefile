# The set-up commands of the README: `make run`, `make test`, `make check`,
# `make package` and `make check-package`.
BUILD_DIR ?= build
# `make check` builds here, with the sanitizers; never mixed with BUILD_DIR.
CHECK_DIR ?= build-asan
# `make package` builds here, with Debian's build flags and without the tests.
PACKAGE_DIR ?= build-deb
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
ARGS ?=
# The build's and CTest's own output, without make's "Entering directory" lines.
MAKEFLAGS += --no-print-directory
# A pipe fails when the build in it fails (`make run`'s filter below).
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c

.PHONY: all deps test-deps configure build run test check package check-package bench screenshots clean

all: build

# What building and running need.
deps:
	@./tools/install-deps

# That, and what only the tests need (the broker, umockdev, lintian...).
test-deps:
	@./tools/install-deps --test

# A fresh build folder builds the programs only; one `make test` has set up
# keeps its tests.
configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    $(if $(wildcard $(BUILD_DIR)/CMakeCache.txt),,-DORVEX_BUILD_TESTS=OFF) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Only the programs, even in a folder `make test` set up; what is up to date
# is not listed, so a built tree shows nothing but the program's own output.
run: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target orvex orvexctl | sed -u '/\] Built target /d; /\] Automatic MOC and UIC for target /d'
	@$(BUILD_DIR)/orvex $(ARGS)

test: test-deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEX_BUILD_TESTS=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The whole project and every test under AddressSanitizer and
# UndefinedBehaviorSanitizer (-O1, so the suite still runs in minutes).
check: test-deps
	@cmake -S . -B $(CHECK_DIR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DORVEX_SANITIZE=ON >/dev/null
	@cmake --build $(CHECK_DIR) -j $(JOBS)
	@./tools/run-sanitized-tests $(CHECK_DIR) $(JOBS)

# The Debian packages orvex_*.deb and orvex-tools_*.deb, in PACKAGE_DIR: only
# what they hold is built, with dpkg-buildflags' hardening flags.
package: deps
	@./tools/build-package $(PACKAGE_DIR) $(JOBS)

# The packages built and checked (lintian, the maintainer scripts in a
# throw-away root, the menu entry, AppStream, the service unit, the programs
# run from the extracted package).
check-package: package test-deps
	@./tools/check-package $(PACKAGE_DIR)

bench: test-deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEX_BUILD_TESTS=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target $$(cd bench && ls bench_*.cpp 2>/dev/null | sed 's/\.cpp$$//')
	@for b in $(BUILD_DIR)/bench/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then QT_QPA_PLATFORM=offscreen "$$b"; fi; done

# The pictures in docs/, taken of the window on the demo bus (offscreen).
screenshots: test-deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEX_BUILD_TESTS=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target orvex-screenshots
	QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/orvex-screenshots docs

clean:
	rm -rf $(BUILD_DIR) $(CHECK_DIR) $(PACKAGE_DIR)
