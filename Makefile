# The two commands a new user runs (see README.md):
#   make run    install what is missing, build, evaluate a sample calculation
#   make test   install what is missing, build, run every test, then again
#               under AddressSanitizer and UndefinedBehaviorSanitizer, the
#               plug-in tests under valgrind, the thread tests under
#               ThreadSanitizer, and a short fuzzing smoke run
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)

TSAN_BUILD ?= build-tsan

.PHONY: all deps build run test test-plain test-sanitize test-valgrind test-tsan fuzz-smoke bench clean

all: build

deps:
	bash tools/install-dependencies.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

# A report over the sample database: Lua, SQL and a host calculation.
run: build
	$(BUILD)/host/vesko-calc 'Vesko_Version("long")' \
	  "Vesko_RunFile(\"$(CURDIR)/examples/report.lua\")"

test: test-plain test-sanitize test-valgrind test-tsan fuzz-smoke

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVESKO_SANITIZE=ON -DVESKO_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j$(JOBS)

# The interpreter library is not instrumented; memcheck sees inside it.
test-valgrind: build
	valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
	  $(BUILD)/tests/plugin/plugin_tests

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESKO_TSAN=ON -DVESKO_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target plugin_tests
	$(TSAN_BUILD)/tests/plugin/plugin_tests --gtest_filter='ThreadsTest.*'

fuzz-smoke: deps
	bash fuzz/smoke.sh

bench: build
	bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) build-fuzz
