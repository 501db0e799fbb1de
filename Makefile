# The two commands a new user runs (see README.md):
#   make run    install what is missing, build, evaluate a sample calculation
#   make test   install what is missing, build, run every test, then again
#               under AddressSanitizer and UndefinedBehaviorSanitizer, the
#               plug-in tests under valgrind, the thread tests under
#               ThreadSanitizer, everything again built with Clang; install
#               into a scratch prefix and as a Debian package, and a short
#               fuzzing smoke run
# and the ones after:
#   make install [PREFIX=/usr/local]   make uninstall   make package
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
CLANG_BUILD ?= build-clang
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
# Warnings are errors in the tests (and so in CI), not in a user's build.
WERROR ?= OFF
test test-plain test-sanitize test-valgrind test-tsan test-clang test-install test-package: \
  WERROR = ON

.PHONY: all deps build run test test-plain test-sanitize test-valgrind test-tsan test-clang \
        test-install test-package fuzz-smoke bench install uninstall package clean

all: build

deps:
	bash tools/install-dependencies.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESKO_WERROR=$(WERROR)
	cmake --build $(BUILD) -j$(JOBS)

# A report over the sample database: Lua, SQL and a host calculation.
run: build
	$(BUILD)/host/vesko-calc 'Vesko_Version("long")' \
	  "Vesko_RunFile(\"$(CURDIR)/examples/report.lua\")"

test: test-plain test-sanitize test-valgrind test-tsan test-clang test-install test-package \
      fuzz-smoke

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVESKO_SANITIZE=ON -DVESKO_BENCH=OFF \
	  -DVESKO_WERROR=$(WERROR)
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j$(JOBS)

# The interpreter library is not instrumented; memcheck sees inside it.
PLUGIN_TESTS = engine/engine_tests functions/functions_tests library/library_tests \
               scripts/scripts_tests plugin/plugin_tests end_to_end/end_to_end_tests
test-valgrind: build
	set -e; for tests in $(PLUGIN_TESTS); do \
	  VESKO_SOAK_CALLS=500 valgrind --quiet --error-exitcode=1 --leak-check=full \
	    --errors-for-leak-kinds=definite $(BUILD)/tests/$$tests; \
	done

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESKO_TSAN=ON -DVESKO_BENCH=OFF \
	  -DVESKO_WERROR=$(WERROR)
	cmake --build $(TSAN_BUILD) -j$(JOBS) --target end_to_end_tests
	$(TSAN_BUILD)/tests/end_to_end/end_to_end_tests --gtest_filter='ThreadsTest.*'

# The other compiler, at full optimisation.
test-clang: deps
	cmake -S . -B $(CLANG_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=Release -DVESKO_BENCH=OFF -DVESKO_WERROR=$(WERROR)
	cmake --build $(CLANG_BUILD) -j$(JOBS)
	ctest --test-dir $(CLANG_BUILD) --output-on-failure -j$(JOBS)

test-install: build
	bash tools/check-install.sh $(BUILD)

test-package: build
	bash tools/check-package.sh $(BUILD)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	bash tools/uninstall.sh $(BUILD)

package: build
	cd $(BUILD) && cpack -G DEB

fuzz-smoke: deps
	bash fuzz/smoke.sh

bench: build
	bash bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(CLANG_BUILD) build-fuzz
