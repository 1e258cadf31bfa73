# One command builds, one command tests. Every target first makes sure the
# machine has what it needs (scripts/bootstrap.sh, as root on Debian 12).
PYTHON := /usr/bin/python3
NPROC := $(shell nproc)

.PHONY: all bootstrap build native unit fuzz e2e reliability test demo clean

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

e2e: build
	$(PYTHON) -m pytest tests/e2e -q -p no:cacheprovider

# Hostile conditions under Wine (about 25 minutes; -m "not large" skips the
# multi-gigabyte cases when run by hand).
reliability: build
	$(PYTHON) -m pytest tests/reliability -q -p no:cacheprovider

test: unit fuzz e2e reliability

demo: build
	bash scripts/demo.sh

clean:
	rm -rf build/windows build/native build/fuzz
