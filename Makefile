# `make demo` and `make test` do all the set-up on a fresh machine.
JOBS ?= $(shell nproc)
# ccache (when installed) keys on paths relative to the checkout, so another clone of the tree reuses its cache.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
TEST_DIR := build/test
DEMO_DIR := build/release

.PHONY: deps demo test build-test build-demo bench clean fuzz soak

deps:
	@scripts/install-deps

build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="-O1 -g" -DDRAVELIN_SANITIZE=ON
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)

build-demo: deps
	cmake -S . -B $(DEMO_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRAVELIN_TESTS=OFF
	cmake --build $(DEMO_DIR) -j $(JOBS)

demo: build-demo
	scripts/demo $(DEMO_DIR)/dravelin

# The libFuzzer targets, built with clang (installed here when missing) and run FUZZ_SECONDS each.
fuzz:
	scripts/fuzz

# Long runs of the servers on the optimized build: memory and descriptors after the last tenth as after the first.
soak: build-demo
	python3 tests/soak/soak.py lsp $(DEMO_DIR)/dravelin
	python3 tests/soak/soak.py serve $(DEMO_DIR)/dravelin --calls

clean:
	rm -rf build
