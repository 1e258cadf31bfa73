# One command builds, one command tests. Every target first makes sure the
# machine has what it needs (scripts/bootstrap.sh, as root on Debian 12).
#   make check   unit, setup and end-to-end tests: the edit-test loop
#   make test    everything: check, fuzzing, reproducibility, reliability
PYTHON := /usr/bin/python3
PYTEST := $(PYTHON) -m pytest -q -p no:cacheprovider
NPROC := $(shell nproc)

.PHONY: all bootstrap build native unit fuzz setup-tests rebuild-tests e2e reliability \
        check test demo dist bench clean

all: build

bootstrap:
	bash scripts/bootstrap.sh

build: bootstrap
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(NPROC)

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(NPROC)

unit: native
	ctest --preset native -j $(NPROC)

# Each libFuzzer harness for a bounded time (FUZZ_SECONDS each).
FUZZ_SECONDS ?= 60
fuzz: bootstrap
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(NPROC)
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

# The bootstrap and the zlib fetch against stand-ins for apt (seconds).
setup-tests: bootstrap
	$(PYTEST) tests/setup -m "not rebuild"

# Two clean builds and bundles in two folders, compared byte for byte (minutes).
rebuild-tests: bootstrap
	$(PYTEST) tests/setup -m rebuild

e2e: build
	$(PYTEST) tests/e2e

# Hostile conditions under Wine (about 25 minutes; -m "not large" skips the
# multi-gigabyte cases when run by hand).
reliability: build
	$(PYTEST) tests/reliability

check: unit setup-tests e2e

test: check fuzz rebuild-tests reliability

demo: build
	bash scripts/demo.sh

# Kelzar against its peers (minutes; not a test): docs/benchmarks.md and .png.
bench: build
	$(PYTHON) bench/bench.py

# build/dist/kelzar-1.0-win32.zip, made by the kelzar.exe just built.
dist: build
	bash scripts/dist.sh

clean:
	rm -rf build/windows build/native build/fuzz build/dist build/dist-work build/bench
