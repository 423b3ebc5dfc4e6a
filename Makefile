# On a machine without make, ./bootstrap TARGET installs it first and then runs make TARGET.
# make demo: install what is missing, build, run the examples (each part of the output labelled).
# make test: check the layering, install, build (release, sanitizer and clang trees, clang-tidy on
#   src/), run ctest and pytest, build the wheel and install it into a fresh virtual environment,
#   check the type stubs, replay the fuzz corpora and fuzz every target briefly.
# Installing and building print one line a step; their output is kept in build-logs/.
# make fuzz: fuzz every target for FUZZ_SECONDS each on up to FUZZ_JOBS cores.
# make bench / bench-ir / bench-cpp: see below.
PYTHON ?= /usr/bin/python3
JOBS ?= $(shell nproc)

FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 4
CLANG_CXX ?= clang++-19
# The release tree and the wheel's build-wheel/ share ccache hits (paths relative to the checkout).
export CCACHE_BASEDIR := $(CURDIR)
, := ,

# $(call cmake_tree,DIR,WHAT,CMAKE OPTIONS[,ENVIRONMENT]): configures and builds one tree as one
# quiet step (scripts/phase), its output kept in build-logs/DIR.log.
cmake_tree = @scripts/phase $(1) "$(2) ($(1)/)" sh -c '$(4) cmake -S . -B $(1) -G Ninja $(3) && \
  cmake --build $(1) -j $(JOBS)'

.PHONY: all deps deps-clang build build-asan build-clang build-fuzz fuzz fuzz-check check-layers \
  test demo bench bench-ir bench-cpp clean format

all: build

deps:
	@scripts/install-deps

build: deps
	$(call cmake_tree,build,building the module$(,) examples and benchmarks,\
	  -DCMAKE_BUILD_TYPE=Release -DZELK_TESTS=OFF -DZELK_PYTHON=ON)

build-asan: deps
	$(call cmake_tree,build-asan,building the C++ tests with sanitizers,\
	  -DCMAKE_BUILD_TYPE=Debug -DZELK_SANITIZE=ON -DZELK_PYTHON=OFF -DZELK_BENCH=OFF)

deps-clang:
	@scripts/install-deps clang

# Everything the GCC trees build, compiled by clang as well.
build-clang: deps-clang
	$(call cmake_tree,build-clang,building everything with clang$(,) clang-tidy on src/,\
	  -DCMAKE_BUILD_TYPE=Release -DZELK_CLANG_TIDY=ON,CXX=$(CLANG_CXX))

# The libFuzzer targets of fuzz/, with AddressSanitizer and UndefinedBehaviorSanitizer.
build-fuzz: deps-clang
	$(call cmake_tree,build-fuzz,building the fuzz targets,-DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZELK_FUZZ=ON -DZELK_TESTS=OFF -DZELK_PYTHON=OFF -DZELK_BENCH=OFF,CXX=$(CLANG_CXX))

fuzz: build-fuzz
	@scripts/fuzz run $(FUZZ_SECONDS) $(FUZZ_JOBS)

# Replays the stored corpora through every target, then fuzzes each for 20 s (FUZZ_JOBS at a time).
fuzz-check: build-fuzz
	@scripts/fuzz check 20 $(FUZZ_JOBS)

# Every include under src/ names a header of a library that the including library links.
check-layers: deps
	@$(PYTHON) scripts/check-layers

test: check-layers build build-asan build-clang
	cd build-asan && ctest --output-on-failure -j $(JOBS)
	@if ls tests/python/test_*.py >/dev/null 2>&1; then \
	  PYTHONPATH=build/python $(PYTHON) -m pytest -q tests/python; \
	else echo "no python tests yet"; fi
	@JOBS=$(JOBS) PYTHON=$(PYTHON) scripts/check-wheel
	@$(MAKE) --no-print-directory fuzz-check

demo: build
	@echo
	@echo "### examples/demo.cpp (C++): canonical JSON of a claims object, the AID of a fixed key"
	@./build/examples/zelk_demo
	@echo
	@echo "### examples/two_agents.py: two agents build, publish and verify their Manifests"
	@PYTHONPATH=build/python $(PYTHON) examples/two_agents.py
	@echo
	@echo "### examples/handshake.py: the four-message handshake, pinned keys and OIDC"
	@PYTHONPATH=build/python $(PYTHON) examples/handshake.py

# make bench: one table of zelk / raw-library ratios (wall clock, interleaved rounds, medians).
# make bench-ir: the same table in callgrind instruction counts, which machine load does not move.
# make bench-cpp: the C++ micro-benchmarks.
bench: build
	@PYTHONPATH=build/python $(PYTHON) bench/ratios.py

bench-ir: build
	@PYTHONPATH=build/python $(PYTHON) bench/ratios.py --ir

bench-cpp: build
	@./build/bench/zelk_bench

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build build-asan build-clang build-fuzz build-wheel build-logs
