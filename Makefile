# The two commands a new machine needs: `make run` and `make test`. Both install what is missing first.
MAKEFLAGS += --no-print-directory
BUILD_DIR ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
# CI builds with WERROR=ON: every warning is an error there.
WERROR ?= OFF
CMAKE_FLAGS += -DKELVO_WERROR=$(WERROR)
PYTHON ?= /usr/bin/python3
E2E = $(PYTHON) tests/e2e/run_e2e.py $(BUILD_DIR)

# bash, for pipefail in quiet_build.
SHELL := /bin/bash

.PHONY: all deps deps-test configure build run test e2e bench clean install uninstall demo test-asan fuzz deb test-deb \
	check-desktops

all: build

# What building, running and packaging need; the test targets add the tools the tests drive Kelvo with.
deps:
	@bash scripts/install-deps

deps-test:
	@bash scripts/install-deps --test

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

# A new build folder is configured once; after that `cmake --build` reconfigures by itself when a CMakeLists.txt
# changes.
$(BUILD_DIR)/CMakeCache.txt: | deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS)

# Builds only the given targets, and says nothing but the compiler's own lines when they are up to date.
# $(call quiet_build,folder,targets)
quiet_build = set -o pipefail; cmake --build $(1) -j$(JOBS) --target $(2) \
	| { grep -v -e '^\[ *[0-9]*%\] Built target ' -e '^\[ *[0-9]*%\] Automatic MOC for target ' || true; }

run: deps $(BUILD_DIR)/CMakeCache.txt
	@$(call quiet_build,$(BUILD_DIR),kelvo)
	@$(BUILD_DIR)/kelvo

test: deps-test build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)
	$(E2E)

# The real program on a virtual display, driven with the mouse and keyboard; screenshots in $(BUILD_DIR)/e2e.
e2e: deps-test build
	$(E2E)

bench: deps-test
	@cmake -S . -B $(BUILD_DIR)-bench -DCMAKE_BUILD_TYPE=Release -DKELVO_BUILD_TESTS=OFF -DKELVO_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR)-bench -j$(JOBS)
	@for b in $(BUILD_DIR)-bench/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# The desktops most people run (GNOME Shell, KDE Plasma, sway), headless, with the real Kelvo: every
# tests/desktops/check_*.py in turn (check_desktops.py: the tray item, its icon and menu; check_panel.py: the panel's
# keyboard and closing under XWayland, ten times over). On demand only, never in `make test` or CI: it installs the
# desktops first (scripts/install-desktop-deps, about 1.5 GB) and runs them as a throwaway user, so it needs root;
# it takes about ten minutes. DESKTOPS=gnome (or gnome-wayland, plasma, sway) limits it to one.
DESKTOPS ?=
check-desktops: deps $(BUILD_DIR)/CMakeCache.txt
	@bash scripts/install-desktop-deps
	@$(call quiet_build,$(BUILD_DIR),kelvo kelvo-sim)
	@status=0; for check in tests/desktops/check_*.py; do \
		$(PYTHON) $$check $(BUILD_DIR) $(DESKTOPS) || status=1; done; exit $$status

# The whole test suite under AddressSanitizer (with leak checking) and UndefinedBehaviorSanitizer.
ASAN_DIR ?= build-asan
SANITIZE = -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined
test-asan: deps-test
	@cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$(SANITIZE)" -DKELVO_WERROR=$(WERROR) \
		-DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE)" -DCMAKE_SHARED_LINKER_FLAGS="$(SANITIZE)" \
		-DCMAKE_MODULE_LINKER_FLAGS="$(SANITIZE)" >/dev/null
	@cmake --build $(ASAN_DIR) -j$(JOBS)
	cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen \
		ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS)

# libFuzzer targets built with clang; each runs FUZZ_SECONDS on a copy of its seed corpus.
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= fuzz_decoding fuzz_linkify fuzz_preferences fuzz_richtext
fuzz:
	@bash scripts/install-deps --fuzz
	@cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DKELVO_BUILD_FUZZ=ON -DKELVO_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j$(JOBS) --target $(FUZZ_TARGETS)
	@for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_DIR)/corpus/$$t $(FUZZ_DIR)/artifacts/$$t && \
		cp -n tests/fuzz/corpus/$$t/* $(FUZZ_DIR)/corpus/$$t/ 2>/dev/null; \
		echo "== $$t for $(FUZZ_SECONDS) s"; \
		QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 \
		$(FUZZ_DIR)/tests/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 \
			-artifact_prefix=$(FUZZ_DIR)/artifacts/$$t/ $(FUZZ_DIR)/corpus/$$t || exit 1; \
	done

# The Debian package, built in Release in its own folder with Debian's hardening flags, copied to
# $(BUILD_DIR)/kelvo_<version>_<arch>.deb.
DEB_DIR ?= build-deb
# The package's file times are the newest changelog entry's, unless SOURCE_DATE_EPOCH says otherwise: two builds of
# the same sources give the same package, byte for byte.
CHANGELOG_DATE = $(shell sed -n 's/^ -- .*  //p' packaging/debian/changelog.in | head -n 1)
deb: export SOURCE_DATE_EPOCH ?= $(shell date -d '$(CHANGELOG_DATE)' +%s)
deb: deps
	@export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g; \
		cmake -S . -B $(DEB_DIR) -DCMAKE_BUILD_TYPE=Release -DKELVO_BUILD_TESTS=OFF -DKELVO_DEBIAN_PACKAGE=ON \
		-DCMAKE_INSTALL_PREFIX=/usr \
		-DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
		-DCMAKE_MODULE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" $(CMAKE_FLAGS) >/dev/null
	@$(call quiet_build,$(DEB_DIR),kelvo)
	@rm -f $(DEB_DIR)/kelvo_*.deb
	@cd $(DEB_DIR) && cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }
	@mkdir -p $(BUILD_DIR) && for deb in $(DEB_DIR)/kelvo_*.deb; do \
		cp "$$deb" $(BUILD_DIR)/ && echo "$(BUILD_DIR)/$${deb##*/}"; done

# Builds the package, checks it with lintian, installs it with apt, runs it and removes it again (needs root or sudo).
test-deb: deb
	@bash scripts/test-deb $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-bench $(ASAN_DIR) $(FUZZ_DIR) $(DEB_DIR)

# Installs what `make build` built, stripped; nothing is built here, so `sudo make install` compiles nothing as
# root. Each prefix keeps its own list of what its install put there, which `make uninstall` removes.
PREFIX ?= /usr/local

install:
	@bash scripts/prefix-install install $(BUILD_DIR) "$(PREFIX)"

uninstall:
	@bash scripts/prefix-install uninstall "$(PREFIX)"

# A demo cloud on 127.0.0.1 and a Kelvo pointed at it, with a fresh settings folder; enter the key "demo".
demo: deps $(BUILD_DIR)/CMakeCache.txt
	@$(call quiet_build,$(BUILD_DIR),kelvo kelvo-sim)
	@bash scripts/demo $(BUILD_DIR)
