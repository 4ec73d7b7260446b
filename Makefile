# The two commands a new machine needs: `make run` and `make test`. Both install what is missing first.
MAKEFLAGS += --no-print-directory
BUILD_DIR ?= build
JOBS ?= 2
CMAKE_FLAGS ?=
PYTHON ?= /usr/bin/python3
E2E = $(PYTHON) tests/e2e/run_e2e.py $(BUILD_DIR)

.PHONY: all deps configure build run test e2e bench clean install uninstall demo

all: build

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	$(BUILD_DIR)/kelvo

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)
	$(E2E)

# The real program on a virtual display, driven with the mouse and keyboard; screenshots in $(BUILD_DIR)/e2e.
e2e: build
	$(E2E)

bench: deps
	@cmake -S . -B $(BUILD_DIR)-bench -DCMAKE_BUILD_TYPE=Release -DKELVO_BUILD_TESTS=OFF -DKELVO_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR)-bench -j$(JOBS)
	@for b in $(BUILD_DIR)-bench/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-bench

PREFIX ?= /usr/local

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

uninstall:
	@test -f $(BUILD_DIR)/install_manifest.txt || { echo "Nothing installed from $(BUILD_DIR)"; exit 1; }
	xargs rm -fv < $(BUILD_DIR)/install_manifest.txt

# A demo cloud on 127.0.0.1 and a Kelvo pointed at it, with a fresh settings folder; enter the key "demo".
demo: build
	@bash scripts/demo $(BUILD_DIR)
