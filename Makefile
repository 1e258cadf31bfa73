# One command builds, one command tests. Every target first makes sure the
# machine has what it needs (scripts/bootstrap.sh, as root on Debian 12).
PYTHON := /usr/bin/python3
NPROC := $(shell nproc)

.PHONY: all bootstrap build native unit e2e test demo clean

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

e2e: build
	$(PYTHON) -m pytest tests/e2e -q -p no:cacheprovider

test: unit e2e

demo: build
	bash scripts/demo.sh

clean:
	rm -rf build/windows build/native
