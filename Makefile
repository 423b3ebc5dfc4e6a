# make demo: install what is missing, build, run the example.
# make test: install, build (release and sanitizer trees), run ctest and pytest.
# make bench / bench-ir / bench-cpp: see below.
PYTHON ?= /usr/bin/python3
JOBS ?= $(shell nproc)

.PHONY: all deps build build-asan test demo bench bench-ir bench-cpp clean format

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELK_TESTS=OFF -DZELK_PYTHON=ON >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: deps
	@cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELK_SANITIZE=ON \
	  -DZELK_PYTHON=OFF -DZELK_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)

test: build build-asan
	cd build-asan && ctest --output-on-failure -j $(JOBS)
	@if ls tests/python/test_*.py >/dev/null 2>&1; then \
	  PYTHONPATH=build/python $(PYTHON) -m pytest -q tests/python; \
	else echo "no python tests yet"; fi

demo: build
	@./build/examples/zelk_demo
	@PYTHONPATH=build/python /usr/bin/python3 examples/two_agents.py
	@PYTHONPATH=build/python /usr/bin/python3 examples/handshake.py

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
	rm -rf build build-asan
