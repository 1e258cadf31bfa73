# One command builds, one command tests. Every target first makes sure the
# machine has what it needs (scripts/bootstrap.sh, as root on Debian 12).
#   make check   unit (also under ThreadSanitizer), setup, static and end-to-end
#                tests: the edit-test loop
#   make test    everything: check, fuzzing, reproducibility, reliability
# Both Windows builds are always built. The targets that run one under Wine
# run the x86 build where this machine runs 32-bit programs and the x64 build
# where it does not, and say so; KELZAR_ARCH=x86|x64 chooses,
# KELZAR_ASSUME_NO_I386=1 tries the x64-only path on any machine.
PYTHON := /usr/bin/python3
PYTEST := $(PYTHON) -m pytest -q -p no:cacheprovider
NPROC := $(shell nproc)
UNDER_TEST = bash scripts/build-under-test.sh $@
ARCHES := x86 x64

.PHONY: all bootstrap build native unit tsan fuzz setup-tests static-tests rebuild-tests e2e \
        e2e-x64-too reliability check test demo dist bench clean

all: build

bootstrap:
	bash scripts/bootstrap.sh

build: bootstrap
	for arch in $(ARCHES); do \
	  cmake --preset windows-$$arch >/dev/null && \
	  cmake --build --preset windows-$$arch -j $(NPROC) || exit 1; \
	done

native: bootstrap
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(NPROC)

unit: native
	ctest --preset native -j $(NPROC)

# The threaded native tests (pipeline, second pass, parallel read-back)
# under ThreadSanitizer.
tsan: bootstrap
	cmake --preset native-tsan >/dev/null
	cmake --build --preset native-tsan -j $(NPROC)
	TSAN_OPTIONS=halt_on_error=1 build/native-tsan/tests/unit/kelzar_system_tests --gtest_brief=1

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
	$(UNDER_TEST) $(PYTEST) tests/setup -m rebuild

# Both builds' executables as Windows' loader reads them (no Wine needed).
static-tests: build
	$(PYTEST) tests/static

e2e: build
	$(UNDER_TEST) $(PYTEST) tests/e2e

# Where the x86 build runs, the x64 build's end-to-end tier runs too.
e2e-x64-too: build
	if bash scripts/build-under-test.sh --runs-i386; then \
	  KELZAR_ARCH=x64 $(UNDER_TEST) $(PYTEST) tests/e2e; fi

# Hostile conditions under Wine (about 25 minutes; -m "not large" skips the
# multi-gigabyte cases when run by hand).
reliability: build
	$(UNDER_TEST) $(PYTEST) tests/reliability

check: unit tsan setup-tests static-tests e2e

test: check fuzz rebuild-tests reliability e2e-x64-too

demo: build
	$(UNDER_TEST) bash scripts/demo.sh

# Kelzar against its peers (minutes; not a test): docs/benchmarks.md and .png.
# Where both builds run, each is measured (docs/benchmarks.md for x86,
# docs/benchmarks-x64.md for x64).
bench: build
	$(UNDER_TEST) $(PYTHON) bench/bench.py $(BENCH_ARGS)
	if bash scripts/build-under-test.sh --runs-i386 && [ -z "$$KELZAR_ARCH" ]; then \
	  KELZAR_ARCH=x64 $(UNDER_TEST) $(PYTHON) bench/bench.py $(BENCH_ARGS); fi

# build/dist/kelzar-1.0-win32.zip and -win64.zip, made by the kelzar.exe
# this machine runs.
dist: build
	$(UNDER_TEST) bash scripts/dist.sh

clean:
	rm -rf build/windows-x86 build/windows-x64 build/native build/native-tsan build/fuzz build/dist \
	       build/dist-work build/bench
